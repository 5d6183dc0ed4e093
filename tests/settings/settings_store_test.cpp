#include "settings/settings_store.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include <gtest/gtest.h>

#include "support/program.h"

namespace kestovane {
namespace {

namespace fs = std::filesystem;

struct IndexCase {
  const char* text;
  int16_t index;
};

std::ostream& operator<<(std::ostream& os, const IndexCase& c) { return os << '"' << c.text << '"'; }

class ComText : public ::testing::TestWithParam<IndexCase> {};

TEST_P(ComText, ReadsAsAPortIndex) { EXPECT_EQ(PortIndexFromText(GetParam().text), GetParam().index); }

INSTANTIATE_TEST_SUITE_P(Table, ComText,
                         ::testing::Values(IndexCase{"", 0}, IndexCase{"0", 0}, IndexCase{"4", 4},
                                           IndexCase{"-1", -1}, IndexCase{"-2", -2}, IndexCase{"  7x", 7},
                                           IndexCase{"abc", 0}, IndexCase{"70000", 4464},
                                           IndexCase{"-70000", -4464}, IndexCase{"+12", 12},
                                           IndexCase{"- 5", 0}, IndexCase{"\t 256", 256},
                                           IndexCase{"99999999999999999999", static_cast<int16_t>(0xFFFF)},
                                           IndexCase{"32768", -32768}));

TEST(ComText, WritesBackAsPlainDecimal) {
  for (int16_t index : {int16_t{0}, int16_t{4}, int16_t{-1}, int16_t{256}, int16_t{-32768}, int16_t{32767}}) {
    const std::string text = PortIndexText(index);
    EXPECT_EQ(PortIndexFromText(text), index) << text;
    EXPECT_EQ(text.find_first_of(" +"), std::string::npos) << text;
  }
  EXPECT_EQ(PortIndexText(-1), "-1");
  EXPECT_EQ(PortIndexText(4), "4");
}

class SettingsStore : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::PrivateRuntimeDir();
    folder_ = fs::path(std::getenv("XDG_CONFIG_HOME")) / "kestovane";
    fs::remove_all(folder_);
    ResetSettingsProblems();
    SetSettingsProblemSink([this](const std::string& text, bool operatorMustKnow) {
      (operatorMustKnow ? told_ : logged_).push_back(text);
    });
  }
  void TearDown() override { SetSettingsProblemSink(nullptr); }

