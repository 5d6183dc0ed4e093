// Programming runs end to end: the updater's search and programming sequence
// against the simulated bootloader, through the real serial channel, checking
// the frames the device received and its memories afterwards.
#include <gtest/gtest.h>

#include <poll.h>

#include <algorithm>
#include <functional>

#include "app/feedback.h"
#include "catalogue/catalogue.h"
#include "catalogue/firmware_set.h"
#include "programming/geometry.h"
#include "programming/programming_sequence.h"
#include "protocol/device_search.h"
#include "protocol/protocol_support.h"
#include "ui/updater_window.h"
#include "ui/upgrade_window.h"

namespace kestovane {
namespace {

using testing::StartSimulator;

constexpr const char* kUpdaterLabel = "PLAIN 1.0";

// One search and, when it finds the device, one programming run, as the
// Updater window's Update button does.
int8_t SearchAndProgram(TProgressBar* bar, TStatusBar* status) {
  if (SearchDevice(bar, status) != 0) return -1;
  return PrgMode(bar, status);
}

std::vector<sim::FrameRecord> FramesOfKind(const sim::SimulatedBootloader& d, const std::string& kind) {
  std::vector<sim::FrameRecord> out;
  for (const auto& r : d.Transcript())
    if (r.direction == sim::Direction::Received && r.kind == kind) out.push_back(r);
  return out;
}

// The clear image byte at an offset: the catalogue keeps it keyed by the
// address of the frame that carries it.
uint8_t ClearByte(const ImageSlot& slot, uint32_t offset, const FamilyGeometry& g) {
  const uint32_t frameAddress = offset / g.blockSize * g.blockSize / g.addressUnit;
  return slot.image[offset] ^ FrameKey(static_cast<uint8_t>(frameAddress), scrambleSwitch);
}

using testing::BriefClock;
using testing::Operator;
using testing::SimDevice;

class ProgrammingRun : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::FreshProtocol(kUpdaterLabel);
    Form1->Show();  // the operator can click only what is on the screen
  }
  void TearDown() override {
    device_.reset();
    ResetPortTable();
  }
  std::unique_ptr<sim::SimulatedBootloader> device_;
};

TEST_F(ProgrammingRun, ThisBuildsK80ImageLandsAsTheWorkedExampleSays) {
  device_ = StartSimulator(SimDevice(72, 9, 20, 0x0a));
  ASSERT_EQ(SearchAndProgram(Form1->ProgressBar1, Form1->StatusBar1), 0);
  EXPECT_EQ(Form1->Label2->Caption(), " Program Ok ");
  EXPECT_EQ(Form1->Label2->Color(), clGreen);

  const ImageSlot& slot = ImageCatalogue[kGenericRow][9];
  const FamilyGeometry g = *GeometryFor(72, 9);
  ASSERT_EQ(slot.imageSize, 10401);

  // 162 full blocks, then the last frame at 0x2880: 33 image bytes and 31 fill.
  std::vector<sim::FrameRecord> blocks = FramesOfKind(*device_, "block");
  ASSERT_EQ(blocks.size(), 163u);
  for (size_t n = 0; n < 162; ++n) {
    EXPECT_EQ(blocks[n].address, static_cast<int64_t>(n * 64));
    EXPECT_EQ(blocks[n].bytes.size(), 69u);
  }
  const sim::FrameRecord& last = blocks[162];
  EXPECT_EQ(last.address, 0x2880);
  EXPECT_EQ(last.bytes[3], 64);
  const uint8_t fillKey = FrameKey(0x80, scrambleSwitch);
  for (int k = 33; k < 64; ++k) EXPECT_EQ(last.bytes[4 + k], 0xFF ^ fillKey) << k;

  const auto fixes = FramesOfKind(*device_, "fix");
  ASSERT_EQ(fixes.size(), 1u);
  EXPECT_EQ(fixes[0].address, 0xFE40);
  EXPECT_EQ(FramesOfKind(*device_, "eeprom").size(), 1024u);

  // Flash: the image in clear, its reset vector patched into the bootloader.
  const std::vector<uint8_t> flash = device_->Flash();
  const uint8_t patch[] = {0x40, 0xEF, 0x7F, 0xF0};
  EXPECT_TRUE(std::equal(patch, patch + 4, flash.begin()));
  for (uint32_t i = 4; i < 10401; ++i) ASSERT_EQ(flash[i], ClearByte(slot, i, g)) << "image byte " << i;
  for (uint32_t i = 10401; i < 0x28C0; ++i) ASSERT_EQ(flash[i], 0xFF) << i;
  // The block below the bootloader: 56 fill bytes, then the Fix tail with its
  // last four bytes cleared for the K80 parts.
  for (uint32_t i = 0xFE40; i < 0xFE40 + 56; ++i) ASSERT_EQ(flash[i], 0xFF) << i;
  for (int t = 0; t < 8; ++t) EXPECT_EQ(flash[0xFE40 + 56 + t], t < 4 ? slot.fixTail[t] : 0) << t;
  EXPECT_EQ(slot.fixTail[1], 0xEF);  // the application's own GOTO

  const std::vector<uint8_t> eeprom = device_->Eeprom();
  ASSERT_GE(eeprom.size(), 1024u);
  EXPECT_TRUE(std::equal(slot.eeprom, slot.eeprom + 1024, eeprom.begin()));
}

