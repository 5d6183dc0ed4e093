// The Upgrade window driven as the operator drives it: START, STOP, closing,
// and a batch over several devices on one line.
#include <gtest/gtest.h>

#include "app/feedback.h"
#include "catalogue/catalogue.h"
#include "protocol/protocol_support.h"
#include "settings/settings_store.h"
#include "ui/upgrade_window.h"

namespace kestovane {
namespace {

using testing::Operator;
using testing::SimDevice;
using testing::StartSimulator;

constexpr const char* kThisBuild = "VEX 1C 01.05.00.02";
constexpr const char* kBatchBuild = "VEX DLQ 1C 01.05.00.02";

class UpgradeWindow : public ::testing::Test {
 protected:
  void Open(const char* label) {
    testing::FreshProtocol(label);
    Form5->Show();
  }
  void PressStart() {
    Application->PostClick(Form5->Button1);
    Application->ProcessMessages();
  }
  const std::string& Operation() const { return Form5->StatusBar1->PanelText(OperationPanel); }
  void TearDown() override {
    device_.reset();
    ResetPortTable();
  }
  std::unique_ptr<sim::SimulatedBootloader> device_;
};

TEST_F(UpgradeWindow, StartProgramsOneDeviceWithoutBatchMode) {
  Open(kThisBuild);
  device_ = StartSimulator(SimDevice(254, 10, 16, 0x04));
  PressStart();
  EXPECT_EQ(Operation(), "Program OK");
  EXPECT_TRUE(Form5->Button1->Visible());
  EXPECT_FALSE(Form5->Button2->Visible());
  EXPECT_EQ(device_->GetCounters().fixFrames, 1u);
}

TEST_F(UpgradeWindow, StopDuringARunEndsItWithUserAbort) {
  Open(kThisBuild);
  device_ = StartSimulator(SimDevice(254, 10, 16, 0x04));
  Operator stop([] { return Form5->ProgressBar1->Position() >= 1280; },
                [] { Application->PostClick(Form5->Button2); });
  PressStart();
  EXPECT_TRUE(stop.done);
  EXPECT_EQ(Operation(), " User Abort !! ");
  EXPECT_TRUE(Form5->Button1->Visible());
  EXPECT_EQ(device_->GetCounters().fixFrames, 0u);
}

TEST_F(UpgradeWindow, AStopLeftPendingByAnEarlierPressDoesNotAbortTheNextStart) {
  Open(kThisBuild);
  device_ = StartSimulator(SimDevice(254, 10, 16, 0x04));
  Form5->Button2Click();  // STOP while no wait runs
  PressStart();
  EXPECT_EQ(Operation(), "Program OK");
}

TEST_F(UpgradeWindow, AnImageWarningIsShownAndStartComesBack) {
  Open(kThisBuild);
  device_ = StartSimulator(SimDevice(67, 9, 16, 0x04));  // a placeholder slot
  PressStart();
  EXPECT_EQ(Operation(), " No Hex inside !! ");
  EXPECT_TRUE(Form5->Button1->Visible());
  EXPECT_FALSE(Form5->Button2->Visible());
}

TEST_F(UpgradeWindow, ClosingDuringARunStopsTheRunThenCloses) {
  Open(kThisBuild);
  device_ = StartSimulator(SimDevice(254, 10, 16, 0x04));
  Operator closer([] { return Form5->ProgressBar1->Position() >= 1280; },
                  [] { Application->PostClose(Form5); });
  PressStart();
  EXPECT_TRUE(closer.done);
  EXPECT_EQ(Operation(), " User Abort !! ");
  EXPECT_FALSE(Form5->Visible());
  EXPECT_TRUE(Application->Terminated());
  EXPECT_EQ(ReadSetting("com", 1), "12");  // COM13, where the device was
  EXPECT_EQ(CheckPort(12), -2);            // and its port is closed
}

TEST_F(UpgradeWindow, ABatchProgramsEveryPendingFamilyAndMeetsADoneOneWithTheSpecialCommands) {
  Open(kBatchBuild);
  ASSERT_EQ(BatchMode, 1);
  sim::SimConfig c = SimDevice(252, 10, 16, 0x04);
  c.personalities[0].advance = sim::Advance::OnCommand4;
  sim::Personality k80;
  k80.deviceCode = 72;
  k80.version = 9;
  k80.printCode = 20;
  k80.preparationCode = 0x0a;
  c.personalities.push_back(k80);
  // Real time: the pauses between the special frames are what lets the
  // device's answers arrive and be drained before the next search.
  device_ = StartSimulator(c);

  std::vector<int> batchPositions;
  Operator watch([&] {
    const int p = Form5->ProgressBar2->Position();
    if (batchPositions.empty() || batchPositions.back() != p) batchPositions.push_back(p);
    return false;
  }, [] {});
  PressStart();

  EXPECT_EQ(Form5->ProgressBar2->Max(), 3);
  EXPECT_EQ(Form5->ProgressBar2->Position(), 3);
  EXPECT_EQ(batchPositions, (std::vector<int>{0, 2}));  // 3 comes as the batch ends
  EXPECT_EQ(Operation(), "Program OK");
  EXPECT_EQ(remainingCount, 0);

  std::vector<std::string> kinds;
  for (const auto& r : device_->Transcript())
    if (r.direction == sim::Direction::Received && (r.kind == "access" || r.kind == "command4" || r.kind == "fix"))
      kinds.push_back(r.kind + "@" + std::to_string(r.personality));
  EXPECT_EQ(kinds, (std::vector<std::string>{"fix@0", "access@0", "command4@0", "fix@1"}));
  for (const auto& r : device_->Transcript()) {
    if (r.kind == "access") {
      EXPECT_EQ(r.bytes.size(), 19u);
      EXPECT_EQ(std::string(r.bytes.begin() + 2, r.bytes.begin() + 17), "T7r2Qm9Kx4Vb8Ne");
    }
    if (r.kind == "command4") {
      EXPECT_EQ(r.bytes, (std::vector<uint8_t>{0x04, 0x00, 0x00, 0x04}));
    }
  }
  EXPECT_EQ(device_->GetCounters().personality, 1u);
}

}  // namespace
}  // namespace kestovane

namespace kestovane {
namespace {

TEST_F(UpgradeWindow, AStartPressedWhileARunIsGoingStartsNothing) {
  Open(kThisBuild);
  device_ = StartSimulator(SimDevice(254, 10, 16, 0x04));
  int presses = 0;
  // START is hidden during a run; a press that still gets through (START is
  // shown again during a batch's last pause) must not nest a second run.
  Operator again([] { return Form5->ProgressBar1->Position() >= 1280; },
                 [&] {
                   ++presses;
                   Form5->Button1Click();
                 });
  PressStart();
  EXPECT_EQ(presses, 1);
  EXPECT_EQ(Operation(), "Program OK");
  EXPECT_EQ(device_->GetCounters().handshakes, 1u);
  EXPECT_EQ(device_->GetCounters().fixFrames, 1u);
}

}  // namespace
}  // namespace kestovane
