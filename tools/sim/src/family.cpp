#include "sim/family.h"

namespace kestovane::sim {

const FamilyMemory* FindFamily(std::uint8_t deviceCode) {
  for (const auto& family : kFamilies) {
    if (family.deviceCode == deviceCode) return &family;
  }
  return nullptr;
}

std::optional<FamilyLayout> LayoutFor(std::uint8_t deviceCode, std::uint8_t bootloaderVersion) {
  const FamilyMemory* family = FindFamily(deviceCode);
  if (family == nullptr) return std::nullopt;
  FamilyLayout layout{};
  layout.family = family;
  layout.bootloaderVersion = bootloaderVersion;
  // Newer bootloaders are larger and keep more of the flash top.
  const std::uint32_t reserve = bootloaderVersion >= 5 ? family->reserveFrom5 : family->reserveBefore5;
  layout.codeLimit = family->flashTop - reserve;
  layout.blockUnits = family->blockSize / family->addressUnit;
  // The block at codeLimit holds the application's start vector; everything
  // above it up to the end of the flash is the bootloader's.
  layout.bootStart = layout.codeLimit + layout.blockUnits;
  layout.headerLength = family->blockSize > 255 ? 5 : 4;
  return layout;
}

}  // namespace kestovane::sim