TEST_F(ProgrammingRun, BlocksWhoseFollowingAddressLiesInTheProtectedRangeAreLeftOut) {
  sim::SimConfig c = SimDevice(254, 10, 16, 0x04);
  c.personalities[0].protectedStart = 0x0800;
  c.personalities[0].protectedCount = 0x0400;
  device_ = StartSimulator(c);
  ASSERT_EQ(SearchAndProgram(Form1->ProgressBar1, Form1->StatusBar1), 0);
  EXPECT_EQ(Form1->Label2->Caption(), " Program Ok ");
  EXPECT_EQ(Identity.protectedStart, 0x0800);
  EXPECT_EQ(Identity.protectedCount, 0x0400);

  std::vector<int64_t> sent;
  for (const auto& r : FramesOfKind(*device_, "block")) sent.push_back(r.address);
  // 121 blocks of 128 address units; those at 0x780 to 0xB80 end in the range.
  EXPECT_EQ(sent.size(), 120u - 9u);
  for (int64_t a = 0x780; a <= 0xB80; a += 0x80) EXPECT_EQ(std::count(sent.begin(), sent.end(), a), 0) << a;
  EXPECT_EQ(std::count(sent.begin(), sent.end(), 0x700), 1);
  EXPECT_EQ(std::count(sent.begin(), sent.end(), 0xC00), 1);
  ASSERT_EQ(FramesOfKind(*device_, "last").size(), 1u);
  EXPECT_EQ(FramesOfKind(*device_, "last")[0].address, 120 * 128);
  EXPECT_EQ(device_->GetCounters().guardRefusals, 0u);
  EXPECT_EQ(Form1->Label4->Caption().substr(0, 19), "KESTOVANE SIMULATOR");
}

struct RefusedRun {
  const char* name;
  uint8_t code, version;
  const char* result;
  const char* devicePanel;  // DevicePanel text afterwards
};

std::ostream& operator<<(std::ostream& os, const RefusedRun& r) { return os << r.name; }

class RefusedBeforeWriting : public ProgrammingRun, public ::testing::WithParamInterface<RefusedRun> {};

