// The image catalogue as this build fills it: binding, selection with its
// fall-back, batch markers, the frame key and the board names.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "catalogue/catalogue.h"
#include "catalogue/firmware_set.h"

namespace kestovane {
namespace {

class CatalogueTest : public ::testing::Test {
 protected:
  // Each test starts from the catalogue as start-up leaves it; slots a test
  // binds by hand are emptied again by the next fill.
  void SetUp() override { FillCatalogue(); }
  void TearDown() override { FillCatalogue(); }
};

// ---- This build's binding ---------------------------------------------------

struct BoundSlot {
  int row;
  int column;
  int32_t imageSize;
  int32_t fixTailSize;
  int32_t eepromSize;
};

constexpr BoundSlot kThisBuild[] = {
    {.row = 0, .column = 6, .imageSize = 30968, .fixTailSize = 8, .eepromSize = 0},
    {.row = 0, .column = 9, .imageSize = 10401, .fixTailSize = 8, .eepromSize = 1024},
    {.row = 0, .column = 0, .imageSize = 1, .fixTailSize = 1, .eepromSize = 1},
    {.row = 0, .column = 1, .imageSize = 1, .fixTailSize = 1, .eepromSize = 1},
    {.row = 0, .column = 2, .imageSize = 1, .fixTailSize = 1, .eepromSize = 1},
    {.row = 0, .column = 3, .imageSize = 1, .fixTailSize = 1, .eepromSize = 1},
    {.row = 0, .column = 4, .imageSize = 1, .fixTailSize = 1, .eepromSize = 1},
    {.row = 0, .column = 5, .imageSize = 1, .fixTailSize = 1, .eepromSize = 1},
    {.row = 0, .column = 7, .imageSize = 1, .fixTailSize = 1, .eepromSize = 1},
    {.row = 0, .column = 8, .imageSize = 1, .fixTailSize = 1, .eepromSize = 0},
    {.row = 2, .column = 0, .imageSize = 1, .fixTailSize = 1, .eepromSize = 1},
    {.row = 4, .column = 0, .imageSize = 1, .fixTailSize = 1, .eepromSize = 1},
    {.row = 5, .column = 0, .imageSize = 1, .fixTailSize = 1, .eepromSize = 1},
    {.row = 6, .column = 0, .imageSize = 1, .fixTailSize = 1, .eepromSize = 1},
    {.row = 2, .column = 1, .imageSize = 1, .fixTailSize = 1, .eepromSize = 1},
    {.row = 4, .column = 1, .imageSize = 1, .fixTailSize = 1, .eepromSize = 1},
    {.row = 5, .column = 1, .imageSize = 1, .fixTailSize = 1, .eepromSize = 1},
    {.row = 6, .column = 1, .imageSize = 1, .fixTailSize = 1, .eepromSize = 1},
    {.row = 5, .column = 6, .imageSize = 1, .fixTailSize = 1, .eepromSize = 1},
    {.row = 6, .column = 6, .imageSize = 1, .fixTailSize = 1, .eepromSize = 1},
    {.row = 7, .column = 6, .imageSize = 1, .fixTailSize = 1, .eepromSize = 1},
    {.row = 8, .column = 6, .imageSize = 1, .fixTailSize = 1, .eepromSize = 1},
    {.row = 11, .column = 6, .imageSize = 1, .fixTailSize = 1, .eepromSize = 1},
    {.row = 16, .column = 6, .imageSize = 1, .fixTailSize = 1, .eepromSize = 1},
    {.row = 19, .column = 6, .imageSize = 1, .fixTailSize = 1, .eepromSize = 1},
    {.row = 32, .column = 6, .imageSize = 1, .fixTailSize = 1, .eepromSize = 1},
};

TEST_F(CatalogueTest, BindsExactlyThisBuildsSlots) {
  for (int row = 0; row < kPrintCodeRows; ++row) {
    for (int column = 0; column < kCatalogueColumns; ++column) {
      SCOPED_TRACE("row " + std::to_string(row) + " column " + std::to_string(column));
      const ImageSlot& slot = ImageCatalogue[row][column];
      const BoundSlot* expected = nullptr;
      for (const BoundSlot& b : kThisBuild)
        if (b.row == row && b.column == column) expected = &b;
      if (!expected) {
        EXPECT_EQ(slot.imageSize, 0);
        continue;
      }
      EXPECT_EQ(slot.imageSize, expected->imageSize);
      EXPECT_EQ(slot.fixTailSize, expected->fixTailSize);
      EXPECT_EQ(slot.eepromSize, expected->eepromSize);
      EXPECT_EQ(slot.plain, 0);
      EXPECT_EQ(slot.printCode, 0);
      EXPECT_EQ(slot.preparationCode, 0);
      ASSERT_NE(slot.image, nullptr);
      ASSERT_NE(slot.fixTail, nullptr);
      if (expected->imageSize == 1) {
        EXPECT_EQ(slot.image[0], 0);
        EXPECT_EQ(slot.fixTail[0], 0);
      }
    }
  }
}

TEST_F(CatalogueTest, BoardsSixteenAndThirtyTwoShareTheirArrays) {
  const ImageSlot& a = ImageCatalogue[16][6];
  const ImageSlot& b = ImageCatalogue[32][6];
  EXPECT_EQ(a.image, b.image);
  EXPECT_EQ(a.fixTail, b.fixTail);
  EXPECT_EQ(a.eeprom, b.eeprom);
}

TEST_F(CatalogueTest, ImagesCarryTheirIdentityBytesUnderTheKeyOfAddressZero) {
  const uint8_t key = FrameKey(0, scrambleSwitch);
  const ImageSlot& pic24 = ImageCatalogue[kGenericRow][6];
  const ImageSlot& k80 = ImageCatalogue[kGenericRow][9];
  EXPECT_EQ(pic24.image[1024] ^ key, 16);
  EXPECT_EQ(pic24.image[1025] ^ key, 0x04);
  EXPECT_EQ(k80.image[14] ^ key, 20);
  EXPECT_EQ(k80.image[15] ^ key, 0x0a);
}

TEST_F(CatalogueTest, TheBuildNamesItsLabel) { EXPECT_STREQ(BuildCatalogueLabel(), "VEX 1C 01.05.00.02"); }

// ---- Selection --------------------------------------------------------------

struct SelectCase {
  const char* what;
  uint8_t deviceCode;
  uint8_t printCode;
  uint8_t column;
  int32_t imageSize;
  int32_t eepromSize;
};

constexpr SelectCase kSelectCases[] = {
    {.what = "board placeholder falls back to the generic image", .deviceCode = 254, .printCode = 5, .column = 6, .imageSize = 30968, .eepromSize = 0},
    {.what = "252 selects what 254 selects", .deviceCode = 252, .printCode = 5, .column = 6, .imageSize = 30968, .eepromSize = 0},
    {.what = "generic print code", .deviceCode = 254, .printCode = 0, .column = 6, .imageSize = 30968, .eepromSize = 0},
    {.what = "board without a slot", .deviceCode = 254, .printCode = 200, .column = 6, .imageSize = 30968, .eepromSize = 0},
    {.what = "print code 255 has no row and takes the generic row", .deviceCode = 254, .printCode = 255, .column = 6, .imageSize = 30968, .eepromSize = 0},
    {.what = "253 has only a generic placeholder", .deviceCode = 253, .printCode = 0, .column = 7, .imageSize = 1, .eepromSize = 1},
    {.what = "253, print code 255", .deviceCode = 253, .printCode = 255, .column = 7, .imageSize = 1, .eepromSize = 1},
    {.what = "empty board slot falls back to a placeholder", .deviceCode = 67, .printCode = 3, .column = 1, .imageSize = 1, .eepromSize = 1},
    {.what = "unlisted code 'A' maps to column 0", .deviceCode = 65, .printCode = 0, .column = 0, .imageSize = 1, .eepromSize = 1},
    {.what = "unlisted code 0 maps to column 0", .deviceCode = 0, .printCode = 2, .column = 0, .imageSize = 1, .eepromSize = 1},
    {.what = "26K80, generic", .deviceCode = 72, .printCode = 0, .column = 9, .imageSize = 10401, .eepromSize = 1024},
    {.what = "26K80, print code 255", .deviceCode = 72, .printCode = 255, .column = 9, .imageSize = 10401, .eepromSize = 1024},
    {.what = "25K80 placeholder without EEPROM", .deviceCode = 71, .printCode = 0, .column = 8, .imageSize = 1, .eepromSize = 0},
    {.what = "24J10", .deviceCode = 199, .printCode = 7, .column = 5, .imageSize = 1, .eepromSize = 1},
    {.what = "2320", .deviceCode = 70, .printCode = 2, .column = 4, .imageSize = 1, .eepromSize = 1},
};

TEST_F(CatalogueTest, SelectImage) {
  for (const SelectCase& c : kSelectCases) {
    SCOPED_TRACE(c.what);
    SelectedImage = {};
    EXPECT_EQ(SelectImage(c.deviceCode, c.printCode), c.column);
    EXPECT_EQ(SelectedImage.imageSize, c.imageSize);
    EXPECT_EQ(SelectedImage.eepromSize, c.eepromSize);
    EXPECT_EQ(SelectedImage.image, ImageCatalogue[kGenericRow][c.column].image);
  }
}

TEST_F(CatalogueTest, DeviceCode72TakesTheSameImageForEveryPrintCode) {
  for (int print = 0; print <= 255; ++print) {
    SCOPED_TRACE(print);
    ASSERT_EQ(SelectImage(72, static_cast<uint8_t>(print)), 9);
    EXPECT_EQ(SelectedImage.imageSize, 10401);
    EXPECT_EQ(SelectedImage.eepromSize, 1024);
    EXPECT_EQ(SelectedImage.fixTailSize, 8);
    EXPECT_EQ(SelectedImage.image, ImageCatalogue[kGenericRow][9].image);
  }
}

// A hand-bound slot: a board image in clear with its own codes.
uint8_t boardImage[16] = {};
uint8_t boardFix[4] = {1, 2, 3, 4};

TEST_F(CatalogueTest, ABoardImageWinsOverTheGenericRowAndKeepsItsOwnFields) {
  ImageCatalogue[3][0] = ImageSlot{.fixTail = boardFix, .fixTailSize = 4, .image = boardImage, .imageSize = 16,
                                   .plain = -1, .printCode = 3, .preparationCode = 0x81};
  EXPECT_EQ(SelectImage(66, 3), 0);
  EXPECT_EQ(SelectedImage.image, boardImage);
  EXPECT_EQ(SelectedImage.imageSize, 16);
  EXPECT_EQ(SelectedImage.fixTail, boardFix);
  EXPECT_EQ(SelectedImage.eepromSize, 0);
  EXPECT_EQ(SelectedImage.plain, -1) << "the plain byte is widened with its sign";
  EXPECT_EQ(SelectedImage.printCode, 3);
  EXPECT_EQ(SelectedImage.preparationCode, 0x81);
}

TEST_F(CatalogueTest, AOneByteBoardSlotIsPassedOverLikeAnEmptyOne) {
  ImageCatalogue[3][0] = ImageSlot{.image = boardImage, .imageSize = 1};
  ImageCatalogue[kGenericRow][0].imageSize = 0;
  SelectImage(66, 3);
  EXPECT_EQ(SelectedImage.imageSize, 0) << "the fall-back takes the generic slot whatever it holds";
}

// ---- Batch markers ----------------------------------------------------------

TEST_F(CatalogueTest, CountBatchImagesMarksTheFamiliesWithRealImages) {
  EXPECT_EQ(CountBatchImages(), 2);
  EXPECT_EQ(remainingCount, 2);
  for (uint8_t column = 0; column < kSelectableColumns; ++column) {
    SCOPED_TRACE(static_cast<int>(column));
    const bool pending = column == 6 || column == 9;
    EXPECT_EQ(PendingMarkerOf(column), pending ? 1 : 255);
    const uint8_t special = column == 6 || column == 7 ? 2 : column == 9 ? 1 : 0;
    EXPECT_EQ(SpecialMarkerOf(column), special);
  }
}

TEST_F(CatalogueTest, AGenericImageOfTenBytesOrLessIsSelectableButNotPending) {
  ImageCatalogue[kGenericRow][2].imageSize = 10;
  ImageCatalogue[kGenericRow][3].imageSize = 11;
  EXPECT_EQ(CountBatchImages(), 3);
  EXPECT_EQ(PendingMarkerOf(2), 255);
  EXPECT_EQ(PendingMarkerOf(3), 1);
  SelectImage(68, 0);
  EXPECT_EQ(SelectedImage.imageSize, 10);
}

struct MarkStep {
  uint8_t column;
  int8_t remainingAfter;
  uint8_t markerAfter;
};

struct MarkSequence {
  const char* what;
  std::vector<MarkStep> steps;
};

TEST_F(CatalogueTest, MarkSlotDoneSequences) {
  const MarkSequence sequences[] = {
      {"one family done, then again", {{6, 1, 0}, {6, 1, 0}}},
      {"a family outside the batch", {{0, 2, 0}, {0, 2, 0}}},
      {"whole batch", {{6, 1, 0}, {9, 0, 0}, {9, 0, 0}}},
      {"out of order with a stranger between", {{9, 1, 0}, {3, 1, 0}, {6, 0, 0}}},
  };
  for (const MarkSequence& s : sequences) {
    SCOPED_TRACE(s.what);
    ASSERT_EQ(CountBatchImages(), 2);
    for (const MarkStep& step : s.steps) {
      MarkSlotDone(step.column);
      EXPECT_EQ(remainingCount, step.remainingAfter);
      EXPECT_EQ(PendingMarkerOf(step.column), step.markerAfter);
    }
  }
}

TEST_F(CatalogueTest, EveryBatchStartsAfresh) {
  MarkSlotDone(6);
  MarkSlotDone(9);
  MarkSlotDone(1);
  EXPECT_EQ(CountBatchImages(), 2);
  EXPECT_EQ(PendingMarkerOf(6), 1);
  EXPECT_EQ(PendingMarkerOf(9), 1);
  EXPECT_EQ(PendingMarkerOf(1), 255);
}

// ---- Frame key and names ----------------------------------------------------

TEST(FrameKey, IsZeroWithTheSwitchOff) {
  for (int base = 0; base < 256; ++base) EXPECT_EQ(FrameKey(static_cast<uint8_t>(base), 0), 0) << base;
}

TEST(FrameKey, FramesDifferByTheLowByteOfTheirAddress) {
  const uint8_t k0 = FrameKey(0, 1);
  for (int base = 0; base < 256; ++base)
    EXPECT_EQ(static_cast<uint8_t>(FrameKey(static_cast<uint8_t>(base), 1) - k0), base) << base;
}

TEST(PrintName, NamesBoardsOneToThirtyTwoAndFallsBackToEntryTwo) {
  const struct {
    int32_t printCode;
    const char* name;
  } cases[] = {
      {1, "UNK"},     {2, "KTB_R02"},        {14, "ZEH_R03"},  {21, "48372_R0x"}, {26, "27"},
      {32, "KTW_R04/384657"}, {0, "KTB_R02"}, {33, "KTB_R02"}, {255, "KTB_R02"}, {-1, "KTB_R02"},
      {INT_MIN, "KTB_R02"},
  };
  for (const auto& c : cases) EXPECT_STREQ(PrintName(c.printCode), c.name) << c.printCode;
}

TEST(NameTables, EveryBoardHasAConnector) {
  EXPECT_EQ(BoardNamesCount, 33);
  EXPECT_EQ(InterfaceNamesCount, 11);
  for (int i = 0; i < BoardNamesCount; ++i) EXPECT_NE(ConnectorNames[i], nullptr) << i;
  EXPECT_STREQ(ConnectorNames[14], "DB9");
  EXPECT_STREQ(ConnectorNames[20], "RJ45");
  EXPECT_STREQ(InterfaceNames[2], "");
}

}  // namespace
}  // namespace kestovane

namespace kestovane {
namespace {

TEST(BatchMarkers, AColumnPastTheTableIsInNoBatchAndCannotBeMarked) {
  FillCatalogue();
  const int8_t before = remainingCount;
  EXPECT_EQ(PendingMarkerOf(47), 255);
  EXPECT_EQ(SpecialMarkerOf(200), 0);
  MarkSlotDone(47);
  EXPECT_EQ(remainingCount, before);
  EXPECT_EQ(PendingMarkerOf(47), 255);
}

}  // namespace
}  // namespace kestovane
