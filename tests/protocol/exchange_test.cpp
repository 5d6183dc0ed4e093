#include "protocol/exchange.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/feedback.h"
#include "protocol_support.h"
#include "ui/updater_window.h"

namespace kestovane {
namespace {

using std::chrono::milliseconds;
using testing::AnswerFrames;
using testing::FakeClock;
using testing::PanelRecorder;
using testing::PtyPeer;
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

// The exchange through the serial channel, with a peer on a pseudo-terminal
// that answers each frame as the test says.
class Exchange : public ::testing::Test {
 protected:
  static constexpr size_t kPayload = 4;
  static constexpr size_t kOnWire = kPayload + 1;

  void Connect(std::vector<Bytes> replies) {
    testing::FreshProtocol();
    Form1->Show();
    ShowBusy();
    peer_ = std::make_unique<PtyPeer>(9, AnswerFrames(kOnWire, std::move(replies)));
    SelectedPortIndex = peer_->PortIndex();
    ReopenSelectedPort();
    ASSERT_EQ(CheckPort(SelectedPortIndex), 0);
    const uint8_t payload[kPayload] = {0x00, 0x01, 0x00, 0x40};
    std::copy(payload, payload + kPayload, FrameBuffer);
  }
  // The sends the peer got once `expected` of them came; a short settle
  // catches any extra ones.
  size_t Sends(size_t expected) const {
    peer_->AwaitReceived(expected * kOnWire);
    peer_->AwaitReceived(expected * kOnWire + 1, milliseconds(20));
    return peer_->ReceivedCount() / kOnWire;
  }

  std::unique_ptr<PtyPeer> peer_;
};

TEST_F(Exchange, AcceptedFrameGoesOutOnceWithItsChecksum) {
  Connect({{'K'}});
  EXPECT_EQ(SendFrame(FrameBuffer, kPayload), kFrameAccepted);
  EXPECT_EQ(Sends(1), 1u);
  EXPECT_EQ(peer_->Received(), (Bytes{0x00, 0x01, 0x00, 0x40, 0xBF}));
}

TEST_F(Exchange, FiveRefusalsEndInChecksumError) {
  Connect({{'N'}, {'N'}, {'N'}, {'N'}, {'N'}, {'K'}});
  PanelRecorder panel(Form1->StatusBar1, OperationPanel);
  const int16_t result = SendFrame(FrameBuffer, kPayload);
  EXPECT_EQ(result, kRefusedFiveTimes);
  EXPECT_EQ(Sends(5), 5u);
  EXPECT_EQ(panel.texts, (std::vector<std::string>{"", "Resend 0", "Resend 1", "Resend 2", "Resend 3", "Resend 4"}));
  ShowExchangeError(result);
  EXPECT_EQ(Form1->Label2->Caption(), " CHK Error !! ");
}

TEST_F(Exchange, RefusalThenAcceptance) {
  Connect({{'N'}, {'K'}});
  EXPECT_EQ(SendFrame(FrameBuffer, kPayload), kFrameAccepted);
  EXPECT_EQ(Sends(2), 2u);
  EXPECT_EQ(Form1->StatusBar1->PanelText(OperationPanel), "Resend 0");
}

TEST_F(Exchange, SilenceIsNoAnswerWithoutResend) {
  Connect({});
  FakeClock clock;
  ScopedClock use(clock);
  EXPECT_EQ(SendFrame(FrameBuffer, kPayload), kNoAnswer);
  EXPECT_EQ(clock.Elapsed(), milliseconds(2000));
  EXPECT_EQ(Sends(1), 1u);
  EXPECT_EQ(Form1->StatusBar1->PanelText(OperationPanel), "");
}

TEST_F(Exchange, StopPostedBeforeTheExchangeWinsOverTheAnswer) {
  Connect({{'K'}});
  Application->PostClick(Form1->Button2);
  EXPECT_EQ(SendFrame(FrameBuffer, kPayload), kUserAbort);
  EXPECT_EQ(abortRequested, 0);
  EXPECT_EQ(Sends(1), 1u);
  EXPECT_EQ(WaitCycleCounter, 0);  // ended within the first cycle
}

TEST_F(Exchange, StopDuringTheWaitEndsItWithinOneCycle) {
  Connect({});
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
  Connect({{'K', 'N'}, {'K'}});
  EXPECT_EQ(SendFrame(FrameBuffer, kPayload), kFrameAccepted);
  EXPECT_EQ(Identity.nakReceived, 1);  // left for the next send to clear
  EXPECT_EQ(SendFrame(FrameBuffer, kPayload), kFrameAccepted);
  EXPECT_EQ(Sends(2), 2u);
  EXPECT_EQ(Form1->StatusBar1->PanelText(OperationPanel), "");
}

TEST_F(Exchange, ClosedPortIsSilence) {
  Connect({{'K'}});
  ClosePort(SelectedPortIndex);
  FakeClock clock;
  ScopedClock use(clock);
  EXPECT_EQ(SendFrame(FrameBuffer, kPayload), kNoAnswer);
  EXPECT_EQ(Sends(0), 0u);
}

TEST_F(Exchange, FrameWithoutRoomForItsChecksumIsNotSent) {
  Connect({{'K'}});
  FrameBuffer[kFrameBufferSize - 1] = 0x5A;
  EXPECT_EQ(SendFrame(FrameBuffer, kFrameBufferSize), kNoAnswer);
  EXPECT_EQ(SendFrame(FrameBuffer + 10, kFrameBufferSize - 10), kNoAnswer);
  EXPECT_EQ(FrameBuffer[kFrameBufferSize - 1], 0x5A);
  EXPECT_EQ(Sends(0), 0u);
}

}  // namespace
}  // namespace kestovane