TEST_P(RefusedBeforeWriting, SaysWhyAndSendsNoFrame) {
  const RefusedRun& r = GetParam();
  device_ = StartSimulator(SimDevice(r.code, r.version, 16, 0x04));
  EXPECT_EQ(SearchAndProgram(Form1->ProgressBar1, Form1->StatusBar1), 0);
  EXPECT_EQ(Form1->Label2->Caption(), r.result);
  EXPECT_EQ(Form1->Label2->Color(), clRed);
  EXPECT_EQ(Form1->StatusBar1->PanelText(DevicePanel), r.devicePanel);
  EXPECT_TRUE(Form1->Button1->Visible());
  const sim::Counters c = device_->GetCounters();
  EXPECT_EQ(c.frames, 0u);
  EXPECT_EQ(c.entries, 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RefusedBeforeWriting,
    ::testing::Values(RefusedRun{"placeholder", 67, 9, " No Hex inside !! ", "Warning"},
                      RefusedRun{"unknown_code", 100, 9, " Error !! ", "Unknow Device"},
                      RefusedRun{"bootloader_too_new", 254, 33, " Incompatible Bootloader !! ", ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ProgrammingRun, AnImageForAnotherBoardIsRefusedWithItsCodes) {
  device_ = StartSimulator(SimDevice(254, 10, 7, 0x04));
  EXPECT_EQ(SearchAndProgram(Form1->ProgressBar1, Form1->StatusBar1), 0);
  EXPECT_EQ(Form1->Label2->Caption(), "KTW_R0x - Preparation 4");
  EXPECT_EQ(Form1->StatusBar1->PanelText(DevicePanel), "Warning!!");
  EXPECT_EQ(Form1->StatusBar1->PanelText(InfoPanel), "not suitable apparatus");
  EXPECT_EQ(device_->GetCounters().frames, 0u);
}

TEST_F(ProgrammingRun, Version32IsProgrammedWithoutInfoRecordOrProtectedRange) {
  sim::SimConfig c = SimDevice(254, 32, 16, 0x04);
  c.personalities[0].protectedStart = 0x0800;
  c.personalities[0].protectedCount = 0x0400;
  c.guardProtectedRange = false;
  device_ = StartSimulator(c);
  EXPECT_EQ(SearchAndProgram(Form1->ProgressBar1, Form1->StatusBar1), 0);
  EXPECT_EQ(Form1->Label2->Caption(), " Program Ok ");
  EXPECT_EQ(device_->GetCounters().infoRecords, 0u);
  EXPECT_EQ(FramesOfKind(*device_, "block").size(), 120u);
  EXPECT_FALSE(Form1->Label4->Visible());
}

TEST_F(ProgrammingRun, ADeviceWithoutIdentityRecordIsTakenForBoard2AndGetsNoEntryByte) {
  sim::SimConfig c = SimDevice(254, 0, 99, 0x55);
  c.personalities[0].identityRecord = false;
  device_ = StartSimulator(c);
  EXPECT_EQ(SearchAndProgram(Form1->ProgressBar1, Form1->StatusBar1), 0);
  EXPECT_EQ(Identity.identitySeen, 0);
  EXPECT_EQ(Form1->Label2->Caption(), " Program Ok ");
  EXPECT_EQ(device_->GetCounters().entries, 0u);
  // The identity line shows the image's codes when the device gave none.
  EXPECT_EQ(Form1->Label3->Caption(), "BIOS:00 - KTW_R0x - Preparation04");
}

TEST_F(ProgrammingRun, ABlockRefusedFiveTimesEndsTheRun) {
  sim::SimConfig c = SimDevice(254, 10, 16, 0x04);
  c.faults.push_back(sim::Fault::Refuse(3, 5));
  device_ = StartSimulator(c);
  EXPECT_EQ(SearchAndProgram(Form1->ProgressBar1, Form1->StatusBar1), 0);
  EXPECT_EQ(Form1->Label2->Caption(), " CHK Error !! ");
  EXPECT_EQ(Form1->StatusBar1->PanelText(OperationPanel), "Resend 4");
  EXPECT_EQ(device_->GetCounters().frames, 2u + 5u);
}

TEST_F(ProgrammingRun, StopDuringTheBlockLoopEndsTheRunWithUserAbort) {
  device_ = StartSimulator(SimDevice(254, 10, 16, 0x04));
  Operator stop([] { return Form1->StatusBar1->PanelText(OperationPanel) == "Program 02560 (00a00)"; },
                [] { Application->PostClick(Form1->Button2); });
  EXPECT_EQ(SearchAndProgram(Form1->ProgressBar1, Form1->StatusBar1), 0);
  EXPECT_TRUE(stop.done);
  EXPECT_EQ(Form1->Label2->Caption(), " User Abort !! ");
  EXPECT_TRUE(Form1->Button1->Visible());
  EXPECT_FALSE(Form1->Button2->Visible());
  // The frame at 0xA00 went out; its wait saw the stop, and nothing followed.
  EXPECT_EQ(FramesOfKind(*device_, "block").size(), 21u);
  EXPECT_EQ(FramesOfKind(*device_, "fix").size(), 0u);
}

TEST_F(ProgrammingRun, StopWhileTheEntryByteIsAwaitedStopsBeforeAnythingIsWritten) {
  device_ = StartSimulator(SimDevice(254, 10, 16, 0x04));
  Operator stop([] { return Form1->StatusBar1->PanelText(OperationPanel) == "Entry in PrgMode"; },
                [] { Application->PostClick(Form1->Button2); });
  EXPECT_EQ(SearchAndProgram(Form1->ProgressBar1, Form1->StatusBar1), 0);
  EXPECT_EQ(Form1->Label2->Caption(), " User Abort !! ");
  EXPECT_EQ(device_->GetCounters().frames, 0u);
}

TEST_F(ProgrammingRun, OneUnansweredBlockIsToleratedAndTheRunGoesOn) {
  sim::SimConfig c = SimDevice(254, 10, 16, 0x04);
  c.faults.push_back(sim::Fault::Silent(5));
  device_ = StartSimulator(c);
  BriefClock clock;
  testing::ScopedClock scoped(clock);
  EXPECT_EQ(SearchAndProgram(Form1->ProgressBar1, Form1->StatusBar1), 0);
  EXPECT_EQ(Form1->Label2->Caption(), " Program Ok ");
  EXPECT_EQ(device_->GetCounters().unanswered, 1u);
}

TEST_F(ProgrammingRun, ADeviceThatGoesSilentIsReportedAfterThreeUnansweredBlocks) {
  sim::SimConfig c = SimDevice(254, 10, 16, 0x04);
  for (uint32_t n : {5u, 6u, 7u, 8u}) c.faults.push_back(sim::Fault::Silent(n));
  device_ = StartSimulator(c);
  BriefClock clock;
  testing::ScopedClock scoped(clock);
  EXPECT_EQ(SearchAndProgram(Form1->ProgressBar1, Form1->StatusBar1), 0);
  EXPECT_EQ(Form1->Label2->Caption(), " not Response ");
  EXPECT_EQ(device_->GetCounters().frames, 7u);
}

TEST_F(ProgrammingRun, AFixTailLongerThanABlockIsRefusedInsteadOfWrittenPastTheFrame) {
  // A slot whose tail would not fit its block; the next program start binds
  // the slot afresh.
  static uint8_t longTail[65] = {};
  ImageCatalogue[kGenericRow][9].fixTail = longTail;
  ImageCatalogue[kGenericRow][9].fixTailSize = 65;
  device_ = StartSimulator(SimDevice(72, 9, 20, 0x0a));
  EXPECT_EQ(SearchAndProgram(Form1->ProgressBar1, Form1->StatusBar1), 0);
  EXPECT_EQ(Form1->Label2->Caption(), " Error !! ");
  EXPECT_EQ(Form1->StatusBar1->PanelText(InfoPanel), "Fix tail too long");
  EXPECT_EQ(device_->GetCounters().frames, 0u);
}

TEST_F(ProgrammingRun, TheUpgradeWindowReportsInItsStatusBar) {
  testing::FreshProtocol("VEX 1C 01.05.00.02");
  device_ = StartSimulator(SimDevice(254, 10, 16, 0x04));
  ASSERT_EQ(SearchAndProgram(Form5->ProgressBar1, Form5->StatusBar1), 0);
  EXPECT_EQ(Form5->StatusBar1->PanelText(OperationPanel), "Program OK");
  EXPECT_EQ(Form5->StatusBar1->PanelText(3), "Found 24HJ64");
  EXPECT_EQ(Form5->StatusBar1->PanelText(2), "");
  EXPECT_TRUE(Form5->Button1->Visible());
  EXPECT_EQ(Form5->Panel1->Color(), clBtnFace);  // this build's images are keyed
}

}  // namespace
}  // namespace kestovane
