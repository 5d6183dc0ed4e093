// Memory geometry of the microcontrollers the simulated bootloader can play.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

namespace kestovane::sim {

// What the bootloader knows about the chip it runs on. Addresses are device
// address units (bytes on the PIC18 parts, 16-bit units on the PIC24 parts,
// where one 24-bit instruction is four image bytes and two address units).
struct FamilyMemory {
  std::uint8_t deviceCode;
  const char* part;
  std::uint8_t addressUnit;       // image bytes per device address unit
  std::uint16_t blockSize;        // image bytes in a full block frame
  std::uint32_t flashTop;         // top of the region the updater manages
  std::uint32_t flashEnd;         // end of the chip's flash (the bootloader may live above flashTop)
  std::uint16_t reserveFrom5;     // address units the bootloader keeps below flashTop, version >= 5
  std::uint16_t reserveBefore5;   // the same for older bootloaders
  std::uint16_t eepromSize;       // data EEPROM bytes; 0 when the chip has none
};

inline constexpr FamilyMemory kFamilies[] = {
    {.deviceCode = 66, .part = "PIC18F258", .addressUnit = 1, .blockSize = 64,
     .flashTop = 0x8000, .flashEnd = 0x8000, .reserveFrom5 = 448, .reserveBefore5 = 320, .eepromSize = 256},
    {.deviceCode = 67, .part = "PIC18F2580", .addressUnit = 1, .blockSize = 64,
     .flashTop = 0x8000, .flashEnd = 0x8000, .reserveFrom5 = 448, .reserveBefore5 = 320, .eepromSize = 256},
    {.deviceCode = 68, .part = "PIC18F2480", .addressUnit = 1, .blockSize = 64,
     .flashTop = 0x4000, .flashEnd = 0x4000, .reserveFrom5 = 448, .reserveBefore5 = 320, .eepromSize = 256},
    {.deviceCode = 69, .part = "PIC18F248", .addressUnit = 1, .blockSize = 64,
     .flashTop = 0x4000, .flashEnd = 0x4000, .reserveFrom5 = 448, .reserveBefore5 = 320, .eepromSize = 256},
    {.deviceCode = 70, .part = "PIC18F2320", .addressUnit = 1, .blockSize = 64,
     .flashTop = 0x2000, .flashEnd = 0x2000, .reserveFrom5 = 448, .reserveBefore5 = 320, .eepromSize = 256},
    {.deviceCode = 71, .part = "PIC18F25K80", .addressUnit = 1, .blockSize = 64,
     .flashTop = 0x8000, .flashEnd = 0x8000, .reserveFrom5 = 448, .reserveBefore5 = 320, .eepromSize = 1024},
    {.deviceCode = 72, .part = "PIC18F26K80", .addressUnit = 1, .blockSize = 64,
     .flashTop = 0x10000, .flashEnd = 0x10000, .reserveFrom5 = 448, .reserveBefore5 = 320, .eepromSize = 1024},
    {.deviceCode = 199, .part = "PIC18F24J10", .addressUnit = 1, .blockSize = 64,
     .flashTop = 0x4000, .flashEnd = 0x4000, .reserveFrom5 = 1088, .reserveBefore5 = 1088, .eepromSize = 0},
    {.deviceCode = 252, .part = "dsPIC33FJ64", .addressUnit = 2, .blockSize = 256,
     .flashTop = 0xA800, .flashEnd = 0xAC00, .reserveFrom5 = 128, .reserveBefore5 = 128, .eepromSize = 0},
    {.deviceCode = 253, .part = "dsPIC33FJ128/PIC24HJ128", .addressUnit = 2, .blockSize = 256,
     .flashTop = 0x15400, .flashEnd = 0x15800, .reserveFrom5 = 128, .reserveBefore5 = 128, .eepromSize = 0},
    {.deviceCode = 254, .part = "PIC24HJ64", .addressUnit = 2, .blockSize = 256,
     .flashTop = 0xA800, .flashEnd = 0xAC00, .reserveFrom5 = 128, .reserveBefore5 = 128, .eepromSize = 0},
};

// The layout one bootloader version gives a family: where application code
// ends, where the block of the application's start vector (the Fix block)
// lies, and which addresses are the bootloader's own.
struct FamilyLayout {
  const FamilyMemory* family;
  std::uint8_t bootloaderVersion; // picks the reserve and the reset-vector patch
  std::uint32_t codeLimit;        // first address of the Fix block
  std::uint32_t bootStart;        // first address the bootloader keeps for itself
  std::uint32_t blockUnits;       // address units covered by a full block frame
  std::uint32_t headerLength;     // 4 with a one-byte length field, 5 with two bytes

  std::uint32_t flashBytes() const { return family->flashEnd * family->addressUnit; }
};

const FamilyMemory* FindFamily(std::uint8_t deviceCode);
std::optional<FamilyLayout> LayoutFor(std::uint8_t deviceCode, std::uint8_t bootloaderVersion);

}  // namespace kestovane::sim
