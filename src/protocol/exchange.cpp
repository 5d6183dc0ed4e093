#include "protocol/exchange.h"

#include <poll.h>
#include <time.h>

#include <cerrno>
#include <cstdio>
#include <functional>

#include "app/feedback.h"
#include "platform/forms.h"
#include "protocol/reply_parser.h"
#include "serial/port_channel.h"
#include "ui/updater_window.h"

namespace kestovane {

uint8_t abortRequested = 0;
uint8_t FrameBuffer[kFrameBufferSize];
int32_t WaitCycleCounter = 0;

namespace {

using std::chrono::microseconds;
using std::chrono::milliseconds;

constexpr milliseconds kCycle{kCycleMs};

timespec ToTimespec(microseconds d) {
  const auto us = d.count() < 0 ? 0 : d.count();
  return timespec{static_cast<time_t>(us / 1000000), static_cast<long>((us % 1000000) * 1000)};
}

class SteadyWaitClock final : public WaitClock {
 public:
  TimePoint Now() override { return std::chrono::steady_clock::now(); }

  bool WaitForInput(int fd, microseconds timeout) override {
    // ppoll rather than poll: a millisecond timeout would round the end of
    // a cycle away from the 5 ms grid.
    pollfd watched{.fd = fd, .events = POLLIN, .revents = 0};
    const TimePoint end = Now() + timeout;
    for (;;) {
      const timespec left = ToTimespec(std::chrono::duration_cast<microseconds>(end - Now()));
      const int ready = ppoll(fd >= 0 ? &watched : nullptr, fd >= 0 ? 1 : 0, &left, nullptr);
      if (ready > 0) return true;
      if (ready == 0) return false;
      // A signal cut the wait short: wait out the rest. Any other error of
      // the descriptor ends the wait like input would, and the read finds out.
      if (errno != EINTR) return fd >= 0;
      if (Now() >= end) return false;
    }
  }
};

SteadyWaitClock steadyClock;
WaitClock* currentClock = &steadyClock;

// One pass of the wait: the window messages first (a stop press runs its
// handler here), then the port, then the flags in their fixed order: a stop
// wins over an answer of the same pass, an acknowledgement over a refusal.
// Sets bytesRead to what the poll read.
int16_t WaitPass(int16_t& bytesRead) {
  if (Application) Application->ProcessMessages();
  bytesRead = ParseReplies();
  if (abortRequested) {
    abortRequested = 0;
    return kWaitAbort;
  }
  if (Identity.ackReceived) {
    Identity.ackReceived = 0;
    return kWaitAck;
  }
  if (Identity.nakReceived) {
    Identity.nakReceived = 0;
    return kWaitNak;
  }
  return kWaitSilence;
}

// The attempt text of a refused frame goes into the Updater window, which
// exists in every personality, and is shown at once: the run does not return
// to the event loop before the resend.
void ShowResendAttempt(int attempt) {
  if (!Form1) return;
  char text[24];
  std::snprintf(text, sizeof text, "Resend %d", attempt);
  Form1->StatusBar1->SetPanelText(OperationPanel, text);
  Form1->StatusBar1->Repaint();
}

}  // namespace

WaitClock& RealWaitClock() { return steadyClock; }
void SetWaitClock(WaitClock* clock) { currentClock = clock ? clock : &steadyClock; }
WaitClock& CurrentWaitClock() { return *currentClock; }

void PumpMessages(int32_t milliseconds) {
  WaitClock& clock = CurrentWaitClock();
  for (int32_t left = milliseconds; left > 0; left -= kCycleMs) {
    clock.WaitForInput(-1, kCycle);
    if (Application) Application->ProcessMessages();
  }
}

int16_t WaitForReply(int32_t timeout) {
  WaitCycleCounter = 0;
  const int32_t cycles = timeout / kCycleMs;
  WaitClock& clock = CurrentWaitClock();
  // Cycle ends lie on a fixed grid from the start, so passes that end early
  // on input do not stretch the wait and a silent wait lasts cycles x 5 ms.
  // A pass that overran (a slow repaint) moves the grid on instead of
  // leaving a run of cycles already due: each cycle still gives the device
  // its time.
  WaitClock::TimePoint cycleEnd = clock.Now() + kCycle;
  int16_t bytesRead = 0;

  for (; WaitCycleCounter < cycles; cycleEnd += kCycle) {
    if (const auto now = clock.Now(); cycleEnd <= now) cycleEnd = now + kCycle;
    // Watch the port while its bytes are worth waking for; a descriptor that
    // wakes without giving bytes (a hung-up line) is left alone for the rest
    // of the cycle, or the loop would spin on it.
    bool watchPort = true;
    for (WaitClock::TimePoint now = clock.Now(); now < cycleEnd; now = clock.Now()) {
      const int fd = watchPort ? PortDescriptor(SelectedPortIndex) : -1;
      const auto left = std::chrono::ceil<microseconds>(cycleEnd - now);
      if (!clock.WaitForInput(fd, left)) continue;
      if (const int16_t seen = WaitPass(bytesRead); seen != kWaitSilence) return seen;
      if (bytesRead <= 0) watchPort = false;
    }
    if (const int16_t seen = WaitPass(bytesRead); seen != kWaitSilence) return seen;
    ++WaitCycleCounter;
  }
  return kWaitSilence;
}

uint8_t FrameChecksum(const uint8_t* payload, size_t count) {
  uint8_t sum = 0;
  for (size_t i = 0; i < count; ++i) sum = static_cast<uint8_t>(sum + payload[i]);
  return static_cast<uint8_t>(0u - sum);
}

int16_t SendFrame(uint8_t* frame, size_t count) {
  // A frame built in FrameBuffer must leave room for its checksum there; one
  // that does not is never sent, which the caller sees as silence.
  const std::less<const uint8_t*> before;
  if (!before(frame, FrameBuffer) && before(frame, FrameBuffer + kFrameBufferSize) &&
      count >= static_cast<size_t>(FrameBuffer + kFrameBufferSize - frame)) {
    return kNoAnswer;
  }

  frame[count] = FrameChecksum(frame, count);
  for (int attempt = 0;; ++attempt) {
    Identity.ackReceived = 0;
    Identity.nakReceived = 0;
    // A failed write shows up as silence below.
    WritePort(SelectedPortIndex, frame, count + 1);
    switch (WaitForReply(kFrameReplyTimeoutMs)) {
      case kWaitAbort: return kUserAbort;
      case kWaitAck: return kFrameAccepted;
      case kWaitSilence: return kNoAnswer;  // silence is never answered with a resend
      default: break;
    }
    ShowResendAttempt(attempt);
    if (attempt + 1 >= kMaxSends) return kRefusedFiveTimes;
  }
}

const char* ExchangeErrorText(int16_t code) {
  switch (code) {
    case kNoAnswer: return " not Response ";
    case kUserAbort: return " User Abort !! ";
    case kRefusedFiveTimes: return " CHK Error !! ";
    case kBootloaderTooNew: return " Incompatible Bootloader !! ";
    default: return "";
  }
}

void ShowExchangeError(int16_t code) {
  const char* text = ExchangeErrorText(code);
  if (*text == 0) return;
  ShowResult(text, clRed, 0);
}

}  // namespace kestovane
