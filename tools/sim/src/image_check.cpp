#include "sim/image_check.h"

#include <algorithm>
#include <cstdio>
#include <optional>

#include "fwbuild/builder.h"
#include "fwbuild/intel_hex.h"

namespace kestovane::sim {
namespace {

// The patches the updater writes, byte for byte, per device code. Kept as the
// bytes themselves rather than derived from targets, so that the check does
// not share an encoder with the program it checks.
struct ResetPatchRow {
  std::uint8_t deviceCode;
  std::uint8_t size;
  std::array<std::uint8_t, 8> from5;    // bootloader version 5 and above
  std::array<std::uint8_t, 8> before5;  // older bootloaders
};

constexpr ResetPatchRow kResetPatches[] = {
    {.deviceCode = 66, .size = 4, .from5 = {0x40, 0xEF, 0x3F, 0xF0}, .before5 = {0x80, 0xEF, 0x3F, 0xF0}},
    {.deviceCode = 67, .size = 4, .from5 = {0x40, 0xEF, 0x3F, 0xF0}, .before5 = {0x80, 0xEF, 0x3F, 0xF0}},
    {.deviceCode = 68, .size = 4, .from5 = {0x40, 0xEF, 0x1F, 0xF0}, .before5 = {0x80, 0xEF, 0x1F, 0xF0}},
    {.deviceCode = 69, .size = 4, .from5 = {0x40, 0xEF, 0x1F, 0xF0}, .before5 = {0x80, 0xEF, 0x1F, 0xF0}},
    // Code 70 jumps to 0x1F00 whatever the version, past its Fix block.
    {.deviceCode = 70, .size = 4, .from5 = {0x80, 0xEF, 0x0F, 0xF0}, .before5 = {0x80, 0xEF, 0x0F, 0xF0}},
    // The K80 parts below version 5 get the jump past their Fix block, as
    // every other PIC18 row has it (0x7F00 and 0xFF00).
    {.deviceCode = 71, .size = 4, .from5 = {0x40, 0xEF, 0x3F, 0xF0}, .before5 = {0x80, 0xEF, 0x3F, 0xF0}},
    {.deviceCode = 72, .size = 4, .from5 = {0x40, 0xEF, 0x7F, 0xF0}, .before5 = {0x80, 0xEF, 0x7F, 0xF0}},
    {.deviceCode = 199, .size = 4, .from5 = {0x00, 0xEF, 0x1E, 0xF0}, .before5 = {0x00, 0xEF, 0x1E, 0xF0}},
    {.deviceCode = 252, .size = 8, .from5 = {0x00, 0xA8, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00},
     .before5 = {0x00, 0xA8, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00}},
    {.deviceCode = 253, .size = 8, .from5 = {0x00, 0x54, 0x04, 0x00, 0x01, 0x00, 0x00, 0x00},
     .before5 = {0x00, 0x54, 0x04, 0x00, 0x01, 0x00, 0x00, 0x00}},
    {.deviceCode = 254, .size = 8, .from5 = {0x00, 0xA8, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00},
     .before5 = {0x00, 0xA8, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00}},
};

constexpr std::uint8_t kNewerBootloaderVersion = 5;

// The K80 parts keep only the GOTO of the start vector in the Fix block; the
// updater zeroes the rest of their Fix tail.
constexpr std::size_t kK80FixTailKept = 4;

bool IsK80(std::uint8_t deviceCode) { return deviceCode == 71 || deviceCode == 72; }

std::string Hex(std::uint32_t value, int digits) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%0*X", digits, value);
  return buf;
}

std::string Bytes(const std::uint8_t* bytes, std::size_t n) {
  std::string out;
  char buf[4];
  for (std::size_t i = 0; i < n; ++i) {
    std::snprintf(buf, sizeof buf, "%s%02X", i ? " " : "", bytes[i]);
    out += buf;
  }
  return out;
}

ImageCheck Fails(std::string reason, std::size_t checked) {
  return ImageCheck{.holds = false, .reason = std::move(reason), .checkedBytes = checked};
}

// The first of the differing bytes in [from, to) with their count, so a
// reader sees both where it starts and how much is wrong.
std::optional<std::string> CompareRange(const std::vector<std::uint8_t>& device, const std::vector<std::uint8_t>& image,
                                        std::size_t from, std::size_t to, const FamilyLayout* layout,
                                        const char* what) {
  std::size_t first = to, count = 0;
  for (std::size_t i = from; i < to; ++i) {
    if (device[i] == image[i]) continue;
    if (count++ == 0) first = i;
  }
  if (count == 0) return std::nullopt;
  std::string reason = std::string(what) + " " + Hex(static_cast<std::uint32_t>(first), 5);
  if (layout && layout->family->addressUnit != 1)
    reason += " (device address " + Hex(static_cast<std::uint32_t>(first / layout->family->addressUnit), 5) + ")";
  reason += ": expected " + Hex(image[first], 2) + ", found " + Hex(device[first], 2) + "; " +
            std::to_string(count) + " of " + std::to_string(to - from) + " bytes differ";
  return reason;
}

}  // namespace

