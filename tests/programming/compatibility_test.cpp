#include <gtest/gtest.h>

#include "programming/compatibility.h"

namespace kestovane {
namespace {

struct SuitCase {
  const char* why;
  ApparatusCodes codes;  // device print, device prep, identity seen, image print, image prep
  bool suits;
};

std::ostream& operator<<(std::ostream& os, const SuitCase& c) { return os << c.why; }

class Compatibility : public ::testing::TestWithParam<SuitCase> {};

TEST_P(Compatibility, FollowsTheBoardAndPreparationRules) {
  EXPECT_EQ(SuitsApparatus(GetParam().codes), GetParam().suits);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, Compatibility,
    ::testing::Values(
        SuitCase{"image print 0 is never checked", {9, 0x7F, true, 0, 0x01}, true},
        SuitCase{"image print FF is never checked", {9, 0x7F, true, 0xFF, 0x01}, true},
        SuitCase{"no identity record: no check", {2, 0x00, false, 7, 0x05}, true},
        SuitCase{"same board and preparation", {7, 0x05, true, 7, 0x05}, true},
        SuitCase{"other board", {7, 0x05, true, 8, 0x05}, false},
        SuitCase{"board 0x20 image on board 0x10", {0x10, 0x05, true, 0x20, 0x05}, true},
        SuitCase{"board 0x10 image on board 0x20", {0x20, 0x05, true, 0x10, 0x05}, false},
        SuitCase{"P2: Dp 3, Ip reserved", {7, 0x03, true, 7, 0x85}, true},
        SuitCase{"Dp 3, Ip 4", {7, 0x03, true, 7, 0x04}, false},
        SuitCase{"P3: both reserved", {7, 0x81, true, 7, 0x84}, true},
        SuitCase{"Dp 0x80, Ip 0: low nibbles 0", {7, 0x80, true, 7, 0x00}, true},
        SuitCase{"P4: device bit 4 without image bit 4", {7, 0x12, true, 7, 0x02}, false},
        SuitCase{"image bit 4 is masked off", {7, 0x02, true, 7, 0x12}, true},
        SuitCase{"d 2 takes 1", {7, 0x02, true, 7, 0x01}, true},
        SuitCase{"d 2 takes 4", {7, 0x02, true, 7, 0x04}, true},
        SuitCase{"d 1 refuses 2", {7, 0x01, true, 7, 0x02}, false},
        SuitCase{"d 1 takes 4", {7, 0x01, true, 7, 0x04}, true},
        SuitCase{"d 5 takes 4", {7, 0x05, true, 7, 0x04}, true},
        SuitCase{"d 5 refuses 0x24 (bit 5 kept)", {7, 0x05, true, 7, 0x24}, false},
        SuitCase{"only the low nibble of Dp counts", {7, 0x41, true, 7, 0x04}, true},
        SuitCase{"board fails though preparation passes", {7, 0x05, true, 9, 0x05}, false}));

}  // namespace
}  // namespace kestovane
