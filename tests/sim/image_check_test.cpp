#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "sim/family.h"
#include "sim/image_check.h"
#include "sim/intel_hex.h"

namespace kestovane::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;

// The firmware set of the source tree, found from this file so the test needs no setup.
const std::filesystem::path kFirmwareDir = std::filesystem::path(__FILE__).parent_path() / "../../firmware";

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// ---- reset-vector patches ----

TEST(ResetPatch, JumpsPastTheFixBlockOfEveryFamilyAndVersion) {
  for (const FamilyMemory& family : kFamilies) {
    for (std::uint8_t version : {4, 5, 9}) {
      SCOPED_TRACE(testing::Message() << "code " << int(family.deviceCode) << " version " << int(version));
      const FamilyLayout layout = *LayoutFor(family.deviceCode, version);
      const ResetPatch patch = ResetPatchFor(layout);
      // Code 70 keeps its old target at every version.
      std::uint32_t target = layout.codeLimit + 64;
      if (family.addressUnit == 2) target = family.flashTop;
      if (family.deviceCode == 70) target = 0x1F00;
      EXPECT_EQ(patch.size, family.addressUnit == 1 ? 4u : 8u);
      EXPECT_EQ(JumpTargetOf(patch), target);
    }
  }
}

TEST(ResetPatch, HoldsTheUpdatersBytes) {
  struct Case {
    std::uint8_t code;
    std::uint8_t version;
    Bytes bytes;
  };
  const Case cases[] = {
      {.code = 70, .version = 5, .bytes = {0x80, 0xEF, 0x0F, 0xF0}},
      {.code = 72, .version = 9, .bytes = {0x40, 0xEF, 0x7F, 0xF0}},
      {.code = 72, .version = 4, .bytes = {0x80, 0xEF, 0x7F, 0xF0}},
      {.code = 199, .version = 9, .bytes = {0x00, 0xEF, 0x1E, 0xF0}},
      {.code = 253, .version = 9, .bytes = {0x00, 0x54, 0x04, 0x00, 0x01, 0x00, 0x00, 0x00}},
  };
  for (const auto& c : cases) {
    const ResetPatch patch = ResetPatchFor(*LayoutFor(c.code, c.version));
    EXPECT_EQ(Bytes(patch.bytes.begin(), patch.bytes.begin() + static_cast<long>(patch.size)), c.bytes)
        << int(c.code) << " v" << int(c.version);
  }
}

// ---- the check on a small image ----

struct FamilyCase {
  const char* name;
  std::uint8_t code;
  std::uint8_t version;
  Bytes patch;              // what the updater writes over the first bytes
  std::size_t fixTailKept;  // start-vector bytes kept in the Fix block, the rest 0
};

const FamilyCase kFamilyCases[] = {
    {.name = "PIC18F26K80", .code = 72, .version = 9, .patch = {0x40, 0xEF, 0x7F, 0xF0}, .fixTailKept = 4},
    {.name = "PIC18F258 old bootloader", .code = 66, .version = 4, .patch = {0x80, 0xEF, 0x3F, 0xF0}, .fixTailKept = 8},
    {.name = "PIC24HJ64", .code = 254, .version = 9, .patch = {0x00, 0xA8, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00},
     .fixTailKept = 8},
};

class ImageCheckTest : public testing::TestWithParam<FamilyCase> {
 protected:
  FamilyLayout layout = *LayoutFor(GetParam().code, GetParam().version);

  // An image of a few blocks and a ragged tail, every byte telling its place.
  Bytes Image(std::size_t size = 300) const {
    Bytes image(size);
    for (std::size_t i = 0; i < size; ++i) image[i] = static_cast<std::uint8_t>(i * 7 + 1);
    return image;
  }

  // The flash as a correct run leaves it.
  Bytes Programmed(const Bytes& image) const {
    const FamilyCase& c = GetParam();
    Bytes flash(layout.flashBytes(), 0xFF);
    const std::size_t fixStart = layout.codeLimit * layout.family->addressUnit;
    std::copy(image.begin(), image.begin() + static_cast<long>(std::min(image.size(), fixStart)), flash.begin());
    std::copy(c.patch.begin(), c.patch.end(), flash.begin());
    const std::size_t tailAt = fixStart + layout.family->blockSize - kDefaultFixTailSize;
    for (std::size_t i = 0; i < kDefaultFixTailSize; ++i) flash[tailAt + i] = i < c.fixTailKept ? image[i] : 0;
    return flash;
  }
};

TEST_P(ImageCheckTest, HoldsAfterACorrectRun) {
  const Bytes image = Image();
  const ImageCheck check = CheckFlashHoldsImage(Programmed(image), layout, image);
  EXPECT_TRUE(check.holds) << check.reason;
  EXPECT_EQ(check.checkedBytes, image.size());
}

