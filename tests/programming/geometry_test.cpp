#include <gtest/gtest.h>

#include <vector>

#include "programming/geometry.h"

namespace kestovane {
namespace {

struct GeometryCase {
  uint8_t code, version;
  const char* familyText;
  uint32_t addressUnit, blockSize, flashTop, reserve, codeLimit, idOffset, slot;
  std::vector<uint8_t> patch;
};

std::ostream& operator<<(std::ostream& os, const GeometryCase& c) {
  return os << "code" << int(c.code) << "_v" << int(c.version);
}

class Geometry : public ::testing::TestWithParam<GeometryCase> {};

TEST_P(Geometry, MatchesTheFamilyTable) {
  const GeometryCase& c = GetParam();
  auto g = GeometryFor(c.code, c.version);
  ASSERT_TRUE(g.has_value());
  EXPECT_STREQ(g->familyText, c.familyText);
  EXPECT_EQ(g->addressUnit, c.addressUnit);
  EXPECT_EQ(g->blockSize, c.blockSize);
  EXPECT_EQ(g->flashTop, c.flashTop);
  EXPECT_EQ(g->reserve, c.reserve);
  EXPECT_EQ(g->codeLimit, c.codeLimit);
  EXPECT_EQ(g->idOffset, c.idOffset);
  EXPECT_EQ(g->catalogueSlot, c.slot);
  EXPECT_EQ(std::vector<uint8_t>(g->resetPatch.begin(), g->resetPatch.begin() + g->resetPatchSize), c.patch);
  EXPECT_EQ(g->LengthFieldSize(), c.blockSize > 255 ? 2u : 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Families, Geometry,
    ::testing::Values(
        GeometryCase{66, 5, "Found 258", 1, 64, 0x8000, 448, 0x7E40, 14, 0, {0x40, 0xEF, 0x3F, 0xF0}},
        GeometryCase{66, 4, "Found 258", 1, 64, 0x8000, 320, 0x7EC0, 14, 0, {0x80, 0xEF, 0x3F, 0xF0}},
        GeometryCase{67, 9, "Found 2580", 1, 64, 0x8000, 448, 0x7E40, 14, 1, {0x40, 0xEF, 0x3F, 0xF0}},
        GeometryCase{68, 5, "Found 2480", 1, 64, 0x4000, 448, 0x3E40, 14, 2, {0x40, 0xEF, 0x1F, 0xF0}},
        GeometryCase{69, 1, "Found 248", 1, 64, 0x4000, 320, 0x3EC0, 14, 3, {0x80, 0xEF, 0x1F, 0xF0}},
        // Code 70 jumps to 0x1F00 at version 5 although its code limit is 0x1E40.
        GeometryCase{70, 5, "Found 2320", 1, 64, 0x2000, 448, 0x1E40, 14, 4, {0x80, 0xEF, 0x0F, 0xF0}},
        GeometryCase{70, 4, "Found 2320", 1, 64, 0x2000, 320, 0x1EC0, 14, 4, {0x80, 0xEF, 0x0F, 0xF0}},
        GeometryCase{71, 5, "Found 18F25k80", 1, 64, 0x8000, 448, 0x7E40, 14, 8, {0x40, 0xEF, 0x3F, 0xF0}},
        // Below version 5 the K80 parts get the jump past their Fix block.
        GeometryCase{71, 4, "Found 18F25k80", 1, 64, 0x8000, 320, 0x7EC0, 14, 8, {0x80, 0xEF, 0x3F, 0xF0}},
        GeometryCase{72, 9, "Found 18F26k80", 1, 64, 0x10000, 448, 0xFE40, 14, 9, {0x40, 0xEF, 0x7F, 0xF0}},
        GeometryCase{72, 0, "Found 18F26k80", 1, 64, 0x10000, 320, 0xFEC0, 14, 9, {0x80, 0xEF, 0x7F, 0xF0}},
        GeometryCase{199, 9, "Found 24j10", 1, 64, 0x4000, 1088, 0x3BC0, 14, 5, {0x00, 0xEF, 0x1E, 0xF0}},
        GeometryCase{199, 1, "Found 24j10", 1, 64, 0x4000, 1088, 0x3BC0, 14, 5, {0x00, 0xEF, 0x1E, 0xF0}},
        GeometryCase{252, 10, "Found 33FJ64", 2, 256, 0xA800, 128, 0xA780, 1024, 6,
                     {0x00, 0xA8, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00}},
        GeometryCase{254, 2, "Found 24HJ64", 2, 256, 0xA800, 128, 0xA780, 1024, 6,
                     {0x00, 0xA8, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00}},
        GeometryCase{253, 10, "Found 33FJ128 - 24HJ128", 2, 256, 0x15400, 128, 0x15380, 1024, 7,
                     {0x00, 0x54, 0x04, 0x00, 0x01, 0x00, 0x00, 0x00}}));

TEST(Geometry, CodesOutsideTheTableAreNotListed) {
  for (int code : {0, 65, 73, 198, 200, 251, 255}) EXPECT_FALSE(GeometryFor(uint8_t(code), 9)) << code;
}

TEST(Geometry, EveryPic18PatchButCode70JumpsPastTheFixBlock) {
  for (uint8_t code : {66, 67, 68, 69, 71, 72}) {
    for (uint8_t version : {4, 5}) {
      auto g = GeometryFor(code, version);
      const auto expected = Pic18Goto(g->codeLimit + 64);
      EXPECT_TRUE(std::equal(expected.begin(), expected.end(), g->resetPatch.begin())) << int(code) << "/" << int(version);
    }
  }
}

}  // namespace
}  // namespace kestovane
