// kestovane-sim: a simulated device bootloader on a pseudo-terminal.
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "sim/command_line.h"
#include "sim/simulated_bootloader.h"

using namespace kestovane::sim;

namespace {

volatile std::sig_atomic_t g_stop = 0;

void OnSignal(int) { g_stop = 1; }

}  // namespace

int main(int argc, char** argv) {
  CommandLine options;
  try {
    options = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "kestovane-sim: %s\n", e.what());
    return 2;
  }
  if (options.help) {
    std::fputs(HelpText(), stdout);
    return 0;
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
    // The serving thread does the work; this one only waits for the signal.
    while (!g_stop && !sim.WaitUntil([](const Counters& c) { return c.lineDropped; }, Micros(100000))) {
    }
    sim.Stop();
    if (!options.quiet) {
      const Counters c = sim.GetCounters();
      std::printf("kestovane-sim: %u handshakes (%u answered), %u frames: %u accepted, %u refused, "
                  "%u unanswered, %u checksum errors, %u guarded%s\n",
                  c.handshakes, c.handshakesAnswered, c.frames, c.accepted, c.refused, c.unanswered,
                  c.checksumErrors, c.guardRefusals, c.lineDropped ? ", line dropped" : "");
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "kestovane-sim: %s\n", e.what());
    return 1;
  }
  return 0;
}
