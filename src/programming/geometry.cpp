#include "programming/geometry.h"

#include <algorithm>

namespace kestovane {

namespace {

// One row per device code. The PIC18 rows carry both reserves; the version
// picks one. Patches are derived from their targets by the GOTO encoders so
// that the table states where each family jumps, not opaque bytes.
struct FamilyRow {
  uint8_t code;
  const char* familyText;
  DeviceGroup group;
  bool k80;
  uint32_t flashTop;
  uint32_t reserveNew;     // bootloader version 5 and above
  uint32_t reserveOld;     // below 5
  uint32_t patchTargetNew; // byte address (PIC18) or program address (PIC24)
  uint32_t patchTargetOld;
  uint32_t catalogueSlot;
};

constexpr FamilyRow kFamilies[] = {
    {.code = 66, .familyText = "Found 258", .group = DeviceGroup::Pic18, .k80 = false, .flashTop = 0x8000,
     .reserveNew = 448, .reserveOld = 320, .patchTargetNew = 0x7E80, .patchTargetOld = 0x7F00, .catalogueSlot = 0},
    {.code = 67, .familyText = "Found 2580", .group = DeviceGroup::Pic18, .k80 = false, .flashTop = 0x8000,
     .reserveNew = 448, .reserveOld = 320, .patchTargetNew = 0x7E80, .patchTargetOld = 0x7F00, .catalogueSlot = 1},
    {.code = 68, .familyText = "Found 2480", .group = DeviceGroup::Pic18, .k80 = false, .flashTop = 0x4000,
     .reserveNew = 448, .reserveOld = 320, .patchTargetNew = 0x3E80, .patchTargetOld = 0x3F00, .catalogueSlot = 2},
    {.code = 69, .familyText = "Found 248", .group = DeviceGroup::Pic18, .k80 = false, .flashTop = 0x4000,
     .reserveNew = 448, .reserveOld = 320, .patchTargetNew = 0x3E80, .patchTargetOld = 0x3F00, .catalogueSlot = 3},
    // Code 70 jumps to 0x1F00 at every version, past its Fix block at 0x1E40.
    {.code = 70, .familyText = "Found 2320", .group = DeviceGroup::Pic18, .k80 = false, .flashTop = 0x2000,
     .reserveNew = 448, .reserveOld = 320, .patchTargetNew = 0x1F00, .patchTargetOld = 0x1F00, .catalogueSlot = 4},
    // The K80 parts have no patch of their own below version 5; they get the
    // jump every other PIC18 row makes, to the address after the Fix block.
    {.code = 71, .familyText = "Found 18F25k80", .group = DeviceGroup::Pic18, .k80 = true, .flashTop = 0x8000,
     .reserveNew = 448, .reserveOld = 320, .patchTargetNew = 0x7E80, .patchTargetOld = 0x7F00, .catalogueSlot = 8},
    {.code = 72, .familyText = "Found 18F26k80", .group = DeviceGroup::Pic18, .k80 = true, .flashTop = 0x10000,
     .reserveNew = 448, .reserveOld = 320, .patchTargetNew = 0xFE80, .patchTargetOld = 0xFF00, .catalogueSlot = 9},
    {.code = 199, .familyText = "Found 24j10", .group = DeviceGroup::Pic18, .k80 = false, .flashTop = 0x4000,
     .reserveNew = 1088, .reserveOld = 1088, .patchTargetNew = 0x3C00, .patchTargetOld = 0x3C00, .catalogueSlot = 5},
    {.code = 252, .familyText = "Found 33FJ64", .group = DeviceGroup::Pic24, .k80 = false, .flashTop = 0xA800,
     .reserveNew = 128, .reserveOld = 128, .patchTargetNew = 0xA800, .patchTargetOld = 0xA800, .catalogueSlot = 6},
    {.code = 254, .familyText = "Found 24HJ64", .group = DeviceGroup::Pic24, .k80 = false, .flashTop = 0xA800,
     .reserveNew = 128, .reserveOld = 128, .patchTargetNew = 0xA800, .patchTargetOld = 0xA800, .catalogueSlot = 6},
    {.code = 253, .familyText = "Found 33FJ128 - 24HJ128", .group = DeviceGroup::Pic24, .k80 = false,
     .flashTop = 0x15400, .reserveNew = 128, .reserveOld = 128, .patchTargetNew = 0x15400,
     .patchTargetOld = 0x15400, .catalogueSlot = 7},
};

}  // namespace

std::array<uint8_t, 4> Pic18Goto(uint32_t targetByteAddress) {
  const uint32_t word = targetByteAddress / 2;
  return {static_cast<uint8_t>(word & 0xFF), 0xEF, static_cast<uint8_t>((word >> 8) & 0xFF),
          static_cast<uint8_t>(0xF0 | ((word >> 16) & 0x0F))};
}

std::array<uint8_t, 8> Pic24Goto(uint32_t target) {
  return {static_cast<uint8_t>(target & 0xFF), static_cast<uint8_t>((target >> 8) & 0xFF), 0x04, 0x00,
          static_cast<uint8_t>((target >> 16) & 0x7F), 0x00, 0x00, 0x00};
}

std::optional<FamilyGeometry> GeometryFor(uint8_t deviceCode, uint8_t bootloaderVersion) {
  const auto* row = std::find_if(std::begin(kFamilies), std::end(kFamilies),
                                 [deviceCode](const FamilyRow& r) { return r.code == deviceCode; });
  if (row == std::end(kFamilies)) return std::nullopt;

  const bool newer = bootloaderVersion >= kEntryByteVersion;
  FamilyGeometry g;
  g.familyText = row->familyText;
  g.group = row->group;
  g.k80 = row->k80;
  g.flashTop = row->flashTop;
  g.reserve = newer ? row->reserveNew : row->reserveOld;
  g.codeLimit = g.flashTop - g.reserve;
  g.catalogueSlot = row->catalogueSlot;
  const uint32_t target = newer ? row->patchTargetNew : row->patchTargetOld;
  if (g.group == DeviceGroup::Pic18) {
    g.addressUnit = 1;
    g.blockSize = 64;
    g.idOffset = 14;
    const auto patch = Pic18Goto(target);
    std::copy(patch.begin(), patch.end(), g.resetPatch.begin());
    g.resetPatchSize = 4;
  } else {
    g.addressUnit = 2;
    g.blockSize = 256;
    g.idOffset = 1024;
    g.resetPatch = Pic24Goto(target);
    g.resetPatchSize = 8;
  }
  return g;
}

}  // namespace kestovane
