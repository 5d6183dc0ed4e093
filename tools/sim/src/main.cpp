// kestovane-sim: a simulated device bootloader on a pseudo-terminal.
#include <csignal>
#include <cstdio>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "sim/command_line.h"
#include "sim/exit_rule.h"
#include "sim/image_check.h"
#include "sim/simulated_bootloader.h"

using namespace kestovane::sim;

namespace {

volatile std::sig_atomic_t g_stop = 0;

void OnSignal(int) { g_stop = 1; }

// Exit codes a script can tell apart.
constexpr int kExitHolds = 0;
constexpr int kExitFailure = 1;
constexpr int kExitBadArguments = 2;
constexpr int kExitDoesNotHold = 3;

// The images the devices should end up holding, read before the line opens so
// that a bad HEX file is reported at once, not after a whole programming run.
std::vector<std::optional<ExpectedImage>> ReadExpectations(const CommandLine& options) {
  std::vector<std::optional<ExpectedImage>> expected(options.config.personalities.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const std::vector<std::string>& files = options.expectHex.at(i);
    if (files.empty()) continue;
    const Personality& p = options.config.personalities[i];
    const FamilyMemory* family = FindFamily(p.deviceCode);
    if (family == nullptr)
      throw ExpectedImageError("--expect-hex: device code " + std::to_string(p.deviceCode) +
                               " belongs to no family, so no image can be checked");
    expected[i] = ReadExpectedImage({files.begin(), files.end()}, *family);
  }
  return expected;
}

// What completes each device's run: its Fix frame, then its EEPROM frames.
std::vector<DeviceRun> Runs(const SimulatedBootloader& sim, const std::vector<std::optional<ExpectedImage>>& expected) {
  std::vector<DeviceRun> runs;
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const std::size_t eeprom = expected[i] ? expected[i]->eeprom.size() : sim.Eeprom(i).size();
    runs.push_back(DeviceRun{.progress = sim.Progress(i), .eepromFrames = static_cast<std::uint32_t>(eeprom)});
  }
  return runs;
}

// Serves until a signal, a dropped line or the exit rule ends it.
void Serve(SimulatedBootloader& sim, const CommandLine& options,
           const std::vector<std::optional<ExpectedImage>>& expected) {
  while (!g_stop) {
    if (sim.WaitUntil([](const Counters& c) { return c.lineDropped; }, Micros(100000))) return;
    const StopReason why =
        WhyStop(options.exitRule, Runs(sim, expected), sim.LastProgrammingFrame(), std::chrono::steady_clock::now());
    if (why == StopReason::None) continue;
    if (!options.quiet) {
      if (why == StopReason::Programmed)
        std::printf("kestovane-sim: programming run complete, stopping\n");
      else
        std::printf("kestovane-sim: no programming frame for %lld ms, stopping\n",
                    static_cast<long long>(options.exitRule.idle.count()));
      std::fflush(stdout);
    }
    // The last answer is on the line; give the updater time to read it.
    if (why == StopReason::Programmed) std::this_thread::sleep_for(kExitGrace);
    return;
  }
}

// One verdict line per device that has an expected image; true when all hold.
bool ReportChecks(const SimulatedBootloader& sim, const std::vector<std::optional<ExpectedImage>>& expected) {
  bool allHold = true;
  for (std::size_t i = 0; i < expected.size(); ++i) {
    if (!expected[i]) continue;
    const ImageCheck check = CheckDeviceHoldsImage(sim.Flash(i), sim.Eeprom(i), sim.Layout(i), *expected[i]);
    if (check.holds)
      std::printf("device memory holds the image (%zu bytes)\n", check.checkedBytes);
    else
      std::printf("device memory does NOT hold the image: %s\n", check.reason.c_str());
    allHold = allHold && check.holds;
  }
  std::fflush(stdout);
  return allHold;
}

}  // namespace

int main(int argc, char** argv) {
  CommandLine options;
  std::vector<std::optional<ExpectedImage>> expected;
  try {
    options = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    if (!options.help) expected = ReadExpectations(options);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "kestovane-sim: %s\n", e.what());
    return kExitBadArguments;
  }
  if (options.help) {
    std::fputs(HelpText(), stdout);
    return kExitHolds;
  }
  try {
    SimulatedBootloader sim(options.config);
    struct sigaction action{};
    action.sa_handler = OnSignal;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sim.Start();
    if (!options.quiet) {
      const Personality& p = options.config.personalities.front();
      const FamilyMemory* family = FindFamily(p.deviceCode);
      std::printf("kestovane-sim: device %u (%s), bootloader version %u on %s%s%s\n", p.deviceCode,
                  family ? family->part : "unknown family", p.version, sim.DevicePath().c_str(),
                  sim.LinkPath().empty() ? "" : " as ", sim.LinkPath().c_str());
      std::fflush(stdout);
    }
    // The serving thread does the work; this one only waits for the end.
    Serve(sim, options, expected);
    sim.Stop();
    if (!options.quiet) {
      const Counters c = sim.GetCounters();
      std::printf("kestovane-sim: %u handshakes (%u answered), %u frames: %u accepted, %u refused, "
                  "%u unanswered, %u checksum errors, %u guarded%s\n",
                  c.handshakes, c.handshakesAnswered, c.frames, c.accepted, c.refused, c.unanswered,
                  c.checksumErrors, c.guardRefusals, c.lineDropped ? ", line dropped" : "");
    }
    return ReportChecks(sim, expected) ? kExitHolds : kExitDoesNotHold;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "kestovane-sim: %s\n", e.what());
    return kExitFailure;
  }
}
