// What the protocol tests share: a fresh program with a fresh line, a clock
// that waits in no time, and a display that remembers what it was shown.
#pragma once

#include <poll.h>

#include <chrono>
#include <functional>
#include <memory>
#include <thread>
#include <string>
#include <vector>

#include "platform/forms.h"
#include "protocol/exchange.h"
#include "protocol/reply_parser.h"
#include "serial/port_channel.h"
#include "catalogue/firmware_set.h"
#include "sim/simulated_bootloader.h"
#include "support/program.h"
#include "support/pty_peer.h"

namespace kestovane::testing {

// A program just started with the label's windows, the port table closed and
// the parser as at start.
inline void FreshProtocol(const char* label = nullptr) {
  StartProgram(label);
  ResetPortTable();
  Identity = DeviceIdentity{};
}

// Time moves only when a wait sleeps; a port with bytes waiting still wakes
// the wait at once, as the real clock does.
class FakeClock final : public WaitClock {
 public:
  TimePoint Now() override { return now_; }
  bool WaitForInput(int fd, std::chrono::microseconds timeout) override {
    ++waits;
    if (onWait) onWait();
    if (fd >= 0) {
      pollfd p{.fd = fd, .events = POLLIN, .revents = 0};
      if (poll(&p, 1, 0) > 0) return true;
    }
    now_ += timeout;
    return false;
  }
  std::chrono::microseconds Elapsed() const {
    return std::chrono::duration_cast<std::chrono::microseconds>(now_ - TimePoint{});
  }

  int waits = 0;
  std::function<void()> onWait;  // runs at the start of every wait

 private:
  TimePoint now_{};
};

// The cycle as it was first meant: sleep it whole, whatever arrives. Bytes
// that come within one cycle are then read together.
class SleepingClock final : public WaitClock {
 public:
  TimePoint Now() override { return std::chrono::steady_clock::now(); }
  bool WaitForInput(int, std::chrono::microseconds timeout) override {
    std::this_thread::sleep_for(timeout);
    return false;
  }
};

// Puts a clock in place for the life of a test.
class ScopedClock {
 public:
  explicit ScopedClock(WaitClock& clock) { SetWaitClock(&clock); }
  ~ScopedClock() { SetWaitClock(nullptr); }
};

// A headless display that notes every new text of one status bar panel.
class PanelRecorder final : public Renderer {
 public:
  PanelRecorder(TStatusBar* bar, int panel) : bar_(bar), panel_(panel) { Application->SetRenderer(this); }
  ~PanelRecorder() override { Application->SetRenderer(nullptr); }
  void Sync(TApplication&) override {
    const std::string& text = bar_->PanelText(panel_);
    if (texts.empty() || texts.back() != text) texts.push_back(text);
  }
  void Poll(TApplication&, int) override {}
  int MessageBox(const std::string&, const std::string&, unsigned) override { return IDOK; }
  void ShowError(const std::string&) override {}

  std::vector<std::string> texts;

 private:
  TStatusBar* bar_;
  int panel_;
};

// A peer script: each frame of frameBytes bytes (checksum included) gets the
// next reply of the list; after the list, frames go unanswered.
inline PtyPeer::Handler AnswerFrames(size_t frameBytes, std::vector<std::vector<uint8_t>> replies) {
  return [frameBytes, replies = std::move(replies), got = size_t{0}, next = size_t{0}](
             uint8_t, PtyPeer& peer) mutable {
    if (++got < frameBytes) return;
    got = 0;
    if (next < replies.size()) peer.Send(replies[next++]);
  };
}

// The simulated bootloader on a pseudo-terminal published as COM<comNumber>
// and selected, its port not yet opened.
inline std::unique_ptr<sim::SimulatedBootloader> StartSimulator(sim::SimConfig config, int comNumber = 13) {
  config.portDir = PrivatePortDir();
  config.comNumber = comNumber;
  auto device = std::make_unique<sim::SimulatedBootloader>(std::move(config));
  device->Start();
  SelectedPortIndex = static_cast<int16_t>(comNumber - 1);
  return device;
}

// The simulator's counters once the predicate holds (it serves the line on
// its own thread, a little behind the program's writes).
inline sim::Counters SettledCounters(const sim::SimulatedBootloader& device,
                                     const std::function<bool(const sim::Counters&)>& done) {
  device.WaitUntil(done, std::chrono::seconds(2));
  return device.GetCounters();
}

// Real bytes wake a wait at once; a cycle without bytes polls the line for at
// most a millisecond of real time and then counts its full 5 ms. A silent
// device thus costs a fraction of its real time, and an answering one is
// served as with the real clock.
class BriefClock final : public WaitClock {
 public:
  TimePoint Now() override { return now_; }
  bool WaitForInput(int fd, std::chrono::microseconds timeout) override {
    if (fd >= 0) {
      pollfd p{.fd = fd, .events = POLLIN, .revents = 0};
      if (poll(&p, 1, 1) > 0) return true;
    }
    now_ += timeout;
    return false;
  }

 private:
  TimePoint now_{};
};

// The operator at the keyboard: once the condition holds, at the start of a
// message pump, the action runs (a click posted then is delivered by that
// same pump).
class Operator final : public Renderer {
 public:
  Operator(std::function<bool()> when, std::function<void()> act) : when_(std::move(when)), act_(std::move(act)) {
    Application->SetRenderer(this);
  }
  ~Operator() override { Application->SetRenderer(nullptr); }
  void Sync(TApplication&) override {}
  void Poll(TApplication&, int) override {
    if (!done && when_()) {
      done = true;
      act_();
    }
  }
  int MessageBox(const std::string&, const std::string&, unsigned) override { return IDOK; }
  void ShowError(const std::string&) override {}
  bool done = false;

 private:
  std::function<bool()> when_;
  std::function<void()> act_;
};

// A simulated device of this build's firmware set, answering with these codes.
inline sim::SimConfig SimDevice(uint8_t code, uint8_t version, uint8_t print, uint8_t prep) {
  sim::SimConfig c;
  c.personalities[0].deviceCode = code;
  c.personalities[0].version = version;
  c.personalities[0].printCode = print;
  c.personalities[0].preparationCode = prep;
  c.keyConstant = kFrameKeyConstant;
  return c;
}

}  // namespace kestovane::testing
