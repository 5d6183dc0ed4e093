// The image catalogue: the build's firmware set arranged by board print code
// (rows) and device family (catalogue columns), the choice of the image for an
// attached device, the batch markers, the frame key and the name tables.
//
// Everything here is process-wide and lives in static storage; it is used only
// from the GUI thread, so nothing is locked.
#pragma once

#include <cstdint>

namespace kestovane {

// One cell of the catalogue. A slot does not own its bytes: the pointers refer
// to the build's firmware arrays, which stay writable because every run writes
// its reset-vector patch (and, for the K80 parts, a trimmed Fix tail) in place.
struct ImageSlot {
  uint8_t* fixTail = nullptr;
  int32_t fixTailSize = 0;
  uint8_t* image = nullptr;
  int32_t imageSize = 0;  // carries an image only when greater than 1
  uint8_t* eeprom = nullptr;
  int32_t eepromSize = 0;  // 0: no EEPROM step
  int8_t plain = 0;        // non-zero: stored in clear; 0: stored keyed by frame
  uint8_t printCode = 0;   // used only by a plain slot
  uint8_t preparationCode = 0;
  uint8_t pendingMarker = 0;  // generic row only: 255 not in the batch, 1 pending, 0 done
  uint8_t specialMarker = 0;  // generic row only: 0 nothing, 1 pause, 2 special-mode commands
};

// Rows are print codes 0 to 254 (row 0 is the generic row, the fall-back of
// every print code); columns are catalogue columns 0 to 46, of which only 0
// to 9 are ever selected.
constexpr int kPrintCodeRows = 255;
constexpr int kCatalogueColumns = 47;
constexpr int kGenericRow = 0;
// The columns that a device code can map to, and so the ones a batch visits.
constexpr int kSelectableColumns = 10;

extern ImageSlot ImageCatalogue[kPrintCodeRows][kCatalogueColumns];

// The copy of the chosen slot that a programming run works from.
struct SelectedImageCopy {
  uint8_t* image = nullptr;
  int32_t imageSize = 0;
  uint8_t* eeprom = nullptr;
  int32_t eepromSize = 0;
  uint8_t* fixTail = nullptr;
  int32_t fixTailSize = 0;
  int32_t plain = 0;  // the slot's byte widened with its sign
  uint8_t printCode = 0;
  uint8_t preparationCode = 0;
};
extern SelectedImageCopy SelectedImage;

// Families still pending in the current batch.
extern int8_t remainingCount;

// Build switch for the frame key; the second argument of every FrameKey call.
inline constexpr uint8_t scrambleSwitch = 1;

// Empties the table, binds this build's slots and counts the batch.
int8_t FillCatalogue();
// Resets the ten generic-row markers and remainingCount; returns the count.
int8_t CountBatchImages();
// The catalogue column of a device code (unlisted codes give 0).
uint8_t CatalogueColumnOf(uint8_t deviceCode);
// Fills SelectedImage from the board's slot, or from the generic row of the
// same column when the board's slot carries no image; returns the column.
uint8_t SelectImage(uint8_t deviceCode, uint8_t printCode);
uint8_t PendingMarkerOf(uint8_t column);
uint8_t SpecialMarkerOf(uint8_t column);
void MarkSlotDone(uint8_t column);

// The one-byte key of the frame whose device address has the low byte `base`;
// 0 when `on` is 0.
uint8_t FrameKey(uint8_t base, uint8_t on);

// Name tables indexed by print code (BoardNames, ConnectorNames) and by a
// preparation code AND 0x6f (InterfaceNames), each with its stored count.
extern const char* const BoardNames[];
extern const int BoardNamesCount;
extern const char* const ConnectorNames[];
extern const char* const InterfaceNames[];
extern const int InterfaceNamesCount;

// The board designation of a print code; codes outside 1 to 32 give entry 2.
const char* PrintName(int32_t printCode);

}  // namespace kestovane
