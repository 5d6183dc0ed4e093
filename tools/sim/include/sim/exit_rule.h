// When kestovane-sim stops by itself, so that a script can run the updater
// against it and simply wait for it.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>

#include "sim/simulated_bootloader.h"

namespace kestovane::sim {

// The quiet time after the last programming frame that ends a run which never
// completes (it broke off, or it sends fewer EEPROM frames than awaited). The
// updater waits at most 2 s for an answer, so a live run is never this quiet.
inline constexpr std::chrono::milliseconds kDefaultExitIdle{3000};

// The simulator answers the last frame before it stops; this pause lets the
// answer reach the updater before the line goes away.
inline constexpr std::chrono::milliseconds kExitGrace{250};

struct ExitRule {
  bool afterProgramming = false;  // stop when every device has completed a run
  std::chrono::milliseconds idle{0};  // stop after so long without a programming frame; 0 never
};

// One device of the line: its run so far and the EEPROM frames that complete it.
struct DeviceRun {
  RunProgress progress;
  std::uint32_t eepromFrames = 0;
};

enum class StopReason { None, Programmed, Idle };

// Pure, so the decision is tested without waiting: `lastFrame` is when the
// last programming frame came (none yet: the idle rule waits for one).
StopReason WhyStop(const ExitRule& rule, std::span<const DeviceRun> devices,
                   std::optional<std::chrono::steady_clock::time_point> lastFrame,
                   std::chrono::steady_clock::time_point now);

}  // namespace kestovane::sim