ResetPatch ResetPatchFor(const FamilyLayout& layout) {
  for (const ResetPatchRow& row : kResetPatches) {
    if (row.deviceCode != layout.family->deviceCode) continue;
    ResetPatch patch;
    patch.bytes = layout.bootloaderVersion >= kNewerBootloaderVersion ? row.from5 : row.before5;
    patch.size = row.size;
    return patch;
  }
  return {};
}

std::uint32_t JumpTargetOf(const ResetPatch& patch) {
  const auto& b = patch.bytes;
  if (patch.size == 4) {
    // PIC18 GOTO: the word address's low byte, then its bits 19..8 under 0xF000.
    const std::uint32_t word = b[0] | b[2] << 8 | (b[3] & 0x0Fu) << 16;
    return word * 2;
  }
  // PIC24 GOTO: bits 15..0 before the opcode byte, bits 22..16 in the second word.
  return b[0] | b[1] << 8 | (b[4] & 0x7Fu) << 16;
}

ImageCheck CheckFlashHoldsImage(const std::vector<std::uint8_t>& flash, const FamilyLayout& layout,
                                const std::vector<std::uint8_t>& image, std::size_t fixTailSize) {
  const FamilyMemory& family = *layout.family;
  const std::size_t unit = family.addressUnit;
  const std::size_t fixStart = static_cast<std::size_t>(layout.codeLimit) * unit;  // image offset of the Fix block
  const std::size_t fixEnd = fixStart + family.blockSize;

  // The updater sends nothing for an image of one byte or none.
  if (image.size() <= 1) return Fails("the image is empty", 0);
  // Sizes the updater refuses, or that do not fit this device, cannot be held.
  if (unit != 1 && image.size() > fixStart)
    return Fails("the image (" + std::to_string(image.size()) + " bytes) is larger than the " +
                     std::to_string(fixStart) + " bytes below the Fix block; the updater refuses it",
                 0);
  const std::size_t programmed = unit == 1 ? std::min(image.size(), fixStart) : image.size();
  if (flash.size() < fixEnd)
    return Fails("the device's flash (" + std::to_string(flash.size()) + " bytes) ends before the Fix block",
                 programmed);
  if (fixTailSize > family.blockSize || fixTailSize > image.size())
    return Fails("a Fix tail of " + std::to_string(fixTailSize) + " bytes does not fit the block or the image",
                 programmed);

  // The reset vector: the patch replaces the image's first bytes.
  const ResetPatch patch = ResetPatchFor(layout);
  if (patch.size == 0) return Fails("no reset-vector patch is known for this device", programmed);
  const std::size_t patched = std::min(patch.size, programmed);
  if (!std::equal(patch.bytes.begin(), patch.bytes.begin() + static_cast<long>(patched), flash.begin()))
    return Fails("reset vector not patched: image bytes 0.." + std::to_string(patched - 1) + " expected " +
                     Bytes(patch.bytes.data(), patched) + " (a jump to " + Hex(JumpTargetOf(patch), 4) +
                     "), found " + Bytes(flash.data(), patched),
                 programmed);

  // The application itself, from past the patch up to the programmed length.
  if (auto differs = CompareRange(flash, image, patched, programmed, &layout, "image byte"))
    return Fails(*differs, programmed);

  // The application's own start vector at the end of the Fix block.
  std::vector<std::uint8_t> tail(image.begin(), image.begin() + static_cast<long>(fixTailSize));
  if (IsK80(family.deviceCode))
    std::fill(tail.begin() + static_cast<long>(std::min(kK80FixTailKept, tail.size())), tail.end(), 0);
  const std::uint8_t* found = flash.data() + fixEnd - fixTailSize;
  if (!std::equal(tail.begin(), tail.end(), found))
    return Fails("Fix block at device address " + Hex(layout.codeLimit, 4) + ": its last " +
                     std::to_string(fixTailSize) + " bytes expected " + Bytes(tail.data(), tail.size()) +
                     ", found " + Bytes(found, fixTailSize),
                 programmed);
  return ImageCheck{.holds = true, .reason = {}, .checkedBytes = programmed};
}

