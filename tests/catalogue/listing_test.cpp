// The Version window's list of the catalogue's images.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "catalogue/catalogue.h"
#include "ui/version.h"

namespace kestovane {
namespace {

constexpr const char* kHeading = "Device - Print          - Preparation";
constexpr const char* kRule = "-------------------------------------";

class ListingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FillCatalogue();
    form = std::make_unique<TForm4>();
    form->Hide();
  }
  void TearDown() override { FillCatalogue(); }

  std::vector<std::string> Shown() {
    form->Show();  // runs FormShow
    return form->ListBox1->Items().Items();
  }

  std::unique_ptr<TForm4> form;
};

// Test images long enough for either identity position, stored keyed or in
// clear as a slot says.
struct TestImage {
  uint8_t bytes[1026] = {};
  TestImage(int idOffset, uint8_t print, uint8_t preparation, bool keyed) {
    const uint8_t key = keyed ? FrameKey(0, scrambleSwitch) : 0;
    bytes[idOffset] = print ^ key;
    bytes[idOffset + 1] = preparation ^ key;
  }
};

void Bind(int row, int column, TestImage& image, int8_t plain = 0) {
  ImageCatalogue[row][column] = ImageSlot{.image = image.bytes, .imageSize = 1026, .plain = plain};
}

TEST_F(ListingTest, ThisBuildListsOnlyThePic24Image) {
  const ImageSlot& pic24 = ImageCatalogue[kGenericRow][6];
  const uint8_t key = FrameKey(0, scrambleSwitch);
  const uint8_t print = pic24.image[1024] ^ key;
  const uint8_t preparation = pic24.image[1025] ^ key;
  ASSERT_EQ(print, 16);
  ASSERT_EQ(preparation, 0x04);

  const std::vector<std::string> lines = Shown();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], kHeading);
  EXPECT_EQ(lines[1], kRule);
  EXPECT_EQ(lines[2], "24HJ64 - KTW_R0x[16PIN] - CAN   [Code:04]");
}

TEST_F(ListingTest, ShowingAgainGivesTheSameListNotADoubledOne) {
  const std::vector<std::string> first = Shown();
  form->Button1Click();
  EXPECT_FALSE(form->Visible()) << "Ok closes the window";
  EXPECT_EQ(Shown(), first);
}

TEST_F(ListingTest, AGenericImageHidesTheBoardImagesOfItsGroup) {
  TestImage generic(14, 3, 0x01, true), board(14, 5, 0x04, true);
  Bind(kGenericRow, 1, generic);
  Bind(2, 1, board);
  const std::vector<std::string> lines = Shown();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[3], "2580   - KTB_R03[16PIN] - CAN+SPI   [Code:01]");
}

TEST_F(ListingTest, BoardImagesAreListedInGroupOrderWhenTheFamilyHasNoGenericImage) {
  TestImage a(14, 5, 0x04, true), b(14, 2, 0x05, true), c(14, 6, 0x07, true);
  Bind(6, 0, a);
  Bind(2, 0, b);
  Bind(5, 1, c);
  Bind(kGenericRow, 4, a);
  const std::vector<std::string> lines = Shown();
  const std::vector<std::string> expected = {
      kHeading,
      kRule,
      "24HJ64 - KTW_R0x[16PIN] - CAN   [Code:04]",
      "2580   - KTE_R01[16PIN] - CDC   [Code:07]",
      "258    - KTB_R02[14PIN] - SRV   [Code:05]",
      "258    - KTD_R01[16PIN] - CAN   [Code:04]",
      "2320   - KTD_R01[16PIN] - CAN   [Code:04]",
  };
  EXPECT_EQ(lines, expected);
}

