#include "protocol/device_search.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "app/feedback.h"
#include "app/personality.h"
#include "protocol_support.h"
#include "ui/loader_window.h"
#include "ui/updater_window.h"
#include "ui/upgrade_window.h"

namespace kestovane {
namespace {

using std::chrono::milliseconds;
using testing::FakeClock;
using testing::PtyPeer;
using testing::ScopedClock;

using Bytes = std::vector<uint8_t>;

const Bytes kIdentityReply = {'V', 0x09, 0x48, 0x10, 0x03, 'K'};

// A bootloader that answers handshake bytes from the given try on (1 is the
// first), optionally in two writes with a pause between them.
PtyPeer::Handler AnswerHandshakes(int fromTry, Bytes reply = kIdentityReply, milliseconds splitPause = {}) {
  return [=, tries = 0](uint8_t byte, PtyPeer& peer) mutable {
    if (byte != kHandshakeUpdater && byte != kHandshakeUpgrade && byte != kHandshakeLoaderVariant1) return;
    if (++tries < fromTry) return;
    if (splitPause == milliseconds{}) {
      peer.Send(reply);
      return;
    }
    const size_t half = reply.size() / 2;
    peer.Send(Bytes(reply.begin(), reply.begin() + half));
    std::this_thread::sleep_for(splitPause);
    peer.Send(Bytes(reply.begin() + half, reply.end()));
  };
}

// Where each personality's window keeps its bars.
struct WindowBars {
  TProgressBar* progress;
  TStatusBar* status;
};

WindowBars BarsOfTheWindow() {
  switch (CurrentPersonality) {
    case Personality::Loader: return {Form6->ProgressBar1, Form6->StatusBar1};
    case Personality::Upgrade: return {Form5->ProgressBar1, Form5->StatusBar1};
    case Personality::Updater: break;
  }
  return {Form1->ProgressBar1, Form1->StatusBar1};
}

// The search against the simulated bootloader.
class SearchSimulator : public ::testing::Test {
 protected:
  void Start(const char* label, sim::SimConfig config) {
    testing::FreshProtocol(label);
    device_ = testing::StartSimulator(std::move(config));
    bars_ = BarsOfTheWindow();
    bars_.progress->Form()->Show();
  }
  int16_t Search() { return SearchDevice(bars_.progress, bars_.status); }
  uint32_t Handshakes(uint32_t expected) const {
    return testing::SettledCounters(*device_, [&](const sim::Counters& c) { return c.handshakes >= expected; })
        .handshakes;
  }

