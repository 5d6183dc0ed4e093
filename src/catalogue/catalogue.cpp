#include "catalogue/catalogue.h"

#include "catalogue/firmware_set.h"

namespace kestovane {

ImageSlot ImageCatalogue[kPrintCodeRows][kCatalogueColumns];
SelectedImageCopy SelectedImage;
int8_t remainingCount = 0;

namespace {

// Which families a batch treats specially when it meets them a second time:
// the PIC24 columns get the special-mode commands, the 26K80 a pause.
struct SpecialColumn {
  uint8_t column;
  uint8_t marker;
};
constexpr SpecialColumn kSpecialColumns[] = {
    {.column = 6, .marker = 2},
    {.column = 7, .marker = 2},
    {.column = 9, .marker = 1},
};

// A generic-row image counts for a batch only above this size; smaller ones
// are placeholders or stubs that no batch should spend a pass on.
constexpr int32_t kBatchImageFloor = 10;

struct ColumnOfCode {
  uint8_t deviceCode;
  uint8_t column;
};
constexpr ColumnOfCode kColumnOfCode[] = {
    {.deviceCode = 66, .column = 0},  {.deviceCode = 67, .column = 1},
    {.deviceCode = 68, .column = 2},  {.deviceCode = 69, .column = 3},
    {.deviceCode = 70, .column = 4},  {.deviceCode = 199, .column = 5},
    {.deviceCode = 252, .column = 6}, {.deviceCode = 254, .column = 6},
    {.deviceCode = 253, .column = 7}, {.deviceCode = 71, .column = 8},
    {.deviceCode = 72, .column = 9},
};

// Columns past the table name no family: they read as an empty slot that is
// in no batch, and marking them changes nothing.
ImageSlot& GenericSlot(uint8_t column) {
  static ImageSlot outside;
  if (column >= kCatalogueColumns) {
    outside = ImageSlot{.pendingMarker = 255};
    return outside;
  }
  return ImageCatalogue[kGenericRow][column];
}

bool CarriesImage(const ImageSlot& slot) { return slot.imageSize > 1; }

}  // namespace

int8_t FillCatalogue() {
  // Every slot starts out empty; only the size decides that.
  for (auto& row : ImageCatalogue)
    for (auto& slot : row) slot.imageSize = 0;

  // Bind the slots the manifest named; the markers are the batch's business.
  for (int i = 0; i < kFirmwareBindingCount; ++i) {
    const FirmwareBinding& b = kFirmwareBindings[i];
    ImageSlot& slot = ImageCatalogue[b.row][b.column];
    slot.fixTail = b.fixTail;
    slot.fixTailSize = b.fixTailSize;
    slot.image = b.image;
    slot.imageSize = b.imageSize;
    slot.eeprom = b.eeprom;
    slot.eepromSize = b.eepromSize;
    slot.plain = b.plain;
    slot.printCode = b.printCode;
    slot.preparationCode = b.preparationCode;
  }
  return CountBatchImages();
}

int8_t CountBatchImages() {
  remainingCount = 0;
  // A family takes part in the batch only when its generic slot holds a real image.
  for (uint8_t column = 0; column < kSelectableColumns; ++column) {
    ImageSlot& slot = GenericSlot(column);
    slot.pendingMarker = 255;
    if (slot.imageSize > kBatchImageFloor) {
      slot.pendingMarker = 1;
      ++remainingCount;
    }
  }
  for (const SpecialColumn& s : kSpecialColumns) GenericSlot(s.column).specialMarker = s.marker;
  return remainingCount;
}

uint8_t CatalogueColumnOf(uint8_t deviceCode) {
  for (const ColumnOfCode& c : kColumnOfCode)
    if (c.deviceCode == deviceCode) return c.column;
  return 0;
}

uint8_t SelectImage(uint8_t deviceCode, uint8_t printCode) {
  const uint8_t column = CatalogueColumnOf(deviceCode);
  // Print code 255 has no row of its own: it goes to the generic row like a
  // board whose slot is empty, instead of reading past the table.
  const ImageSlot* slot = &GenericSlot(column);
  if (printCode < kPrintCodeRows && CarriesImage(ImageCatalogue[printCode][column]))
    slot = &ImageCatalogue[printCode][column];

  SelectedImage = SelectedImageCopy{
      .image = slot->image,
      .imageSize = slot->imageSize,
      .eeprom = slot->eeprom,
      .eepromSize = slot->eepromSize,
      .fixTail = slot->fixTail,
      .fixTailSize = slot->fixTailSize,
      .plain = slot->plain,
      .printCode = slot->printCode,
      .preparationCode = slot->preparationCode,
  };
  return column;
}

uint8_t PendingMarkerOf(uint8_t column) { return GenericSlot(column).pendingMarker; }

uint8_t SpecialMarkerOf(uint8_t column) { return GenericSlot(column).specialMarker; }

void MarkSlotDone(uint8_t column) {
  ImageSlot& slot = GenericSlot(column);
  // Only a pending family lowers the count, so a second mark changes nothing.
  if (static_cast<int8_t>(slot.pendingMarker) > 0) --remainingCount;
  slot.pendingMarker = 0;
}

uint8_t FrameKey(uint8_t base, uint8_t on) {
  if (on == 0) return 0;
  return static_cast<uint8_t>(base + kFrameKeyConstant);
}

const char* const BoardNames[] = {
    "UNK",     "UNK",     "KTB_R02", "KTB_R03",   "KTB_R04",    "KTD_R01", "KTE_R01",
    "KTG_R01", "KTG_R02", "KTJ_R01", "KTK_R03",   "KTP_R02",    "WUP_R02", "KTV_R02",
    "ZEH_R03", "KTK_R04", "KTW_R0x", "KTY_R0x",   "HVA_R0x",    "KTZ_R0x", "ZEC_R0x",
    "48372_R0x", "WIF_R01", "597364_R01", "KAS_R0x", "ZNA_R0x", "27",   "28",
    "29",      "30",      "31",      "32",        "KTW_R04/384657",
};
const int BoardNamesCount = 33;
static_assert(sizeof(BoardNames) / sizeof(BoardNames[0]) == 33);

const char* const ConnectorNames[] = {
    "UNK",   "UNK",   "14PIN", "16PIN", "16PIN", "16PIN", "16PIN", "16PIN", "16PIN",
    "16PIN", "16PIN", "16PIN", "16PIN", "16PIN", "DB9",   "16PIN", "16PIN", "16PIN",
    "16PIN", "16PIN", "RJ45",  "6PIN",  "16PIN", "16PIN", "16PIN", "14PIN", "16PIN",
    "16PIN", "16PIN", "16PIN", "16PIN", "16PIN", "16PIN",
};
static_assert(sizeof(ConnectorNames) / sizeof(ConnectorNames[0]) == 33);

const char* const InterfaceNames[] = {
    "UNK", "CAN+SPI", "", "RES", "CAN", "SRV", "2RES", "CDC", "TQV/CDC", "RUM/NOK.", "ETH0",
};
const int InterfaceNamesCount = 11;
static_assert(sizeof(InterfaceNames) / sizeof(InterfaceNames[0]) == 11);

const char* PrintName(int32_t printCode) {
  if (printCode > 0 && printCode < BoardNamesCount) return BoardNames[printCode];
  return BoardNames[2];
}

}  // namespace kestovane
