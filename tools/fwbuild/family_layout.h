// What the firmware builder must know of each device family: how image bytes
// map to device addresses and frames (for the frame key), how much memory the
// family has (to refuse data that could never be written), and where an image
// keeps its identity bytes.
#pragma once

#include <cstdint>

namespace kestovane::fwbuild {

struct ColumnLayout {
  uint8_t column;
  const char* family;
  uint8_t addressUnit;   // image bytes per device address
  uint16_t blockSize;    // image bytes per block frame
  uint32_t flashTop;     // device addresses
  uint16_t idOffset;     // image byte of the print code; preparation code follows
  uint16_t eepromSize;   // data EEPROM bytes, 0 when the family has none
};

// PIC18 toolchains place the data EEPROM at this HEX address.
constexpr uint32_t kPic18EepromHexBase = 0xF00000;

inline constexpr ColumnLayout kColumnLayouts[] = {
    {.column = 0, .family = "PIC18F258", .addressUnit = 1, .blockSize = 64, .flashTop = 0x8000, .idOffset = 14, .eepromSize = 256},
    {.column = 1, .family = "PIC18F2580", .addressUnit = 1, .blockSize = 64, .flashTop = 0x8000, .idOffset = 14, .eepromSize = 256},
    {.column = 2, .family = "PIC18F2480", .addressUnit = 1, .blockSize = 64, .flashTop = 0x4000, .idOffset = 14, .eepromSize = 256},
    {.column = 3, .family = "PIC18F248", .addressUnit = 1, .blockSize = 64, .flashTop = 0x4000, .idOffset = 14, .eepromSize = 256},
    {.column = 4, .family = "PIC18F2320", .addressUnit = 1, .blockSize = 64, .flashTop = 0x2000, .idOffset = 14, .eepromSize = 256},
    {.column = 5, .family = "PIC18F24J10", .addressUnit = 1, .blockSize = 64, .flashTop = 0x4000, .idOffset = 14, .eepromSize = 0},
    {.column = 6, .family = "PIC24HJ64/dsPIC33FJ64", .addressUnit = 2, .blockSize = 256, .flashTop = 0xA800, .idOffset = 1024, .eepromSize = 0},
    {.column = 7, .family = "PIC24HJ128/dsPIC33FJ128", .addressUnit = 2, .blockSize = 256, .flashTop = 0x15400, .idOffset = 1024, .eepromSize = 0},
    {.column = 8, .family = "PIC18F25K80", .addressUnit = 1, .blockSize = 64, .flashTop = 0x8000, .idOffset = 14, .eepromSize = 1024},
    {.column = 9, .family = "PIC18F26K80", .addressUnit = 1, .blockSize = 64, .flashTop = 0x10000, .idOffset = 14, .eepromSize = 1024},
};

// The layout of a catalogue column, or nullptr for the columns no device
// code selects (10 to 46).
constexpr const ColumnLayout* LayoutOfColumn(int column) {
  for (const ColumnLayout& l : kColumnLayouts)
    if (l.column == column) return &l;
  return nullptr;
}

}  // namespace kestovane::fwbuild
