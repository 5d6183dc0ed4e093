// The request and answer discipline with the bootloader: the wait loop that
// keeps the windows alive, the resends, and the result codes.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace kestovane {

// Set by the stop buttons of the windows; cleared only by the wait that acts
// on it, so a request made outside a wait stays pending until the next one.
extern uint8_t abortRequested;

// Result codes of the protocol and the programming sequence.
inline constexpr int16_t kFrameAccepted = 0;
inline constexpr int16_t kNoAnswer = -1;
inline constexpr int16_t kUserAbort = -2;
inline constexpr int16_t kRefusedFiveTimes = -3;
inline constexpr int16_t kBootloaderTooNew = -4;

// What WaitForReply saw.
inline constexpr int16_t kWaitAck = 1;
inline constexpr int16_t kWaitNak = -1;
inline constexpr int16_t kWaitAbort = -2;
inline constexpr int16_t kWaitSilence = 0;

// The shared area frames are built in; a frame of n bytes needs n + 1 bytes
// of room for its checksum.
inline constexpr size_t kFrameBufferSize = 600;
extern uint8_t FrameBuffer[kFrameBufferSize];

// One wait cycle, and the sends a frame gets before it counts as refused.
inline constexpr int kCycleMs = 5;
inline constexpr int kMaxSends = 5;
// How long a frame's answer is awaited.
inline constexpr int kFrameReplyTimeoutMs = 2000;

// Where the waiting happens, so tests can run waits on a clock of their own.
class WaitClock {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;
  virtual ~WaitClock() = default;
  virtual TimePoint Now() = 0;
  // Blocks for up to `timeout`, or less when fd (ignored when negative) has
  // bytes to read or has hung up. True when it ended on the descriptor.
  virtual bool WaitForInput(int fd, std::chrono::microseconds timeout) = 0;
};

// The steady clock and ppoll.
WaitClock& RealWaitClock();
// The clock every wait uses; nullptr puts the real one back.
void SetWaitClock(WaitClock* clock);
WaitClock& CurrentWaitClock();

// Cycles the last WaitForReply ran (a module-wide counter: the wait is not
// re-entrant).
extern int32_t WaitCycleCounter;

// 5 ms cycles of a sleep and one pass over the pending window messages,
// milliseconds / 5 of them rounded up; 0 or less does nothing.
void PumpMessages(int32_t milliseconds);

// kWaitAck, kWaitNak, kWaitAbort, or kWaitSilence after timeout / 5 cycles of
// 5 ms. A cycle ends early when the port has bytes, so a reply is acted on at
// once; a silent wait still lasts the full cycles x 5 ms.
int16_t WaitForReply(int32_t timeout);

// The checksum that makes all bytes of a frame add up to 0 mod 256.
uint8_t FrameChecksum(const uint8_t* payload, size_t count);

// Appends the checksum at frame[count], sends the frame and resends it on
// refusal, up to five sends: kFrameAccepted, kNoAnswer, kUserAbort or
// kRefusedFiveTimes.
int16_t SendFrame(uint8_t* frame, size_t count);

// The operator's message of a result code; empty for codes that have none.
const char* ExchangeErrorText(int16_t code);
// Shows the message of a negative result code as the run's result in red.
void ShowExchangeError(int16_t code);

}  // namespace kestovane
