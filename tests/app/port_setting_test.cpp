// The windows' part in remembering the serial port: read at creation, shown
// in the status bar, written back when the window closes.
#include <pty.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "app/personality.h"
#include "serial/port_channel.h"
#include "settings/settings_store.h"
#include "support/program.h"
#include "ui/loader_window.h"
#include "ui/updater_window.h"
#include "ui/upgrade_window.h"

namespace kestovane {
namespace {

namespace fs = std::filesystem;

constexpr const char* kUpgradeLabel = "VEX 1C 01.05.00.02";
constexpr const char* kLoaderLabel = "G. 3";

class PortSetting : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::PrivateRuntimeDir();
    fs::remove_all(fs::path(std::getenv("XDG_CONFIG_HOME")) / "kestovane");
    ResetPortTable();
    ResetSettingsProblems();
  }
  void TearDown() override { ResetPortTable(); }
};

TEST_F(PortSetting, UpdaterWithoutAStoredPortUsesTheFirstAndStoresItOnClose) {
  testing::StartProgram(nullptr);
  EXPECT_EQ(SelectedPortIndex, 0);
  EXPECT_EQ(OpenedPortIndex, -1);
  EXPECT_EQ(Form1->StatusBar1->PanelText(0), "COM1");
  Form1->Close();
  EXPECT_EQ(ReadSetting("com", 0), "0");
}

TEST_F(PortSetting, UpdaterShowsTheStoredPortAndWritesItBack) {
  struct Case {
    const char* stored;
    const char* label;
    const char* written;
  };
  constexpr Case kCases[] = {{.stored = "4", .label = "COM5", .written = "4"},
                             {.stored = "-1", .label = "-----", .written = "-1"},
                             {.stored = "  7x", .label = "COM8", .written = "7"},
                             {.stored = "abc", .label = "COM1", .written = "0"}};
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.stored);
    WriteSetting("com", c.stored, 0);
    testing::StartProgram(nullptr);
    EXPECT_EQ(Form1->StatusBar1->PanelText(0), c.label);
    EXPECT_EQ(OpenedPortIndex, static_cast<int16_t>(SelectedPortIndex - 1));
    Form1->Close();
    EXPECT_EQ(ReadSetting("com", 0), c.written);
  }
}

TEST_F(PortSetting, ClosingTheWindowClosesTheOpenPort) {
  int master = -1, slave = -1;
  char name[256] = {};
  ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
  close(slave);
  const std::string mapFolder = testing::PrivateRuntimeDir() + "/ports";
  fs::create_directories(mapFolder);
  fs::remove(mapFolder + "/COM3");
  fs::create_symlink(name, mapFolder + "/COM3");
  setenv("KESTOVANE_PORT_DIR", mapFolder.c_str(), 1);

  WriteSetting("com", "2", 0);
  testing::StartProgram(nullptr);
  ReopenSelectedPort();
  ASSERT_GE(PortDescriptor(2), 0);
  Form1->Close();
  EXPECT_EQ(PortDescriptor(2), -1);
  EXPECT_EQ(ReadSetting("com", 0), "2");

  unsetenv("KESTOVANE_PORT_DIR");
  close(master);
}

TEST_F(PortSetting, UpgradeAndUpdaterBuildsKeepSeparatePorts) {
  WriteSetting("com", "3", 0);
  WriteSetting("com", "6", 1);
  testing::StartProgram(kUpgradeLabel);
  ASSERT_EQ(CurrentPersonality, Personality::Upgrade);
  EXPECT_EQ(Form5->StatusBar1->PanelText(0), "COM7");
  SelectedPortIndex = 9;  // as the Setup dialog would
  Form5->Close();
  EXPECT_EQ(ReadSetting("com", 1), "9");
  EXPECT_EQ(ReadSetting("com", 0), "3");

  testing::StartProgram(nullptr);
  EXPECT_EQ(Form1->StatusBar1->PanelText(0), "COM4");
}

TEST_F(PortSetting, UpgradeWithoutAStoredPortShowsTheFirst) {
  testing::StartProgram(kUpgradeLabel);
  EXPECT_EQ(Form5->StatusBar1->PanelText(0), "COM1");
  Form5->Close();
  EXPECT_EQ(ReadSetting("com", 1), "0");
}

TEST_F(PortSetting, LoaderAsksForAPortWhenNoneCountsAsOpen) {
  struct Case {
    const char* stored;  // nullptr: nothing stored
    int16_t selected, opened;
    bool asks;
  };
  constexpr Case kCases[] = {
      {.stored = nullptr, .selected = 0, .opened = -1, .asks = true},
      {.stored = "-1", .selected = -1, .opened = 0, .asks = false},
      {.stored = "-2", .selected = -2, .opened = -1, .asks = true},
      {.stored = "5", .selected = 5, .opened = 6, .asks = false},
      {.stored = "32767", .selected = 32767, .opened = -32768, .asks = true},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.stored ? c.stored : "(none)");
    fs::remove(SettingsFilePath(2));
    if (c.stored) WriteSetting("com", c.stored, 2);
    testing::StartProgram(kLoaderLabel);
    ASSERT_EQ(CurrentPersonality, Personality::Loader);
    EXPECT_EQ(SelectedPortIndex, c.selected);
    EXPECT_EQ(OpenedPortIndex, c.opened);
    EXPECT_EQ(Form6->Label1->Caption(),
              c.asks ? "Port not valid. Select a new port." : "Push 'Update FW' button and connect a device");
    // The prompt's look stays.
    EXPECT_EQ(Form6->Label1->Font().style, fsItalic);
    Form6->Close();
    EXPECT_EQ(ReadSetting("com", 2), PortIndexText(c.selected));
  }
}

TEST_F(PortSetting, AnUnreadableStoredPortIsToldOnceAndTheProgramGoesOnWithTheFirstPort) {
  fs::create_directories(fs::path(SettingsFilePath(0)).parent_path());
  std::ofstream(SettingsFilePath(0), std::ios::binary) << std::string("com=4\0", 6);
  testing::StartProgram(nullptr);
  EXPECT_EQ(SelectedPortIndex, 0);
  EXPECT_EQ(Form1->StatusBar1->PanelText(0), "COM1");
  ASSERT_EQ(Application->ShownBoxes().size(), 1u);
  EXPECT_EQ(Application->ShownBoxes()[0].caption, "Error");
  EXPECT_TRUE(Application->ShownErrors().empty());
  Form1->Close();
  EXPECT_EQ(ReadSetting("com", 0), "0");
}

}  // namespace
}  // namespace kestovane
