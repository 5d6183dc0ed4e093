#include <gtest/gtest.h>

#include "sim/family.h"
#include "sim/intel_hex.h"
#include "sim/simulated_bootloader.h"

namespace kestovane::sim {
namespace {

struct LayoutCase {
  std::uint8_t code;
  std::uint8_t version;
  std::uint32_t codeLimit;
  std::uint32_t bootStart;
  std::uint32_t headerLength;
};

// The updater's Fix frame lands on codeLimit; the bootloader starts one block above.
constexpr LayoutCase kLayouts[] = {
    {.code = 66, .version = 5, .codeLimit = 0x7E40, .bootStart = 0x7E80, .headerLength = 4},
    {.code = 66, .version = 4, .codeLimit = 0x7EC0, .bootStart = 0x7F00, .headerLength = 4},
    {.code = 70, .version = 5, .codeLimit = 0x1E40, .bootStart = 0x1E80, .headerLength = 4},
    {.code = 72, .version = 9, .codeLimit = 0xFE40, .bootStart = 0xFE80, .headerLength = 4},
    {.code = 199, .version = 2, .codeLimit = 0x3BC0, .bootStart = 0x3C00, .headerLength = 4},
    {.code = 199, .version = 9, .codeLimit = 0x3BC0, .bootStart = 0x3C00, .headerLength = 4},
    {.code = 252, .version = 9, .codeLimit = 0xA780, .bootStart = 0xA800, .headerLength = 5},
    {.code = 254, .version = 1, .codeLimit = 0xA780, .bootStart = 0xA800, .headerLength = 5},
    {.code = 253, .version = 9, .codeLimit = 0x15380, .bootStart = 0x15400, .headerLength = 5},
};

TEST(FamilyLayout, MatchesTheUpdatersGeometry) {
  for (const auto& c : kLayouts) {
    SCOPED_TRACE(testing::Message() << "code " << int(c.code) << " version " << int(c.version));
    const auto layout = LayoutFor(c.code, c.version);
    ASSERT_TRUE(layout);
    EXPECT_EQ(layout->codeLimit, c.codeLimit);
    EXPECT_EQ(layout->bootStart, c.bootStart);
    EXPECT_EQ(layout->headerLength, c.headerLength);
  }
}

TEST(FamilyLayout, UnlistedCodesHaveNone) {
  for (int code : {0, 65, 73, 198, 200, 251, 255}) EXPECT_FALSE(LayoutFor(static_cast<std::uint8_t>(code), 9)) << code;
}

TEST(FrameKeyTest, IsZeroWhenOffAndWrapsWhenOn) {
  EXPECT_EQ(FrameKey(0x80, false, 0x5A), 0);
  EXPECT_EQ(FrameKey(0x10, true, 0x5A), 0x6A);
  EXPECT_EQ(FrameKey(0xC0, true, 0x5A), 0x1A);
}

TEST(IntelHex, RoundTripsAcrossTheSixtyFourKBoundaryAndSkipsErasedLines) {
  std::vector<std::uint8_t> memory(0x10040, 0xFF);
  memory[0] = 0x12;
  memory[0x1F] = 0x34;
  memory[0x10005] = 0x56;
  const std::string text = ToIntelHex(memory);
  EXPECT_NE(text.find(":020000040001F9\n"), std::string::npos);
  EXPECT_EQ(text.substr(text.size() - 12), ":00000001FF\n");
  std::string error;
  const auto parsed = ParseIntelHex(text, &error);
  ASSERT_TRUE(parsed) << error;
  // Three non-erased lines of 16 bytes each.
  EXPECT_EQ(parsed->size(), 48u);
  EXPECT_EQ(parsed->at(0), 0x12);
  EXPECT_EQ(parsed->at(0x1F), 0x34);
  EXPECT_EQ(parsed->at(0x10005), 0x56);
  EXPECT_EQ(parsed->at(0x10006), 0xFF);
}

TEST(IntelHex, RefusesBadText) {
  struct Case {
    const char* text;
    const char* why;
  };
  const Case cases[] = {
      {.text = ":0100000012ED\n", .why = "no end record"},
      {.text = ":0100000012EE\n:00000001FF\n", .why = "checksum"},
      {.text = "0100000012ED\n:00000001FF\n", .why = "not a record"},
      {.text = ":02000000120\n:00000001FF\n", .why = "not a record"},
      {.text = ":0200000012ED\n:00000001FF\n", .why = "length"},
      {.text = ":01000000XYED\n:00000001FF\n", .why = "hexadecimal"},
  };
  for (const auto& c : cases) {
    std::string error;
    EXPECT_FALSE(ParseIntelHex(c.text, &error)) << c.text;
    EXPECT_NE(error.find(c.why), std::string::npos) << c.text << " gave " << error;
  }
}

}  // namespace
}  // namespace kestovane::sim
