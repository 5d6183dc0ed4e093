// What a device code and a bootloader version mean for programming: how image
// bytes map to device addresses, how many travel in one frame, where the
// application must end, and the jump that hands start-up to the bootloader.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

namespace kestovane {

enum class DeviceGroup { Pic18, Pic24 };

struct FamilyGeometry {
  const char* familyText = "";
  DeviceGroup group = DeviceGroup::Pic18;
  bool k80 = false;            // PIC18 K80 subgroup: padded last block, trimmed Fix tail
  uint32_t addressUnit = 1;    // image bytes per device address unit
  uint32_t blockSize = 64;     // image bytes in a full block frame and in the Fix frame
  uint32_t flashTop = 0;       // top of the region managed for this family
  uint32_t reserve = 0;        // address units below flashTop that belong to the bootloader
  uint32_t codeLimit = 0;      // flashTop - reserve: the Fix frame's address
  std::array<uint8_t, 8> resetPatch{};
  uint32_t resetPatchSize = 0; // 4 (PIC18) or 8 (PIC24)
  uint32_t idOffset = 14;      // image offset of the print code; preparation code follows
  uint32_t catalogueSlot = 0;  // the catalogue column of the device code

  // Frames carry a one-byte length for blocks up to 255 bytes, two bytes
  // (high first) above that.
  uint32_t LengthFieldSize() const { return blockSize > 255 ? 2 : 1; }
};

// The bootloader version from which the larger PIC18 reserve, the version-5
// patches and the programming-mode entry byte apply.
inline constexpr uint8_t kEntryByteVersion = 5;

// The geometry of a device code at a bootloader version, or nothing for a
// code the program does not know.
std::optional<FamilyGeometry> GeometryFor(uint8_t deviceCode, uint8_t bootloaderVersion);

// A PIC18 GOTO to a byte address, in image byte order.
std::array<uint8_t, 4> Pic18Goto(uint32_t targetByteAddress);
// A PIC24 GOTO to a program address, in the image's four-bytes-per-word form.
std::array<uint8_t, 8> Pic24Goto(uint32_t target);

}  // namespace kestovane
