// The Version window's list: one line per catalogue image that a family of
// this build can receive, with the board and preparation it was made for.
#include <cstdio>

#include "catalogue/catalogue.h"
#include "ui/version.h"

namespace kestovane {

namespace {

constexpr const char* kHeading = "Device - Print          - Preparation";
constexpr const char* kRule = "-------------------------------------";
constexpr const char* kUnknownInterface = "UNKNOWN";

// One group of the listing: a family, where its images keep their identity
// bytes, and the boards listed when the family has no generic image.
struct ListingGroup {
  const char* deviceText;
  uint8_t column;
  uint16_t idOffset;
  uint8_t boardRows[7];
  uint8_t boardRowCount;
};

// Columns 7 to 9 are not listed; row 32 of column 6 shares row 16's image.
constexpr ListingGroup kListingGroups[] = {
    {.deviceText = "24HJ64", .column = 6, .idOffset = 1024, .boardRows = {5, 6, 7, 8, 11, 16, 19}, .boardRowCount = 7},
    {.deviceText = "2580  ", .column = 1, .idOffset = 14, .boardRows = {2, 4, 5, 6}, .boardRowCount = 4},
    {.deviceText = "258   ", .column = 0, .idOffset = 14, .boardRows = {2, 4, 5, 6}, .boardRowCount = 4},
    {.deviceText = "2480  ", .column = 2, .idOffset = 14, .boardRows = {}, .boardRowCount = 0},
    {.deviceText = "248   ", .column = 3, .idOffset = 14, .boardRows = {}, .boardRowCount = 0},
    {.deviceText = "2320  ", .column = 4, .idOffset = 14, .boardRows = {}, .boardRowCount = 0},
    {.deviceText = "24J10 ", .column = 5, .idOffset = 14, .boardRows = {}, .boardRowCount = 0},
};

bool CarriesImage(const ImageSlot& slot) { return slot.imageSize > 1; }

}  // namespace

void TForm4::FormShow() {
  // Rebuilt at every showing, so the list never doubles and always shows the
  // catalogue as it stands.
  ListBox1->Items().Clear();
  ListCatalogue();
}

// Closing a dialog only hides it; the next showing lists again.
void TForm4::Button1Click() { Close(); }

void TForm4::ListCatalogue() {
  ListBox1->Items().Add(kHeading);
  ListBox1->Items().Add(kRule);

  int rowIndex = 0;
  auto listSlot = [&](const ListingGroup& group, const ImageSlot& slot) {
    if (!CarriesImage(slot)) return;
    // The identity bytes lie in the first frame of their address range, so a
    // keyed image gives them up with the key of address low byte 0. A plain
    // image holds them in clear.
    const uint8_t key = slot.plain ? 0 : FrameKey(0, scrambleSwitch);
    const uint8_t printCode = slot.image[group.idOffset] ^ key;
    const uint8_t preparationCode = slot.image[group.idOffset + 1] ^ key;
    FormatListingRow(rowIndex, group.deviceText, printCode, preparationCode);
    ++rowIndex;
  };

  for (const ListingGroup& group : kListingGroups) {
    // A family with a generic image serves every board with it: list that alone.
    const ImageSlot& generic = ImageCatalogue[kGenericRow][group.column];
    if (CarriesImage(generic)) {
      listSlot(group, generic);
      continue;
    }
    for (int i = 0; i < group.boardRowCount; ++i) listSlot(group, ImageCatalogue[group.boardRows[i]][group.column]);
  }
}

void TForm4::FormatListingRow(int rowIndex, const char* deviceText, uint8_t printCode, uint8_t preparationCode) {
  const char* board;
  const char* connector;
  const char* interfaceName = kUnknownInterface;
  const char* mark = " ";

  const int8_t signedPrint = static_cast<int8_t>(printCode);
  if (signedPrint >= 1 && signedPrint < BoardNamesCount) {
    board = BoardNames[signedPrint];
    connector = ConnectorNames[signedPrint];
    // Bit 7 marks a reserved preparation; bit 4 is not part of the interface.
    const int index = preparationCode & 0x6f;
    if (index > 0 && index < InterfaceNamesCount) interfaceName = InterfaceNames[index];
    if (preparationCode & 0x80) mark = "RES";
  } else if (rowIndex < 6) {
    // Unknown boards: the first lines name the common board, later ones none.
    board = BoardNames[2];
    connector = ConnectorNames[2];
  } else {
    board = BoardNames[0];
    connector = ConnectorNames[3];
  }

  char line[128];
  std::snprintf(line, sizeof line, "%s - %s[%s] - %s  %s[Code:%02x]", deviceText, board, connector, interfaceName,
                mark, preparationCode);
  ListBox1->Items().Add(line);
}

}  // namespace kestovane
