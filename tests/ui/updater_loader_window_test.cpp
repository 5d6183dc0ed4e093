// The Updater and Loader windows driven as the operator drives them.
#include <gtest/gtest.h>

#include "app/feedback.h"
#include "protocol/protocol_support.h"
#include "ui/loader_window.h"
#include "ui/serialsetup.h"
#include "ui/updater_window.h"

namespace kestovane {
namespace {

using testing::BriefClock;
using testing::SimDevice;
using testing::StartSimulator;

class OperatorWindows : public ::testing::Test {
 protected:
  void TearDown() override {
    device_.reset();
    ResetPortTable();
  }
  void Press(TControl* button) {
    Application->PostClick(button);
    Application->ProcessMessages();
  }
  std::unique_ptr<sim::SimulatedBootloader> device_;
};

TEST_F(OperatorWindows, UpdaterUpdateProgramsAndShowsProgramOkInGreen) {
  testing::FreshProtocol("PLAIN 1.0");
  Form1->Show();
  device_ = StartSimulator(SimDevice(72, 9, 20, 0x0a));
  Press(Form1->Button1);
  EXPECT_EQ(Form1->Label2->Caption(), " Program Ok ");
  EXPECT_EQ(Form1->Label2->Color(), clGreen);
  EXPECT_EQ(Form1->Label3->Caption(), "BIOS:09 - ZEC_R0x - Preparation0a");
  EXPECT_TRUE(Form1->Button1->Visible());
}

TEST_F(OperatorWindows, UpdaterChangePortHidesTheResultAndIdentityLinesThenShowsTheDialog) {
  testing::FreshProtocol("PLAIN 1.0");
  Form1->Show();
  ShowResult(" not Response ", clRed, 0);
  Form1->Label3->Show();
  Press(Form1->S1);
  EXPECT_FALSE(Form1->Label2->Visible());
  EXPECT_FALSE(Form1->Label3->Visible());
  EXPECT_TRUE(Form3->Visible());
  Press(Form3->Button2);  // Cancel
  EXPECT_FALSE(Form3->Visible());
}

struct LoaderOutcome {
  const char* name;
  bool device;        // a device on the line (otherwise a line where nobody answers)
  const char* port;   // the port selected
  const char* text;   // the message line afterwards
  TColor colour;
};

std::ostream& operator<<(std::ostream& os, const LoaderOutcome& o) { return os << o.name; }

class LoaderUpdateFw : public OperatorWindows, public ::testing::WithParamInterface<LoaderOutcome> {};

TEST_P(LoaderUpdateFw, ShowsTheOutcomeInItsMessageLine) {
  const LoaderOutcome& o = GetParam();
  testing::FreshProtocol("G. 1.0");
  Form6->Show();
  std::unique_ptr<testing::PtyPeer> silentLine;
  if (o.device)
    device_ = StartSimulator(SimDevice(72, 9, 20, 0x0a));
  else
    silentLine = std::make_unique<testing::PtyPeer>(13);
  SelectedPortIndex = static_cast<int16_t>(std::string(o.port) == "COM13" ? 12 : 199);
  BriefClock clock;
  testing::ScopedClock scoped(clock);
  Press(Form6->Button1);
  EXPECT_EQ(Form6->Label1->Caption(), o.text);
  EXPECT_EQ(Form6->Label1->Font().color, o.colour);
  EXPECT_TRUE(Form6->Button1->Enabled());
  EXPECT_FALSE(Form6->Button2->Enabled());
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, LoaderUpdateFw,
    ::testing::Values(LoaderOutcome{"programmed", true, "COM13", "Successfully updated", clGreen},
                      LoaderOutcome{"no_device", false, "COM13", "The device is not find.", clBlack},
                      LoaderOutcome{"port_not_valid", false, "COM200", "Port not valid. Select a new port.", clRed}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(OperatorWindows, LoaderShowsTheDevicesReadouts) {
  testing::FreshProtocol("G. 1.0");
  Form6->Show();
  device_ = StartSimulator(SimDevice(72, 9, 20, 0x0a));
  Press(Form6->Button1);
  EXPECT_EQ(Form6->Label6->Caption(), "ZEC_R0x - 0x0a");
  EXPECT_EQ(Form6->Label7->Caption(), "0x09");
}

TEST_F(OperatorWindows, LoaderChangePortPutsTheToolDialogAtTheWindowsCorner) {
  testing::FreshProtocol("G. 1.0");
  Form6->Show();
  Form6->Label6->SetCaption("x");
  Press(Form6->ChangePort1);
  EXPECT_TRUE(Form3->Visible());
  EXPECT_EQ(Form3->BorderStyle(), TBorderStyle::bsToolWindow);
  EXPECT_EQ(Form3->Left(), Form6->Left());
  EXPECT_EQ(Form3->Top(), Form6->Top());
  EXPECT_EQ(Form6->Label6->Caption(), "");
}

}  // namespace
}  // namespace kestovane
