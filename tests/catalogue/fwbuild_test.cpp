// The firmware builder: its HEX and manifest readers on bad and good input,
// and the firmware set of this build traced back to its HEX files.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <vector>
#include <fstream>
#include <string>
#include <unistd.h>

#include "catalogue/catalogue.h"
#include "fwbuild/builder.h"
#include "programming/geometry.h"

namespace kestovane::fwbuild {
namespace {

namespace fs = std::filesystem;

// Runs `action` and returns the message of the FirmwareError it throws.
template <class F>
std::string ErrorOf(F action) {
  try {
    action();
  } catch (const FirmwareError& e) {
    return e.what();
  }
  return "(no error)";
}

// ---- Intel HEX ---------------------------------------------------------------

struct BadHex {
  const char* what;
  const char* text;
  const char* place;    // "<file>:<line>:" the message must start with
  const char* message;  // a part of the message
};

constexpr BadHex kBadHex[] = {
    {"checksum", ":0100000000FE\n:00000001FF\n", "bad.hex:1:", "checksum 0xFE does not match"},
    {"not hexadecimal", ":0100000000FF\n:01001000G0FF\n:00000001FF\n", "bad.hex:2:", "'G' at column 10 is not hexadecimal"},
    {"length disagrees", ":0200000000FE\n:00000001FF\n", "bad.hex:1:", "record length 2 disagrees with the 1 data bytes"},
    {"unknown record type", ":00000006FA\n:00000001FF\n", "bad.hex:1:", "unknown record type 0x06"},
    {"overlap in one file", ":02000000AABB99\n:01000100CC32\n:00000001FF\n", "bad.hex:2:", "overlaps data given at bad.hex:1"},
    {"overlap across an address record", ":0100000011EE\n:020000040000FA\n:0100000022DD\n:00000001FF\n", "bad.hex:3:", "HEX address 0x000000 overlaps"},
    {"no end record", ":0100000000FF\n\n", "bad.hex:2:", "no end record"},
    {"empty file", "", "bad.hex:0:", "no end record"},
    {"record after the end", ":00000001FF\n:0100000000FF\n", "bad.hex:2:", "record after the end record"},
    {"missing colon", "0100000000FF\n:00000001FF\n", "bad.hex:1:", "must start with ':'"},
    {"record too short", ":0000\n:00000001FF\n", "bad.hex:1:", "record too short"},
    {"odd digit count", ":0100000000F\n:00000001FF\n", "bad.hex:1:", "odd number of hexadecimal digits"},
    {"address record of the wrong length", ":0300000400000FEA\n:00000001FF\n", "bad.hex:1:", "type 0x04 needs 2 data bytes"},
};

TEST(IntelHex, BadInputNamesFileAndLine) {
  for (const BadHex& c : kBadHex) {
    SCOPED_TRACE(c.what);
    HexMemory memory;
    const std::string message = ErrorOf([&] { memory.AddHexText(c.text, "bad.hex"); });
    EXPECT_EQ(message.rfind(c.place, 0), 0u) << message;
    EXPECT_NE(message.find(c.message), std::string::npos) << message;
  }
}

// One record with its checksum, so fixtures say what they mean.
std::string Record(uint8_t type, uint16_t address, std::vector<uint8_t> data) {
  std::vector<uint8_t> bytes = {static_cast<uint8_t>(data.size()), static_cast<uint8_t>(address >> 8),
                                static_cast<uint8_t>(address), type};
  bytes.insert(bytes.end(), data.begin(), data.end());
  uint8_t sum = 0;
  for (uint8_t b : bytes) sum = static_cast<uint8_t>(sum + b);
  bytes.push_back(static_cast<uint8_t>(-sum));
  std::string text = ":";
  char digits[3];
  for (uint8_t b : bytes) {
    std::snprintf(digits, sizeof digits, "%02X", b);
    text += digits;
  }
  return text;
}

TEST(IntelHex, FollowsAddressRecordsAndToleratesBlankLinesAndCrlf) {
  HexMemory memory;
  memory.AddHexText(Record(0, 0x0000, {0x12, 0x34}) + "\r\n" +   //
                        Record(4, 0, {0x00, 0x01}) + "\r\n\r\n" +  // linear base 0x10000
                        Record(0, 0xFFFF, {0xAB}) + "\r\n" +       //
                        Record(2, 0, {0x20, 0x00}) + "\n" +        // segment base 0x20000
                        Record(0, 0x0002, {0x77}) + "\n" +         //
                        Record(5, 0, {0, 0, 2, 0}) + "\n" +        // start address, ignored
                        Record(1, 0, {}) + "\n\n",
                    "good.hex");
  std::map<uint32_t, uint8_t> values;
  for (const auto& [address, cell] : memory.Cells()) values[address] = cell.value;
  const std::map<uint32_t, uint8_t> expected = {{0x0, 0x12}, {0x1, 0x34}, {0x1FFFF, 0xAB}, {0x20002, 0x77}};
  EXPECT_EQ(values, expected);
  EXPECT_EQ(memory.PlaceOf(memory.Cells().at(0x1FFFF)), "good.hex:4");
}

TEST(IntelHex, OverlapAcrossFilesNamesBoth) {
  HexMemory memory;
  memory.AddHexText(Record(0, 0x10, {1, 2, 3}) + "\n" + Record(1, 0, {}), "a.hex");
  const std::string message = ErrorOf([&] {
    memory.AddHexText(Record(0, 0x0, {9}) + "\n" + Record(0, 0x12, {4}) + "\n" + Record(1, 0, {}), "b.hex");
  });
  EXPECT_EQ(message, "b.hex:2: data at HEX address 0x000012 overlaps data given at a.hex:1");
}

// ---- Laying out a family's memory -------------------------------------------

HexMemory MemoryOf(const std::string& text) {
  HexMemory memory;
  memory.AddHexText(text + "\n" + Record(1, 0, {}), "in.hex");
  return memory;
}

TEST(LayOut, Pic18GapsAreErasedAndEepromComesFromItsOwnRegion) {
  const HexMemory memory = MemoryOf(Record(0, 0x0000, {0x20, 0xEF}) + "\n" + Record(0, 0x0005, {0x42}) + "\n" +
                                    Record(4, 0, {0x00, 0xF0}) + "\n" + Record(0, 0x0002, {0x5A}));
  const ClearFirmware firmware = LayOut(memory, *LayoutOfColumn(9));
  EXPECT_EQ(firmware.program, (std::vector<uint8_t>{0x20, 0xEF, 0xFF, 0xFF, 0xFF, 0x42}));
  EXPECT_EQ(firmware.eeprom, (std::vector<uint8_t>{0xFF, 0xFF, 0x5A}));
}

TEST(LayOut, Pic24GapsKeepThePhantomByteZero) {
  const HexMemory memory = MemoryOf(Record(0, 0x0000, {1, 2, 3, 0}) + "\n" + Record(0, 0x000C, {4, 5, 6, 0}));
  const ClearFirmware firmware = LayOut(memory, *LayoutOfColumn(6));
  EXPECT_EQ(firmware.program, (std::vector<uint8_t>{1, 2, 3, 0, 0xFF, 0xFF, 0xFF, 0, 0xFF, 0xFF, 0xFF, 0, 4, 5, 6, 0}));
  EXPECT_TRUE(firmware.eeprom.empty());
}

TEST(LayOut, DataBeyondTheFamilysMemoryNamesTheRecord) {
  const struct {
    int column;
    std::string text;
    const char* message;
  } cases[] = {
      {9, Record(0, 0, {1}) + "\n" + Record(4, 0, {0x00, 0x30}) + "\n" + Record(0, 0, {0x1F}),
       "in.hex:3: data at HEX address 0x300000 lies beyond the memory of PIC18F26K80"},
      {4, Record(0, 0x2000, {1}), "in.hex:1: data at HEX address 0x002000 lies beyond the memory of PIC18F2320"},
      {9, Record(4, 0, {0x00, 0xF0}) + "\n" + Record(0, 0x0400, {1}),
       "in.hex:2: data at HEX address 0xF00400 lies beyond the memory of PIC18F26K80"},
      {5, Record(4, 0, {0x00, 0xF0}) + "\n" + Record(0, 0, {1}), "no EEPROM"},
      {6, Record(4, 0, {0x00, 0xF0}) + "\n" + Record(0, 0, {1}), "in.hex:2: data at HEX address 0xF00000"},
      {6, Record(4, 0, {0x00, 0x01}) + "\n" + Record(0, 0x5000, {1}),
       "in.hex:2: data at HEX address 0x015000 lies beyond the memory of PIC24HJ64/dsPIC33FJ64"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    const HexMemory memory = MemoryOf(c.text);
    const std::string message = ErrorOf([&] { LayOut(memory, *LayoutOfColumn(c.column)); });
    EXPECT_NE(message.find(c.message), std::string::npos) << message;
  }
}

// ---- Manifest ----------------------------------------------------------------

TEST(Manifest, ReadsLabelKeyImagesAndPlaceholders) {
  const Manifest m = ParseManifest(
      "# comment\n"
      "label  VEX 1C #2  \n"
      "key 0xA7\n"
      "image rows=0 columns=6 hex=a.hex fix=8 scrambled\n"
      "  image rows=3,4 columns=0,1 hex=b.hex hex=c.hex fix=4 plain print=3 preparation=0x81\n"
      "placeholder rows=16,32 columns=6\n"
      "placeholder rows=0 columns=8 eeprom=0\n",
      "m.txt", "/fw");
  ASSERT_TRUE(m.label);
  EXPECT_EQ(*m.label, "VEX 1C #2");
  EXPECT_EQ(m.key, 0xA7);
  ASSERT_EQ(m.slots.size(), 4u);
  EXPECT_EQ(m.slots[0].hexFiles, (std::vector<fs::path>{"/fw/a.hex"}));
  EXPECT_FALSE(m.slots[0].plain);
  EXPECT_EQ(m.slots[1].line, 5);
  EXPECT_EQ(m.slots[1].rows, (std::vector<int>{3, 4}));
  EXPECT_EQ(m.slots[1].hexFiles.size(), 2u);
  EXPECT_TRUE(m.slots[1].plain);
  EXPECT_EQ(m.slots[1].preparationCode, 0x81);
  EXPECT_TRUE(m.slots[2].placeholder);
  EXPECT_TRUE(m.slots[2].eepromPlaceholder);
  EXPECT_FALSE(m.slots[3].eepromPlaceholder);
}

TEST(Manifest, WithoutLabelOrSlots) {
  const Manifest m = ParseManifest("\n# nothing bound\n", "m.txt", ".");
  EXPECT_FALSE(m.label);
  EXPECT_TRUE(m.slots.empty());
}

TEST(Manifest, BadInputNamesTheLine) {
  const struct {
    const char* text;
    const char* message;
  } cases[] = {
      {"key 1\nimage rows=0 columns=6 hex=a fix=8 scrambled\nplaceholder rows=0 columns=5,6\n",
       "m.txt:3: slot row 0 column 6 is already bound at line 2"},
      {"placeholder rows=1 columns=47\n", "m.txt:1: column 47 is outside 0 to 46"},
      {"placeholder rows=1 columns=-1\n", "m.txt:1: column -1 is outside 0 to 46"},
      {"placeholder rows=255 columns=1\n", "m.txt:1: row 255 is outside 0 to 254"},
      {"placeholder rows=1,x columns=1\n", "m.txt:1: row: 'x' is not a number"},
      {"placeholder rows=1\n", "m.txt:1: the line names no columns"},
      {"\nslot rows=1 columns=1\n", "m.txt:2: unknown keyword 'slot'"},
      {"placeholder rows=1 columns=1 fix=2\n", "m.txt:1: unknown field 'fix=2'"},
      {"key 1\nimage rows=1 columns=1 hex=a fix=2\n", "m.txt:2: an image line says either 'plain' or 'scrambled'"},
      {"image rows=1 columns=1 hex=a fix=2 plain print=3\n", "m.txt:1: a plain image needs print=N and preparation=N"},
      {"key 1\nimage rows=1 columns=1 hex=a fix=2 scrambled print=3\n", "m.txt:2: a scrambled image takes its codes"},
      {"image rows=1 columns=1 fix=2 plain print=1 preparation=1\n", "m.txt:1: an image line needs at least one hex="},
      {"image rows=1 columns=1 hex=a plain print=1 preparation=1\n", "m.txt:1: an image line needs fix=N"},
      {"image rows=1 columns=1 hex=a fix=8 scrambled\n", "m.txt:1: a scrambled image needs the frame key"},
      {"key 256\n", "m.txt:1: key 256 is outside 0 to 255"},
      {"key 1\nkey 2\n", "m.txt:2: key given twice (first at line 1)"},
      {"label A\nlabel B\n", "m.txt:2: label given twice"},
      {"label\n", "m.txt:1: label needs a text"},
      {"placeholder rows=1 columns= \n", "m.txt:1: columns needs a value"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const std::string message = ErrorOf([&] { ParseManifest(c.text, "m.txt", "."); });
    EXPECT_EQ(message.rfind(c.message, 0), 0u) << message;
  }
}

// ---- Building a set from files -----------------------------------------------

class BuildTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() / ("kestovane-fwbuild-" + std::to_string(getpid()));
    fs::create_directories(dir);
  }
  void TearDown() override { fs::remove_all(dir); }

  void Write(const std::string& name, const std::string& text) { std::ofstream(dir / name) << text; }
  // Writes a manifest and builds it; returns the error message, if any.
  std::string BuildError(const std::string& manifest) {
    Write("m.manifest", manifest);
    return ErrorOf([&] {
      const Manifest m = ReadManifest(dir / "m.manifest");
      BuildFirmwareSet(m);
    });
  }
  // A HEX of `size` bytes of program memory from address 0.
  std::string ProgramOf(size_t size) {
    std::string text;
    for (size_t at = 0; at < size; at += 16) {
      std::vector<uint8_t> data(std::min<size_t>(16, size - at), 0x11);
      text += Record(0, static_cast<uint16_t>(at), data) + "\n";
    }
    return text + Record(1, 0, {}) + "\n";
  }

  fs::path dir;
};

TEST_F(BuildTest, BadSlotsNameTheManifestLine) {
  Write("short18.hex", ProgramOf(15));
  Write("short24.hex", ProgramOf(1025));
  Write("ok18.hex", ProgramOf(100));
  Write("ok24.hex", ProgramOf(1028));
  const std::string m = (dir / "m.manifest").string();
  const struct {
    const char* manifest;
    std::string message;
  } cases[] = {
      {"key 1\n\nimage rows=0 columns=9 hex=short18.hex fix=8 scrambled\n",
       m + ":3: the image from " + (dir / "short18.hex").string() + " is 15 bytes, too short to hold its identity bytes at 14 and 15"},
      {"key 1\nimage rows=0 columns=6 hex=short24.hex fix=8 scrambled\n",
       m + ":2: the image from " + (dir / "short24.hex").string() + " is 1025 bytes, too short to hold its identity bytes at 1024 and 1025"},
      {"key 1\nimage rows=0 columns=9 hex=ok18.hex fix=65 scrambled\n",
       m + ":2: a Fix tail of 65 bytes is longer than a block (64 bytes)"},
      {"key 1\nimage rows=0 columns=6 hex=ok24.hex fix=257 scrambled\n",
       m + ":2: a Fix tail of 257 bytes is longer than a block (256 bytes)"},
      {"image rows=0 columns=10 hex=ok18.hex fix=8 plain print=1 preparation=1\n",
       m + ":1: column 10 belongs to no device family"},
      {"key 1\nimage rows=0 columns=6,9 hex=ok24.hex fix=8 scrambled\n",
       m + ":2: columns 6 and 9 lay out their images differently"},
      {"key 1\nimage rows=0 columns=9 hex=missing.hex fix=8 scrambled\n",
       m + ":2: cannot read " + (dir / "missing.hex").string()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.manifest);
    const std::string message = BuildError(c.manifest);
    EXPECT_EQ(message.rfind(c.message, 0), 0u) << message;
  }
}

TEST_F(BuildTest, AnImageForSeveralFamiliesMustFitTheSmallest) {
  Write("big.hex", Record(0, 0, std::vector<uint8_t>(16, 0)) + "\n" + Record(0, 0x3000, {1}) + "\n" + Record(1, 0, {}));
  const std::string message = BuildError("image rows=0 columns=2,4 hex=big.hex fix=4 plain print=1 preparation=1\n");
  EXPECT_NE(message.find("big.hex:2: data at HEX address 0x003000 lies beyond the memory"), std::string::npos)
      << message;
}

TEST_F(BuildTest, GeneratedSourceBindsEveryListedSlotAndEscapesTheLabel) {
  Write("ok18.hex", ProgramOf(100));
  Write("m.manifest",
        "label Q\"1\\2\n"
        "image rows=3,4 columns=0,1 hex=ok18.hex fix=4 plain print=3 preparation=0x81\n"
        "placeholder rows=0 columns=8 eeprom=0\n");
  const Manifest m = ReadManifest(dir / "m.manifest");
  const std::string source = GenerateSource(BuildFirmwareSet(m), "m.manifest");
  EXPECT_NE(source.find("return \"Q\\\"1\\\\2\";"), std::string::npos);
  EXPECT_NE(source.find("kFirmwareBindingCount = 5;"), std::string::npos);
  EXPECT_NE(source.find("{.row = 4, .column = 1, .fixTail = fixTail0, .fixTailSize = 4, .image = image0, "
                        ".imageSize = 100,"),
            std::string::npos);
  EXPECT_NE(source.find(".eeprom = placeholderEeprom, .eepromSize = 0, .plain = 0"), std::string::npos);
  EXPECT_NE(source.find(".plain = 1, .printCode = 3, .preparationCode = 129}"), std::string::npos);
}

TEST_F(BuildTest, AManifestWithoutLabelGivesNoLabel) {
  Write("m.manifest", "# empty set\n");
  const std::string source = GenerateSource(BuildFirmwareSet(ReadManifest(dir / "m.manifest")), "m.manifest");
  EXPECT_NE(source.find("BuildCatalogueLabel() { return nullptr; }"), std::string::npos);
  EXPECT_NE(source.find("kFirmwareBindingCount = 0;"), std::string::npos);
}

// ---- This build's firmware set, traced back to its HEX ------------------------

// Undoes the frame key of a stored image frame by frame, with the frame
// geometry the programming run uses, so this checks the builder against the
// run rather than against itself.
std::vector<uint8_t> Unkeyed(const ImageSlot& slot, const FamilyGeometry& g) {
  std::vector<uint8_t> clear(slot.image, slot.image + slot.imageSize);
  for (size_t i = 0; i < clear.size(); ++i) {
    const uint32_t frameAddress = static_cast<uint32_t>(i / g.blockSize * g.blockSize / g.addressUnit);
    clear[i] ^= FrameKey(static_cast<uint8_t>(frameAddress), scrambleSwitch);
  }
  return clear;
}

TEST(ThisBuild, ImagesUnkeyedFrameByFrameAreTheHexContent) {
  FillCatalogue();
  const Manifest manifest = ReadManifest(fs::path(KESTOVANE_FIRMWARE_DIR) / "vex_1c.manifest");
  const struct {
    int column;
    uint8_t deviceCode;
    size_t imageSize;
  } images[] = {{.column = 6, .deviceCode = 254, .imageSize = 30968}, {.column = 9, .deviceCode = 72, .imageSize = 10401}};

  for (const auto& expected : images) {
    SCOPED_TRACE(expected.column);
    const SlotSpec* slotSpec = nullptr;
    for (const SlotSpec& s : manifest.slots)
      if (!s.placeholder && s.columns == std::vector<int>{expected.column}) slotSpec = &s;
    ASSERT_NE(slotSpec, nullptr);
    HexMemory memory;
    for (const auto& path : slotSpec->hexFiles) memory.AddHexFile(path);
    const ClearFirmware hex = LayOut(memory, *LayoutOfColumn(expected.column));

    const ImageSlot& slot = ImageCatalogue[kGenericRow][expected.column];
    const std::optional<FamilyGeometry> g = GeometryFor(expected.deviceCode, 9);
    ASSERT_TRUE(g);
    ASSERT_EQ(slot.plain, 0);
    ASSERT_EQ(static_cast<size_t>(slot.imageSize), expected.imageSize);
    EXPECT_EQ(Unkeyed(slot, *g), hex.program);
    // The Fix tail is the application's own reset vector, in clear.
    EXPECT_EQ(std::vector<uint8_t>(slot.fixTail, slot.fixTail + slot.fixTailSize),
              std::vector<uint8_t>(hex.program.begin(), hex.program.begin() + 8));
    EXPECT_EQ(std::vector<uint8_t>(slot.eeprom, slot.eeprom + slot.eepromSize), hex.eeprom);
  }
}

TEST(ThisBuild, ImagesStartWithAGotoToTheApplication) {
  FillCatalogue();
  // PIC24: GOTO 0x000202 in four-bytes-per-word form; PIC18: GOTO 0x0040.
  EXPECT_EQ(std::vector<uint8_t>(ImageCatalogue[0][6].fixTail, ImageCatalogue[0][6].fixTail + 8),
            (std::vector<uint8_t>{0x02, 0x02, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00}));
  EXPECT_EQ(std::vector<uint8_t>(ImageCatalogue[0][9].fixTail, ImageCatalogue[0][9].fixTail + 4),
            (std::vector<uint8_t>{0x20, 0xEF, 0x00, 0xF0}));
}

}  // namespace
}  // namespace kestovane::fwbuild
