#include "protocol/exchange.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/feedback.h"
#include "protocol/device_search.h"
#include "protocol_support.h"
#include "ui/updater_window.h"

namespace kestovane {
namespace {

using std::chrono::milliseconds;
using testing::FakeClock;
using testing::PanelRecorder;
using testing::ScopedClock;

using Bytes = std::vector<uint8_t>;

TEST(FrameChecksum, MakesTheFrameAddUpToZero) {
  const uint8_t payload[] = {0x00, 0x01, 0x00, 0x40};
  EXPECT_EQ(FrameChecksum(payload, 4), 0xBF);
  const uint8_t zeroSum[] = {0x80, 0x80};
  EXPECT_EQ(FrameChecksum(zeroSum, 2), 0x00);
  EXPECT_EQ(FrameChecksum(payload, 0), 0x00);
}

struct MessageCase {
  int16_t code;
  const char* text;  // nullptr: nothing is shown
};

TEST(ShowExchangeError, ShowsTheMessageOfEachFailureInRed) {
  const MessageCase cases[] = {{.code = -1, .text = " not Response "},
                               {.code = -2, .text = " User Abort !! "},
                               {.code = -3, .text = " CHK Error !! "},
                               {.code = -4, .text = " Incompatible Bootloader !! "},
                               {.code = -5, .text = nullptr},
                               {.code = 0, .text = nullptr},
                               {.code = 1, .text = nullptr}};
  for (const MessageCase& c : cases) {
    SCOPED_TRACE(c.code);
    testing::FreshProtocol();
    Form1->Label2->Hide();
    ShowExchangeError(c.code);
    if (!c.text) {
      EXPECT_FALSE(Form1->Label2->Visible());
      continue;
    }
    EXPECT_TRUE(Form1->Label2->Visible());
    EXPECT_EQ(Form1->Label2->Caption(), c.text);
    EXPECT_EQ(Form1->Label2->Color(), clRed);
    EXPECT_TRUE(Form1->Button1->Visible());
  }
}

// The wait's timing on a port with nothing to say.
struct CycleCase {
  int32_t timeout;
  int32_t cycles;
};

TEST(WaitForReply, CountsItsTimeoutInFiveMillisecondCycles) {
  const CycleCase cases[] = {{.timeout = 100, .cycles = 20}, {.timeout = 2000, .cycles = 400},
                             {.timeout = 4, .cycles = 0},    {.timeout = 9, .cycles = 1},
                             {.timeout = 0, .cycles = 0},    {.timeout = -5, .cycles = 0}};
  for (const CycleCase& c : cases) {
    SCOPED_TRACE(c.timeout);
    testing::FreshProtocol();
    FakeClock clock;
    ScopedClock use(clock);
    EXPECT_EQ(WaitForReply(c.timeout), kWaitSilence);
    EXPECT_EQ(WaitCycleCounter, c.cycles);
    EXPECT_EQ(clock.Elapsed(), milliseconds(5 * c.cycles));
  }
}

TEST(PumpMessages, RunsOneCyclePerFiveMillisecondsStarted) {
  const CycleCase cases[] = {{.timeout = 5, .cycles = 1}, {.timeout = 300, .cycles = 60},
                             {.timeout = 7, .cycles = 2}, {.timeout = 0, .cycles = 0},
                             {.timeout = -1, .cycles = 0}};
  for (const CycleCase& c : cases) {
    SCOPED_TRACE(c.timeout);
    testing::FreshProtocol();
    FakeClock clock;
    ScopedClock use(clock);
    int delivered = 0;
    clock.onWait = [&] { Application->Post([&] { ++delivered; }); };
    PumpMessages(c.timeout);
    EXPECT_EQ(clock.Elapsed(), milliseconds(5 * c.cycles));
    EXPECT_EQ(delivered, c.cycles);  // every sleep is followed by a pass over the messages
  }
}

// The exchange through the serial channel with the simulated bootloader,
// which the search has found. The frames are EEPROM frames: the smallest the
// bootloader writes.
class Exchange : public ::testing::Test {
 protected:
  void Connect(std::vector<sim::Fault> faults = {}) {
    testing::FreshProtocol();
    Form1->Show();
    sim::SimConfig config;
    config.faults = std::move(faults);
    device_ = testing::StartSimulator(std::move(config));
    ASSERT_EQ(SearchDevice(Form1->ProgressBar1, Form1->StatusBar1), 0);
    BuildEepromFrame(0, 0x5A);
  }
  static void BuildEepromFrame(uint8_t index, uint8_t data) {
    const uint8_t payload[kPayload] = {0x40, index, data, 0x01, 0x00};
    std::copy(payload, payload + kPayload, FrameBuffer);
  }
  // The frames the bootloader got, resends included, once `expected` came.
  uint32_t Sends(uint32_t expected) const {
    return testing::SettledCounters(*device_, [&](const sim::Counters& c) { return c.frames >= expected; }).frames;
  }