TEST_P(ImageCheckTest, NamesTheFirstChangedByte) {
  const Bytes image = Image();
  Bytes flash = Programmed(image);
  flash[0x102] ^= 0x10;
  flash[0x120] ^= 0x01;
  const ImageCheck check = CheckFlashHoldsImage(flash, layout, image);
  EXPECT_FALSE(check.holds);
  char expected[64];
  std::snprintf(expected, sizeof expected, "image byte 0x00102");
  EXPECT_TRUE(Contains(check.reason, expected)) << check.reason;
  std::snprintf(expected, sizeof expected, "expected 0x%02X, found 0x%02X", image[0x102], image[0x102] ^ 0x10);
  EXPECT_TRUE(Contains(check.reason, expected)) << check.reason;
  EXPECT_TRUE(Contains(check.reason, "2 of")) << check.reason;
}

TEST_P(ImageCheckTest, RefusesAnUnpatchedResetVector) {
  const Bytes image = Image();
  Bytes flash = Programmed(image);
  std::copy(image.begin(), image.begin() + static_cast<long>(GetParam().patch.size()), flash.begin());
  const ImageCheck check = CheckFlashHoldsImage(flash, layout, image);
  EXPECT_FALSE(check.holds);
  EXPECT_TRUE(Contains(check.reason, "reset vector not patched")) << check.reason;
}

TEST_P(ImageCheckTest, RefusesAFixBlockWithoutTheStartVector) {
  const Bytes image = Image();
  struct Damage {
    const char* what;
    std::size_t byteFromEnd;  // byte of the tail changed, counted from the end of the Fix block
  };
  // The first tail byte, and the last one (zero on the K80 parts).
  for (const Damage& d : {Damage{"first", kDefaultFixTailSize}, Damage{"last", 1}}) {
    SCOPED_TRACE(d.what);
    Bytes flash = Programmed(image);
    const std::size_t fixEnd = layout.codeLimit * layout.family->addressUnit + layout.family->blockSize;
    flash[fixEnd - d.byteFromEnd] ^= 0xFF;
    const ImageCheck check = CheckFlashHoldsImage(flash, layout, image);
    EXPECT_FALSE(check.holds);
    EXPECT_TRUE(Contains(check.reason, "Fix block")) << check.reason;
  }
}

TEST_P(ImageCheckTest, RefusesAnEmptyImage) {
  EXPECT_FALSE(CheckFlashHoldsImage(Programmed(Image(2)), layout, Bytes{0x12}).holds);
}

INSTANTIATE_TEST_SUITE_P(Families, ImageCheckTest, testing::ValuesIn(kFamilyCases),
                         [](const auto& info) {
                           std::string name = info.param.name;
                           for (char& c : name)
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           return name;
                         });

TEST(ImageCheck, Pic18ImageIsProgrammedUpToTheFixBlockOnly) {
  const FamilyLayout layout = *LayoutFor(70, 5);
  // Longer than the application region: the updater sends its first codeLimit bytes.
  Bytes image(layout.codeLimit + 100, 0x5A);
  Bytes flash(layout.flashBytes(), 0xFF);
  std::copy(image.begin(), image.begin() + layout.codeLimit, flash.begin());
  const Bytes patch = {0x80, 0xEF, 0x0F, 0xF0};
  std::copy(patch.begin(), patch.end(), flash.begin());
  std::fill(flash.begin() + layout.codeLimit + 64 - 8, flash.begin() + layout.codeLimit + 64, 0x5A);
  const ImageCheck check = CheckFlashHoldsImage(flash, layout, image);
  EXPECT_TRUE(check.holds) << check.reason;
  EXPECT_EQ(check.checkedBytes, layout.codeLimit);
}

TEST(ImageCheck, Pic24ImageLargerThanTheApplicationRegionIsNeverHeld) {
  const FamilyLayout layout = *LayoutFor(254, 9);
  const Bytes flash(layout.flashBytes(), 0xFF);
  const ImageCheck check = CheckFlashHoldsImage(flash, layout, Bytes(2 * layout.codeLimit + 1, 0));
  EXPECT_FALSE(check.holds);
  EXPECT_TRUE(Contains(check.reason, "refuses")) << check.reason;
}