TEST_F(ListingTest, TheLineNumberCountsOnlyListedImages) {
  // Seven board images of column 6 with an unknown board, then one more in
  // column 1: from the seventh image line on the unknown board reads "UNK".
  ImageCatalogue[kGenericRow][6].imageSize = 1;
  TestImage unknown(1024, 0, 0x05, true), unknownPic18(14, 0, 0x05, true);
  for (int row : {5, 6, 7, 8, 11, 16, 19}) Bind(row, 6, unknown);
  Bind(4, 1, unknownPic18);
  const std::vector<std::string> lines = Shown();
  ASSERT_EQ(lines.size(), 10u);
  for (int i = 2; i < 8; ++i) EXPECT_EQ(lines[i], "24HJ64 - KTB_R02[14PIN] - UNKNOWN   [Code:05]") << i;
  EXPECT_EQ(lines[8], "24HJ64 - UNK[16PIN] - UNKNOWN   [Code:05]");
  EXPECT_EQ(lines[9], "2580   - UNK[16PIN] - UNKNOWN   [Code:05]");
}

TEST_F(ListingTest, ColumnsSevenToNineAndUnnamedRowsAreNeverListed) {
  TestImage image(1024, 3, 0x01, true);
  Bind(kGenericRow, 7, image);
  Bind(kGenericRow, 8, image);
  Bind(3, 0, image);
  Bind(32, 6, image);
  EXPECT_EQ(Shown().size(), 3u);
}

TEST_F(ListingTest, APlainImageIsReadInClear) {
  TestImage image(14, 14, 0x1a, false);
  Bind(kGenericRow, 2, image, 1);
  const std::vector<std::string> lines = Shown();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[3], "2480   - ZEH_R03[DB9] - ETH0   [Code:1a]");
}

struct RowCase {
  int rowIndex;
  uint8_t printCode;
  uint8_t preparationCode;
  const char* line;
};

TEST_F(ListingTest, FormatListingRow) {
  const RowCase cases[] = {
      // The worked example.
      {0, 3, 0x81, "24HJ64 - KTB_R03[16PIN] - CAN+SPI  RES[Code:81]"},
      {0, 14, 0x1a, "24HJ64 - ZEH_R03[DB9] - ETH0   [Code:1a]"},
      {0, 0, 0x05, "24HJ64 - KTB_R02[14PIN] - UNKNOWN   [Code:05]"},
      {6, 200, 0x85, "24HJ64 - UNK[16PIN] - UNKNOWN   [Code:85]"},
      {0, 20, 0x00, "24HJ64 - ZEC_R0x[RJ45] - UNKNOWN   [Code:00]"},
      // Edges of the print code and the interface index.
      {0, 33, 0x01, "24HJ64 - KTB_R02[14PIN] - UNKNOWN   [Code:01]"},
      {5, 127, 0x01, "24HJ64 - KTB_R02[14PIN] - UNKNOWN   [Code:01]"},
      {0, 32, 0x0a, "24HJ64 - KTW_R04/384657[16PIN] - ETH0   [Code:0a]"},
      {0, 1, 0x80, "24HJ64 - UNK[UNK] - UNKNOWN  RES[Code:80]"},
      {0, 2, 0x10, "24HJ64 - KTB_R02[14PIN] - UNKNOWN   [Code:10]"},
      {0, 2, 0x0b, "24HJ64 - KTB_R02[14PIN] - UNKNOWN   [Code:0b]"},
      {0, 2, 0x02, "24HJ64 - KTB_R02[14PIN] -    [Code:02]"},
      {0, 2, 0xff, "24HJ64 - KTB_R02[14PIN] - UNKNOWN  RES[Code:ff]"},
      {0, 21, 0x99, "24HJ64 - 48372_R0x[6PIN] - RUM/NOK.  RES[Code:99]"},
  };
  for (const RowCase& c : cases) {
    SCOPED_TRACE(c.line);
    form->ListBox1->Items().Clear();
    form->FormatListingRow(c.rowIndex, "24HJ64", c.printCode, c.preparationCode);
    ASSERT_EQ(form->ListBox1->Items().Count(), 1);
    EXPECT_EQ(form->ListBox1->Items()[0], c.line);
  }
}

}  // namespace
}  // namespace kestovane
