#include "sim/exit_rule.h"

#include <algorithm>

namespace kestovane::sim {

StopReason WhyStop(const ExitRule& rule, std::span<const DeviceRun> devices,
                   std::optional<std::chrono::steady_clock::time_point> lastFrame,
                   std::chrono::steady_clock::time_point now) {
  // A run is complete once its Fix frame and then all its EEPROM frames were answered.
  const bool allProgrammed =
      !devices.empty() && std::all_of(devices.begin(), devices.end(), [](const DeviceRun& d) {
        return d.progress.fixAcknowledged && d.progress.eepromAcknowledged >= d.eepromFrames;
      });
  if (rule.afterProgramming && allProgrammed) return StopReason::Programmed;
  if (rule.idle.count() > 0 && lastFrame && now - *lastFrame >= rule.idle) return StopReason::Idle;
  return StopReason::None;
}

}  // namespace kestovane::sim