TEST(ImageCheck, ComparesTheEepromWhenTheImageHasSome) {
  const FamilyLayout layout = *LayoutFor(254, 9);
  ExpectedImage image{.program = Bytes(64, 0x11), .eeprom = {}};
  Bytes flash(layout.flashBytes(), 0xFF);
  std::copy(image.program.begin(), image.program.end(), flash.begin());
  const Bytes patch = {0x00, 0xA8, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00};
  std::copy(patch.begin(), patch.end(), flash.begin());
  std::fill(flash.begin() + 2 * layout.codeLimit + 248, flash.begin() + 2 * layout.codeLimit + 256, 0x11);

  // No EEPROM data: whatever the device's EEPROM holds does not matter.
  EXPECT_TRUE(CheckDeviceHoldsImage(flash, Bytes(4, 0xFF), layout, image).holds);

  image.eeprom = {1, 2, 3};
  EXPECT_TRUE(CheckDeviceHoldsImage(flash, Bytes{1, 2, 3, 0xFF}, layout, image).holds);
  const ImageCheck wrong = CheckDeviceHoldsImage(flash, Bytes{1, 2, 4, 0xFF}, layout, image);
  EXPECT_FALSE(wrong.holds);
  EXPECT_TRUE(Contains(wrong.reason, "EEPROM byte 0x00002: expected 0x03, found 0x04")) << wrong.reason;
  const ImageCheck small = CheckDeviceHoldsImage(flash, Bytes{1, 2}, layout, image);
  EXPECT_FALSE(small.holds);
  EXPECT_TRUE(Contains(small.reason, "larger than the device's 2-byte EEPROM")) << small.reason;
}

// ---- HEX files to images ----

std::string Slurp(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct HexCase {
  const char* file;
  std::uint8_t code;
  std::size_t programBytes;
  std::size_t eepromBytes;
  Bytes startVector;  // image bytes 0 to 7
  std::size_t idOffset;
};

TEST(ExpectedImageFromHex, LaysOutTheFirmwareFilesByFamily) {
  const HexCase cases[] = {
      {.file = "pic18f26k80_app.hex", .code = 72, .programBytes = 10401, .eepromBytes = 1024,
       .startVector = {0x20, 0xEF, 0x00, 0xF0, 0x00, 0x00, 0x00, 0x00}, .idOffset = 14},
      {.file = "pic24hj64_app.hex", .code = 254, .programBytes = 30968, .eepromBytes = 0,
       .startVector = {0x02, 0x02, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00}, .idOffset = 1024},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    const std::filesystem::path path = kFirmwareDir / c.file;
    const FamilyMemory& family = *FindFamily(c.code);
    const ExpectedImage image = ReadExpectedImage({path}, family);
    ASSERT_EQ(image.program.size(), c.programBytes);
    EXPECT_EQ(image.eeprom.size(), c.eepromBytes);
    EXPECT_EQ(Bytes(image.program.begin(), image.program.begin() + 8), c.startVector);

    // Every byte the HEX gives sits at its HEX address, EEPROM data from 0xF00000 on.
    const auto records = ParseIntelHex(Slurp(path));
    ASSERT_TRUE(records);
    for (const auto& [address, value] : *records) {
      if (address >= 0xF00000)
        ASSERT_EQ(image.eeprom.at(address - 0xF00000), value) << std::hex << address;
      else
        ASSERT_EQ(image.program.at(address), value) << std::hex << address;
    }
    // Gaps read as erased flash; on the PIC24 parts the phantom byte reads 0.
    for (std::size_t i = 0; i < image.program.size(); ++i) {
      if (records->count(static_cast<std::uint32_t>(i))) continue;
      const std::uint8_t erased = family.addressUnit == 2 && i % 4 == 3 ? 0x00 : 0xFF;
      ASSERT_EQ(image.program[i], erased) << "gap byte " << i;
    }
    // The identity bytes lie where the updater reads them.
    EXPECT_LT(c.idOffset + 1, image.program.size());
  }
}

TEST(ExpectedImageFromHex, RefusesFilesTheDeviceCannotHold) {
  struct Case {
    std::filesystem::path path;
    std::uint8_t code;
    const char* mentions;
  };
  const Case cases[] = {
      // The PIC24 image reaches far beyond a PIC18F2320's 8 KiB.
      {.path = kFirmwareDir / "pic24hj64_app.hex", .code = 70, .mentions = "beyond the memory of PIC18F2320"},
      // EEPROM data for a family without EEPROM.
      {.path = kFirmwareDir / "pic18f26k80_app.hex", .code = 199, .mentions = "no EEPROM"},
      {.path = kFirmwareDir / "no_such_file.hex", .code = 72, .mentions = "cannot read"},
  };
  for (const auto& c : cases) {
    try {
      ReadExpectedImage({c.path}, *FindFamily(c.code));
      ADD_FAILURE() << c.path << " was accepted";
    } catch (const ExpectedImageError& e) {
      EXPECT_TRUE(Contains(e.what(), c.mentions)) << e.what();
    }
  }
}

}  // namespace
}  // namespace kestovane::sim
