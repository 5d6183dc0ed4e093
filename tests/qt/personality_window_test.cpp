// Renders each personality's main window offscreen and saves its picture
// under the build folder, so anyone can look at what the operator gets.
#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <filesystem>

#include "platform/qt/qt_renderer.h"
#include "support/program.h"

namespace kestovane {
namespace {

struct WindowCase {
  const char* file;
  const char* label;
  const char* startCaption;
  int clientWidth, clientHeight;
};

std::ostream& operator<<(std::ostream& os, const WindowCase& c) { return os << c.file; }

class PersonalityWindow : public ::testing::TestWithParam<WindowCase> {};

TEST_P(PersonalityWindow, RendersAtItsDesignedSizeAndSavesAPicture) {
  const WindowCase& c = GetParam();
  testing::StartProgram(c.label);
  QtRenderer renderer;
  Application->SetRenderer(&renderer);
  TForm* main = Application->MainForm();
  main->Show();
  Application->ProcessMessages();

  QWidget* client = renderer.ClientOf(main);
  ASSERT_NE(client, nullptr);
  EXPECT_EQ(client->width(), c.clientWidth);
  EXPECT_EQ(client->height(), c.clientHeight);
  EXPECT_EQ(renderer.WindowOf(main)->windowTitle().toStdString(), main->Caption());
  auto* start = qobject_cast<QPushButton*>(renderer.WidgetOf(main->FindControl("Button1")));
  ASSERT_NE(start, nullptr);
  EXPECT_EQ(start->text().toStdString(), c.startCaption);
  EXPECT_TRUE(start->isVisible());

  const std::string path = std::string("window-") + c.file + ".png";
  ASSERT_TRUE(renderer.SaveWindowPng(*Application, main, path));
  EXPECT_GT(std::filesystem::file_size(path), 1000u);
  Application->SetRenderer(nullptr);
}

INSTANTIATE_TEST_SUITE_P(Personalities, PersonalityWindow,
                         ::testing::Values(WindowCase{"upgrade", "VEX 1C 01.05.00.02", "START", 630, 181},
                                           WindowCase{"updater", "PLAIN 1.0", "&Update", 511, 265},
                                           WindowCase{"loader", "G. 1.0", "Update FW", 635, 255}));

}  // namespace
}  // namespace kestovane

#include "app/feedback.h"
#include "protocol/protocol_support.h"
#include "ui/upgrade_window.h"

namespace kestovane {
namespace {

// The picture the README shows: this build's window after a successful run.
TEST(UpgradeWindowPicture, AfterASuccessfulRunShowsProgramOK) {
  testing::FreshProtocol("VEX 1C 01.05.00.02");
  auto device = testing::StartSimulator(testing::SimDevice(254, 10, 16, 0x04));
  QtRenderer renderer;
  Application->SetRenderer(&renderer);
  Form5->Show();
  Application->PostClick(Form5->Button1);
  Application->ProcessMessages();
  EXPECT_EQ(Form5->StatusBar1->PanelText(OperationPanel), "Program OK");
  ASSERT_TRUE(renderer.SaveWindowPng(*Application, Form5, "window-upgrade-after-run.png"));
  Application->SetRenderer(nullptr);
  device.reset();
  ResetPortTable();
}

}  // namespace
}  // namespace kestovane
