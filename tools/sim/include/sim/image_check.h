// Whether a simulated device ends up holding an application image the way the
// updater should have written it, for scripts that run the updater against
// the simulator and need a verdict.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "sim/family.h"

namespace kestovane::sim {

// Bytes of the Fix tail in this build's firmware set.
inline constexpr std::size_t kDefaultFixTailSize = 8;

// The jump the updater writes over the first bytes of the image so that a
// reset enters the bootloader. Bytes in image order, as the device holds them.
struct ResetPatch {
  std::array<std::uint8_t, 8> bytes{};
  std::size_t size = 0;  // 4 for the PIC18 parts, 8 for the PIC24 parts
};

// Empty (size 0) for a layout whose family has no patch.
ResetPatch ResetPatchFor(const FamilyLayout& layout);

// Where a patch jumps: a byte address for the PIC18 parts, a program address
// for the PIC24 parts; for messages and for checking the table.
std::uint32_t JumpTargetOf(const ResetPatch& patch);

// The image as the device should hold it, in clear, in image byte order.
struct ExpectedImage {
  std::vector<std::uint8_t> program;
  std::vector<std::uint8_t> eeprom;  // empty when the HEX carries no EEPROM data
};

struct ImageCheck {
  bool holds = false;
  std::string reason;        // what differs first, when it does not hold
  std::size_t checkedBytes = 0;  // image bytes the updater programs (the programmed length)
};

// Flash as the simulator keeps it (image byte order: device address a begins
// at byte a * addressUnit, PIC24 phantom bytes included) against the clear
// image: the image bytes past the reset-vector patch up to the programmed
// length, the patch itself, and the application's start vector (the first
// `fixTailSize` image bytes) at the end of the Fix block.
ImageCheck CheckFlashHoldsImage(const std::vector<std::uint8_t>& flash, const FamilyLayout& layout,
                                const std::vector<std::uint8_t>& image,
                                std::size_t fixTailSize = kDefaultFixTailSize);

// The device's EEPROM against the EEPROM bytes of the image, from address 0.
ImageCheck CheckEepromHoldsImage(const std::vector<std::uint8_t>& eeprom, const std::vector<std::uint8_t>& expected);

// Both memories; the EEPROM only when the image carries EEPROM data.
ImageCheck CheckDeviceHoldsImage(const std::vector<std::uint8_t>& flash, const std::vector<std::uint8_t>& eeprom,
                                 const FamilyLayout& layout, const ExpectedImage& image,
                                 std::size_t fixTailSize = kDefaultFixTailSize);

// A HEX file that cannot give an image; the message names the file and line.
class ExpectedImageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Reads the Intel HEX files of one application (merged, as the firmware
// builder merges the files of one slot) the way the firmware builder lays
// them out for `family`: program bytes from HEX address 0 (byte addresses for
// the PIC18 parts; four bytes per instruction at twice the program address
// for the PIC24 parts) up to the last byte given, gaps erased; EEPROM data at
// HEX address 0xF00000 from EEPROM address 0. Throws ExpectedImageError.
ExpectedImage ReadExpectedImage(const std::vector<std::filesystem::path>& hexFiles, const FamilyMemory& family);

}  // namespace kestovane::sim