  static void Put(SettingsRoot root, const std::string& content) {
    fs::create_directories(fs::path(SettingsFilePath(root)).parent_path());
    std::ofstream(SettingsFilePath(root), std::ios::binary) << content;
  }
  static std::string Content(SettingsRoot root) {
    std::ifstream in(SettingsFilePath(root), std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }

  fs::path folder_;
  std::vector<std::string> told_, logged_;
};

TEST_F(SettingsStore, EachRootHasItsOwnFileNamedAfterItsKey) {
  struct Case {
    SettingsRoot root;
    const char* key;
    const char* file;
  };
  constexpr Case kCases[] = {
      {.root = 0, .key = "Software\\QEN\\Kestovane\\", .file = "Software/QEN/Kestovane.ini"},
      {.root = 1, .key = "Software\\Orvalinder\\Upgrade\\", .file = "Software/Orvalinder/Upgrade.ini"},
      {.root = 2, .key = "Software\\Pelzane\\Loader\\", .file = "Software/Pelzane/Loader.ini"},
      {.root = 9, .key = "Software\\QEN\\Kestovane\\", .file = "Software/QEN/Kestovane.ini"},
  };
  for (const Case& c : kCases) {
    EXPECT_STREQ(SettingsKeyPath(c.root), c.key);
    EXPECT_EQ(SettingsFilePath(c.root), (folder_ / c.file).string());
  }
}

TEST_F(SettingsStore, MissingFileOrValueReadsEmpty) {
  EXPECT_EQ(ReadSetting("com", 0), "");
  Put(0, "other=1\n");
  EXPECT_EQ(ReadSetting("com", 0), "");
  Put(0, "com=\n");
  EXPECT_EQ(ReadSetting("com", 0), "");
  EXPECT_TRUE(told_.empty());
  EXPECT_TRUE(logged_.empty());
}

TEST_F(SettingsStore, WriteCreatesTheFileAndReadsBack) {
  WriteSetting("com", "4", 0);
  EXPECT_EQ(ReadSetting("com", 0), "4");
  EXPECT_NE(Content(0).find("\ncom=4\n"), std::string::npos) << Content(0);
  WriteSetting("com", "-1", 0);
  EXPECT_EQ(ReadSetting("com", 0), "-1");
  EXPECT_EQ(ReadSetting("com", 1), "");
}

TEST_F(SettingsStore, HandEditedFilesReadAsPeopleWriteThem) {
  Put(2, "; chosen by hand\r\n[Software\\Pelzane\\Loader\\]\r\n\r\n  COM =7\r\n");
  EXPECT_EQ(ReadSetting("com", 2), "7");
  WriteSetting("com", "3", 2);
  // Only the value's own line changes.
  EXPECT_EQ(Content(2), "; chosen by hand\r\n[Software\\Pelzane\\Loader\\]\r\n\r\ncom=3\n");
  EXPECT_TRUE(told_.empty());
}

TEST_F(SettingsStore, AFileThatCannotBeReadWholeIsNeitherCutNorReplaced) {
  // Larger than any settings file: reading it would give a cut copy.
  const std::string huge = "com=5\n" + std::string(2u << 20, ';') + "\n";
  Put(1, huge);
  EXPECT_EQ(ReadSetting("com", 1), "");
  WriteSetting("com", "4", 1);
  EXPECT_EQ(Content(1), huge);
  EXPECT_FALSE(fs::exists(SettingsFilePath(1) + ".unreadable"));
  EXPECT_FALSE(logged_.empty());
}

TEST_F(SettingsStore, UnreadableValueReadsEmptyAndIsToldOnce) {
  const std::string kBad[] = {
      std::string("com=4\0\n", 7),  // NUL
      "com=\xff\xfe\n",             // not UTF-8
      "com=4\nthis line is no setting\n",
      "com=\xc0\xb4\n",  // overlong form of '4'
  };
  for (const std::string& content : kBad) {
    SCOPED_TRACE(::testing::PrintToString(content));
    ResetSettingsProblems();
    told_.clear();
    Put(0, content);
    EXPECT_EQ(ReadSetting("com", 0), "");
    EXPECT_EQ(ReadSetting("com", 0), "");
    ASSERT_EQ(told_.size(), 1u);
    EXPECT_NE(told_[0].find(SettingsFilePath(0)), std::string::npos);
  }
}

TEST_F(SettingsStore, WritingOverAnUnreadableFileRepairsItAndKeepsTheOriginalAside) {
  const std::string original = "com=\xff\nkeep=me\n";
  Put(1, original);
  WriteSetting("com", "5", 1);
  EXPECT_EQ(ReadSetting("com", 1), "5");
  EXPECT_EQ(ReadSetting("keep", 1), "me");
  std::ifstream aside(SettingsFilePath(1) + ".unreadable", std::ios::binary);
  std::stringstream s;
  s << aside.rdbuf();
  EXPECT_EQ(s.str(), original);
}

TEST_F(SettingsStore, ByDefaultAnUnreadableValueIsShownInAMessageBox) {
  SetSettingsProblemSink(nullptr);
  testing::ResetProgram();
  Put(0, std::string("com=\0", 5));
  EXPECT_EQ(ReadSetting("com", 0), "");
  ASSERT_EQ(Application->ShownBoxes().size(), 1u);
  EXPECT_EQ(Application->ShownBoxes()[0].caption, "Error");
}

TEST_F(SettingsStore, ValuesThatAreNotOneLineOfTextAreNotStored) {
  WriteSetting("com", "1", 0);
  WriteSetting("com", "2\nx=3", 0);
  WriteSetting("com", std::string("2\0", 2), 0);
  EXPECT_EQ(ReadSetting("com", 0), "1");
  EXPECT_EQ(ReadSetting("x", 0), "");
  EXPECT_EQ(logged_.size(), 2u);
}

// A writer killed at any moment of a write leaves the file whole: the old
// value or the new one, never a torn or empty file.
TEST_F(SettingsStore, SurvivesAKillAtAnyPointOfAWrite) {
  WriteSetting("com", "0", 0);
  std::mt19937 random(20240527);
  std::uniform_int_distribution<int> delayUs(0, 4000);
  for (int round = 0; round < 40; ++round) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      for (int i = 1;; ++i) WriteSetting("com", std::to_string(i), 0);
    }
    usleep(static_cast<useconds_t>(delayUs(random)));
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);

    const std::string value = ReadSetting("com", 0);
    ASSERT_FALSE(value.empty()) << "round " << round << ": " << Content(0);
    ASSERT_EQ(value.find_first_not_of("0123456789"), std::string::npos) << value;
    ASSERT_TRUE(told_.empty()) << told_[0];
  }
  // Temporaries of the killed writes go with the next write.
  WriteSetting("com", "7", 0);
  int files = 0;
  for (const auto& entry : fs::directory_iterator(fs::path(SettingsFilePath(0)).parent_path())) {
    (void)entry;
    ++files;
  }
  EXPECT_EQ(files, 1);
  EXPECT_EQ(ReadSetting("com", 0), "7");
}

}  // namespace
}  // namespace kestovane