  std::unique_ptr<sim::SimulatedBootloader> device_;
  WindowBars bars_{};
};

TEST_F(SearchSimulator, FindsTheBootloaderAndCommitsItsIdentity) {
  sim::SimConfig config;
  config.personalities[0].deviceCode = 72;
  config.personalities[0].version = 9;
  config.personalities[0].printCode = 0x21;
  config.personalities[0].preparationCode = 0x04;
  Start(nullptr, config);
  Identity.protectedStart = 0x100;
  Identity.infoText[0] = 'x';
  EXPECT_EQ(Search(), kDeviceFound);
  EXPECT_EQ(Identity.bootloaderVersion, 9);
  EXPECT_EQ(Identity.deviceCode, 72);
  EXPECT_EQ(Identity.printCode, 0x21);
  EXPECT_EQ(Identity.preparationCode, 0x04);
  EXPECT_EQ(Identity.identitySeen, 1);
  EXPECT_EQ(Identity.protectedStart, 0);
  EXPECT_EQ(OpenedPortIndex, SelectedPortIndex);
  EXPECT_EQ(FrameBuffer[0], kHandshakeUpdater);
  EXPECT_EQ(Form1->StatusBar1->PanelText(PortPanel), "COM13");
  EXPECT_TRUE(Form1->Button2->Visible());  // the run goes on: still busy
  EXPECT_EQ(Handshakes(1), 1u);
}

TEST_F(SearchSimulator, AnswerAtTheThirdTry) {
  sim::SimConfig config;
  config.answerFromHandshake = 3;
  Start(nullptr, config);
  EXPECT_EQ(Search(), kDeviceFound);
  EXPECT_EQ(Handshakes(3), 3u);
  EXPECT_EQ(Form1->StatusBar1->PanelText(OperationPanel), "Try 2");
  EXPECT_EQ(Identity.deviceCode, 72);
}

struct HandshakeCase {
  const char* label;
  int forcedVariant;  // -1: as the window set it
  uint8_t byte;
};

std::ostream& operator<<(std::ostream& os, const HandshakeCase& c) {
  return os << (c.label ? c.label : "(default)") << " variant " << c.forcedVariant;
}

// The bootloader answers only the expected byte, so a found device proves it.
class HandshakeByteOf : public SearchSimulator, public ::testing::WithParamInterface<HandshakeCase> {};

TEST_P(HandshakeByteOf, PersonalityAndVariant) {
  sim::SimConfig config;
  config.handshakeBytes = {GetParam().byte};
  Start(GetParam().label, config);
  if (GetParam().forcedVariant >= 0) LoaderVariant = static_cast<uint8_t>(GetParam().forcedVariant);
  EXPECT_EQ(HandshakeByte(), GetParam().byte);
  EXPECT_EQ(Search(), kDeviceFound);
  EXPECT_EQ(Handshakes(1), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Windows, HandshakeByteOf,
    ::testing::Values(HandshakeCase{.label = nullptr, .forcedVariant = -1, .byte = 0xC2},
                      HandshakeCase{.label = "VEX 1C 01.05.00.02", .forcedVariant = -1, .byte = 0xC5},
                      HandshakeCase{.label = "VEX 1C 01.05.00.02", .forcedVariant = 1, .byte = 0xC5},
                      HandshakeCase{.label = "G. 3", .forcedVariant = -1, .byte = 0xC2},
                      HandshakeCase{.label = "ZNA 3", .forcedVariant = -1, .byte = 0xC6},
                      HandshakeCase{.label = "VANTO 3", .forcedVariant = -1, .byte = 0xC5}));

// The search against a scripted line, for what the bootloader does not do
// on request: split its answer, refuse handshakes, or stay silent.
class DeviceSearch : public ::testing::Test {
 protected:
  void Start(const char* label, PtyPeer::Handler handler) {
    testing::FreshProtocol(label);
    peer_ = std::make_unique<PtyPeer>(11, std::move(handler));
    SelectedPortIndex = peer_->PortIndex();
    bars_ = BarsOfTheWindow();
    bars_.progress->Form()->Show();
  }
  int16_t Search() { return SearchDevice(bars_.progress, bars_.status); }
  // The handshakes the peer got once `expected` of them came (or fewer, if
  // fewer were sent); a short settle catches any extra ones.
  size_t Handshakes(size_t expected) const {
    peer_->AwaitReceived(expected);
    peer_->AwaitReceived(expected + 1, milliseconds(20));
    return peer_->ReceivedCount();
  }

  std::unique_ptr<PtyPeer> peer_;
  WindowBars bars_{};
};

TEST_F(DeviceSearch, IdentitySplitOverTwoReads) {
  Start(nullptr, AnswerHandshakes(1, kIdentityReply, milliseconds(30)));
  EXPECT_EQ(Search(), kDeviceFound);
  EXPECT_EQ(Handshakes(1), 1u);
  EXPECT_EQ(Identity.bootloaderVersion, 0x09);
  EXPECT_EQ(Identity.preparationCode, 0x03);
}

TEST_F(DeviceSearch, RefusalsCountAsSilence) {
  Start(nullptr, [](uint8_t, PtyPeer& peer) { peer.Send({'N'}); });
  FakeClock clock;
  ScopedClock use(clock);
  EXPECT_EQ(Search(), kDeviceNotFound);
  EXPECT_EQ(Handshakes(100), 100u);
}

// What each window shows while nothing answers: the bar counts down in the
// Loader and Upgrade windows and stays still in the Updater window.
struct ProgressCase {
  const char* label;
  bool countsDown;
  const char* lastTryText;     // the operation panel during the last try
  const char* loaderLine;      // the Loader's message line, nullptr elsewhere
};

std::ostream& operator<<(std::ostream& os, const ProgressCase& c) { return os << (c.label ? c.label : "(default)"); }

class ProgressOf : public DeviceSearch, public ::testing::WithParamInterface<ProgressCase> {};

TEST_P(ProgressOf, SilentSearch) {
  Start(GetParam().label, {});
  FakeClock clock;
  ScopedClock use(clock);
  std::vector<int> positions;
  std::string lastTryText;
  clock.onWait = [&] {
    if (positions.empty() || positions.back() != bars_.progress->Position())
      positions.push_back(bars_.progress->Position());
    lastTryText = bars_.status->PanelText(OperationPanel);
  };
  EXPECT_EQ(Search(), kDeviceNotFound);
  EXPECT_EQ(Handshakes(100), 100u);
  EXPECT_EQ(clock.Elapsed(), milliseconds(100 * 100));

  std::vector<int> expected;
  if (GetParam().countsDown) {
    for (int i = 0; i < 100; ++i) expected.push_back(100 - i);
  } else {
    expected.push_back(0);
  }
  EXPECT_EQ(positions, expected);
  EXPECT_EQ(lastTryText, GetParam().lastTryText);
  if (GetParam().loaderLine) { EXPECT_EQ(Form6->Label1->Caption(), GetParam().loaderLine); }
  EXPECT_EQ(bars_.progress->Position(), 0);
  EXPECT_EQ(bars_.progress->State(), TProgressBarState::pbsNormal);
  EXPECT_EQ(bars_.status->PanelText(OperationPanel), "Device not Found");
}

INSTANTIATE_TEST_SUITE_P(
    Windows, ProgressOf,
    ::testing::Values(ProgressCase{.label = nullptr, .countsDown = false, .lastTryText = "Try 99", .loaderLine = nullptr},
                      ProgressCase{.label = "VEX 1C 01.05.00.02", .countsDown = true, .lastTryText = "Search Device",
                                   .loaderLine = nullptr},
                      ProgressCase{.label = "G. 3", .countsDown = true, .lastTryText = "", .loaderLine = "Search Device"}));

TEST_F(DeviceSearch, NoAnswerInRealTimeTakesTheFullHundredTries) {
  Start(nullptr, {});
  const auto began = std::chrono::steady_clock::now();
  EXPECT_EQ(Search(), kDeviceNotFound);
  const auto took = std::chrono::steady_clock::now() - began;
  EXPECT_EQ(Handshakes(100), 100u);
  // Not a speed test: the floor is what the bootloader is promised.
  EXPECT_GE(took, milliseconds(100 * 100));
  EXPECT_TRUE(Form1->Button1->Visible());
  EXPECT_EQ(Form1->StatusBar1->PanelText(OperationPanel), "Device not Found");
}

TEST_F(DeviceSearch, StopDuringTryFifty) {
  Start(nullptr, {});
  FakeClock clock;
  ScopedClock use(clock);
  clock.onWait = [&] {
    if (Form1->StatusBar1->PanelText(OperationPanel) == "Try 50" && !abortRequested)
      Application->PostClick(Form1->Button2);
  };
  Form1->ProgressBar1->SetPosition(40);
  EXPECT_EQ(Search(), kSearchStopped);
  EXPECT_EQ(Handshakes(51), 51u);
  EXPECT_EQ(Form1->Label2->Caption(), " User Abort !! ");
  EXPECT_EQ(Form1->ProgressBar1->Position(), 0);
  EXPECT_EQ(Form1->ProgressBar1->State(), TProgressBarState::pbsPaused);
  EXPECT_TRUE(Form1->Button1->Visible());
}

TEST_F(DeviceSearch, StopRequestedBeforeTheSearchIsHonouredByTheFirstTry) {
  Start(nullptr, AnswerHandshakes(1));
  abortRequested = 1;
  EXPECT_EQ(Search(), kSearchStopped);
  EXPECT_EQ(Handshakes(1), 1u);
  EXPECT_EQ(abortRequested, 0);
}

class UnusablePort : public DeviceSearch, public ::testing::WithParamInterface<int16_t> {};

TEST_P(UnusablePort, IsReportedWithoutAnyTry) {
  Start(nullptr, AnswerHandshakes(1));
  SelectedPortIndex = GetParam();
  EXPECT_EQ(Search(), kPortNotUsable);
  EXPECT_EQ(Handshakes(0), 0u);
  EXPECT_EQ(Form1->Label2->Caption(), "Invalid Port Com");
  EXPECT_TRUE(Form1->Button1->Visible());
  EXPECT_EQ(Form1->StatusBar1->PanelText(0), GetParam() < 0 ? "-----" : "COM" + std::to_string(GetParam() + 1));
}

// No such line (200), the first index past the table, and no port chosen
// (-1: "none opened" has the same value, yet the port is reported).
INSTANTIATE_TEST_SUITE_P(Indexes, UnusablePort, ::testing::Values(int16_t{200}, int16_t{257}, int16_t{-1}, int16_t{-2}));

TEST_F(DeviceSearch, MissingPortIsReportedWithoutAnyTry) {
  Start(nullptr, AnswerHandshakes(1));
  SelectedPortIndex = 200;  // no such line
  EXPECT_EQ(Search(), kPortNotUsable);
  EXPECT_EQ(Handshakes(0), 0u);
  EXPECT_EQ(Form1->Label2->Caption(), "Invalid Port Com");
  EXPECT_EQ(Form1->StatusBar1->PanelText(OperationPanel), "");
  EXPECT_TRUE(Form1->Button1->Visible());
}

}  // namespace
}  // namespace kestovane