  static constexpr size_t kPayload = 5;
  std::unique_ptr<sim::SimulatedBootloader> device_;
};

// A fault of the first programming frame.
sim::Fault OnFirstFrame(sim::FaultKind kind, uint32_t times = 1, std::vector<uint8_t> noise = {}) {
  return {.kind = kind, .frame = 1, .times = times, .delay = {}, .noise = std::move(noise)};
}
sim::Fault Refuse(uint32_t times) { return OnFirstFrame(sim::FaultKind::Refuse, times); }

TEST_F(Exchange, AcceptedFrameGoesOutOnceWithItsChecksum) {
  Connect();
  EXPECT_EQ(SendFrame(FrameBuffer, kPayload), kFrameAccepted);
  EXPECT_EQ(FrameBuffer[kPayload], FrameChecksum(FrameBuffer, kPayload));
  EXPECT_EQ(Sends(1), 1u);
  EXPECT_EQ(device_->Eeprom()[0], 0x5A);
  EXPECT_EQ(device_->GetCounters().checksumErrors, 0u);
}

TEST_F(Exchange, FiveRefusalsEndInChecksumError) {
  Connect({Refuse(5)});
  PanelRecorder panel(Form1->StatusBar1, OperationPanel);
  const int16_t result = SendFrame(FrameBuffer, kPayload);
  EXPECT_EQ(result, kRefusedFiveTimes);
  EXPECT_EQ(Sends(5), 5u);
  EXPECT_EQ(panel.texts, (std::vector<std::string>{"Try 0", "Resend 0", "Resend 1", "Resend 2", "Resend 3",
                                                   "Resend 4"}));
  ShowExchangeError(result);
  EXPECT_EQ(Form1->Label2->Caption(), " CHK Error !! ");
  EXPECT_EQ(Form1->Label2->Color(), clRed);
}

TEST_F(Exchange, RefusalThenAcceptance) {
  Connect({Refuse(1)});
  EXPECT_EQ(SendFrame(FrameBuffer, kPayload), kFrameAccepted);
  EXPECT_EQ(Sends(2), 2u);
  EXPECT_EQ(Form1->StatusBar1->PanelText(OperationPanel), "Resend 0");
  EXPECT_EQ(device_->Eeprom()[0], 0x5A);
}

TEST_F(Exchange, SilenceIsNoAnswerWithoutResend) {
  Connect({OnFirstFrame(sim::FaultKind::Silent)});
  FakeClock clock;
  ScopedClock use(clock);
  EXPECT_EQ(SendFrame(FrameBuffer, kPayload), kNoAnswer);
  EXPECT_EQ(clock.Elapsed(), milliseconds(2000));
  EXPECT_EQ(Sends(1), 1u);
  EXPECT_EQ(Form1->StatusBar1->PanelText(OperationPanel), "Try 0");
}

TEST_F(Exchange, StopPostedBeforeTheExchangeWinsOverTheAnswer) {
  Connect();
  Application->PostClick(Form1->Button2);
  EXPECT_EQ(SendFrame(FrameBuffer, kPayload), kUserAbort);
  EXPECT_EQ(abortRequested, 0);
  EXPECT_EQ(WaitCycleCounter, 0);  // ended within the first cycle
  EXPECT_EQ(Sends(1), 1u);
}

TEST_F(Exchange, StopDuringTheWaitEndsItWithinOneCycle) {
  Connect({OnFirstFrame(sim::FaultKind::Silent)});
  FakeClock clock;
  ScopedClock use(clock);
  clock.onWait = [&] {
    if (clock.Elapsed() == milliseconds(250)) Application->PostClick(Form1->Button2);
  };
  EXPECT_EQ(SendFrame(FrameBuffer, kPayload), kUserAbort);
  EXPECT_EQ(clock.Elapsed(), milliseconds(255));
  EXPECT_EQ(abortRequested, 0);
  EXPECT_FALSE(Form1->Button2->Visible());  // the Updater's stop button hides itself
}

TEST_F(Exchange, AcknowledgementWinsOverARefusalOfTheSameRead) {
  // A cycle slept whole collects the 'K' and the 'N' that follows it.
  Connect({OnFirstFrame(sim::FaultKind::NoiseAfter, 1, {'N'})});
  testing::SleepingClock clock;
  ScopedClock use(clock);
  EXPECT_EQ(SendFrame(FrameBuffer, kPayload), kFrameAccepted);
  EXPECT_EQ(Identity.nakReceived, 1);  // left for the next send to clear
  BuildEepromFrame(1, 0xA5);
  EXPECT_EQ(SendFrame(FrameBuffer, kPayload), kFrameAccepted);
  EXPECT_EQ(Sends(2), 2u);
  EXPECT_EQ(Form1->StatusBar1->PanelText(OperationPanel), "Try 0");
  EXPECT_EQ(device_->Eeprom()[1], 0xA5);
}

TEST_F(Exchange, ClosedPortIsSilence) {
  Connect();
  ClosePort(SelectedPortIndex);
  FakeClock clock;
  ScopedClock use(clock);
  EXPECT_EQ(SendFrame(FrameBuffer, kPayload), kNoAnswer);
  EXPECT_EQ(device_->GetCounters().frames, 0u);
}

TEST_F(Exchange, FrameWithoutRoomForItsChecksumIsNotSent) {
  Connect();
  FrameBuffer[kFrameBufferSize - 1] = 0x5A;
  EXPECT_EQ(SendFrame(FrameBuffer, kFrameBufferSize), kNoAnswer);
  EXPECT_EQ(SendFrame(FrameBuffer + 10, kFrameBufferSize - 10), kNoAnswer);
  EXPECT_EQ(FrameBuffer[kFrameBufferSize - 1], 0x5A);
  EXPECT_EQ(device_->GetCounters().frames, 0u);
}

TEST(WaitForReplyOnALostLine, SleepsOutItsCyclesInsteadOfSpinning) {
  // A hung-up line keeps its descriptor readable without giving bytes; a
  // wait that kept waking on it would never let this clock move.
  testing::FreshProtocol();
  auto peer = std::make_unique<testing::PtyPeer>(17);
  SelectedPortIndex = peer->PortIndex();
  ReopenSelectedPort();
  ASSERT_EQ(CheckPort(SelectedPortIndex), 0);
  peer.reset();
  FakeClock clock;
  ScopedClock use(clock);
  EXPECT_EQ(WaitForReply(100), kWaitSilence);
  EXPECT_EQ(clock.Elapsed(), milliseconds(100));
  EXPECT_LE(clock.waits, 2 * 20);
}

}  // namespace
}  // namespace kestovane

namespace kestovane {
namespace {

// The first cycle's pass stalls for 100 ms (a slow repaint, say).
class StallingOnceClock final : public WaitClock {
 public:
  TimePoint Now() override { return now_; }
  bool WaitForInput(int, std::chrono::microseconds timeout) override {
    now_ += timeout;
    if (++waits == 1) now_ += std::chrono::milliseconds(100);
    return false;
  }
  int waits = 0;

 private:
  TimePoint now_{};
};

TEST(WaitAfterAStall, EveryCycleStillWaitsItsTime) {
  testing::FreshProtocol();
  StallingOnceClock clock;
  testing::ScopedClock scoped(clock);
  const auto start = clock.Now();
  EXPECT_EQ(WaitForReply(100), kWaitSilence);
  EXPECT_EQ(clock.waits, 20);  // not one wait and nineteen cycles already due
  EXPECT_GE(clock.Now() - start, std::chrono::milliseconds(200));
}

}  // namespace
}  // namespace kestovane