ImageCheck CheckEepromHoldsImage(const std::vector<std::uint8_t>& eeprom, const std::vector<std::uint8_t>& expected) {
  if (expected.size() > eeprom.size())
    return Fails("the image's EEPROM data (" + std::to_string(expected.size()) + " bytes) is larger than the device's " +
                     std::to_string(eeprom.size()) + "-byte EEPROM",
                 expected.size());
  if (auto differs = CompareRange(eeprom, expected, 0, expected.size(), nullptr, "EEPROM byte"))
    return Fails(*differs, expected.size());
  return ImageCheck{.holds = true, .reason = {}, .checkedBytes = expected.size()};
}

ImageCheck CheckDeviceHoldsImage(const std::vector<std::uint8_t>& flash, const std::vector<std::uint8_t>& eeprom,
                                 const FamilyLayout& layout, const ExpectedImage& image, std::size_t fixTailSize) {
  ImageCheck flashCheck = CheckFlashHoldsImage(flash, layout, image.program, fixTailSize);
  if (!flashCheck.holds || image.eeprom.empty()) return flashCheck;
  const ImageCheck eepromCheck = CheckEepromHoldsImage(eeprom, image.eeprom);
  if (!eepromCheck.holds) return Fails(eepromCheck.reason, flashCheck.checkedBytes);
  return flashCheck;
}

ExpectedImage ReadExpectedImage(const std::vector<std::filesystem::path>& hexFiles, const FamilyMemory& family) {
  // The firmware builder's own reader and layout, so that the image checked
  // is byte for byte the one the build gives the updater.
  const fwbuild::ColumnLayout layout{.column = 0,
                                     .family = family.part,
                                     .addressUnit = family.addressUnit,
                                     .blockSize = family.blockSize,
                                     .flashTop = family.flashTop,
                                     .idOffset = 0,
                                     .eepromSize = family.eepromSize};
  try {
    fwbuild::HexMemory memory;
    for (const auto& path : hexFiles) memory.AddHexFile(path);
    fwbuild::ClearFirmware firmware = fwbuild::LayOut(memory, layout);
    if (firmware.program.empty()) {
      std::string names;
      for (const auto& path : hexFiles) names += (names.empty() ? "" : ", ") + path.string();
      throw ExpectedImageError(names + ": no program memory data");
    }
    return ExpectedImage{.program = std::move(firmware.program), .eeprom = std::move(firmware.eeprom)};
  } catch (const fwbuild::FirmwareError& e) {
    throw ExpectedImageError(e.what());
  }
}

}  // namespace kestovane::sim
