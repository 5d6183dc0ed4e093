// How soon the command exchange acts on a 'K': frames go to the simulated
// bootloader with its line timing on (every byte takes its 95 us at 115200
// baud, 8N2), and two figures are taken for each acknowledged frame:
//
//  line:  from the moment the 'K' is complete on the line to the moment the
//         next frame starts on it, in the simulator's own clock; this holds
//         the simulator's own wake-up time too, so it is an upper bound;
//  host:  from the wait waking on the port to the exchange returning 0.
//
// Both are printed for the wait as built (a cycle ends when the port has
// bytes) and, for comparison, for a wait that sleeps every 5 ms cycle whole.
#include <stdlib.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "protocol/device_search.h"
#include "protocol/exchange.h"
#include "serial/port_channel.h"
#include "sim/simulated_bootloader.h"

using namespace kestovane;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kFrames = 400;
constexpr size_t kPayload = 5;  // an EEPROM frame, 6 bytes on the wire

// The real clock, noting when a wait woke on the port.
class WatchingClock final : public WaitClock {
 public:
  explicit WatchingClock(bool wakeOnInput) : wakeOnInput_(wakeOnInput) {}
  TimePoint Now() override { return RealWaitClock().Now(); }
  bool WaitForInput(int fd, std::chrono::microseconds timeout) override {
    const bool woke = RealWaitClock().WaitForInput(wakeOnInput_ ? fd : -1, timeout);
    if (woke) lastWake = Now();
    return woke;
  }
  TimePoint lastWake{};

 private:
  bool wakeOnInput_;
};

struct Figures {
  double min, median, p99, max, mean;
};

Figures Summarise(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  double sum = 0;
  for (double x : v) sum += x;
  const auto at = [&](double q) { return v[std::min(v.size() - 1, static_cast<size_t>(q * (v.size() - 1) + 0.5))]; };
  return {v.front(), at(0.5), at(0.99), v.back(), sum / v.size()};
}

void Print(const char* what, const Figures& f) {
  std::printf("  %-44s min %7.1f  median %7.1f  p99 %7.1f  max %7.1f  mean %7.1f us\n", what, f.min, f.median, f.p99,
              f.max, f.mean);
}

int Run(const char* title, bool wakeOnInput, int com) {
  sim::SimConfig config;
  config.paceLine = true;
  config.portDir = getenv("KESTOVANE_PORT_DIR");
  config.comNumber = com;
  sim::SimulatedBootloader device(config);
  device.Start();

  SelectedPortIndex = static_cast<int16_t>(com - 1);
  if (SearchDevice(nullptr, nullptr) != kDeviceFound) {
    std::fprintf(stderr, "the simulated bootloader did not answer\n");
    return 1;
  }

  WatchingClock clock(wakeOnInput);
  SetWaitClock(&clock);
  std::vector<double> host;
  for (int i = 0; i < kFrames; ++i) {
    const uint8_t payload[kPayload] = {0x40, static_cast<uint8_t>(i), static_cast<uint8_t>(i * 7), 0x01, 0x00};
    std::copy(payload, payload + kPayload, FrameBuffer);
    clock.lastWake = {};
    if (SendFrame(FrameBuffer, kPayload) != kFrameAccepted) {
      std::fprintf(stderr, "frame %d not accepted\n", i);
      SetWaitClock(nullptr);
      return 1;
    }
    if (clock.lastWake != WaitClock::TimePoint{})
      host.push_back(std::chrono::duration<double, std::micro>(Clock::now() - clock.lastWake).count());
  }
  SetWaitClock(nullptr);
  ClosePort(SelectedPortIndex);
  OpenedPortIndex = -1;

  // From the transcript: the 'K' is complete one byte time after it went
  // out; the next frame started n byte times before the simulator had all of it.
  const double byteTime = std::chrono::duration<double>(config.byteTime).count();
  std::vector<sim::FrameRecord> frames;
  for (const sim::FrameRecord& r : device.Transcript())
    if (r.direction == sim::Direction::Received && r.kind == "eeprom") frames.push_back(r);
  device.Stop();
  std::vector<double> line;
  for (size_t i = 0; i + 1 < frames.size(); ++i) {
    const double kComplete = frames[i].replyTime + byteTime;
    const double nextStarted = frames[i + 1].time - byteTime * frames[i + 1].bytes.size();
    line.push_back((nextStarted - kComplete) * 1e6);
  }

  std::printf("%s (%d frames)\n", title, kFrames);
  Print("line: 'K' complete -> next frame starts", Summarise(line));
  if (host.empty()) {
    std::printf("  %-44s none: this wait does not wake on the port\n", "host: wait woke on the port -> exchange done");
  } else {
    Print("host: wait woke on the port -> exchange done", Summarise(host));
  }
  return 0;
}

double CpuMs() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e3 + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e3;
}

// What a silent wait costs: the full 2000 ms, and almost no processor time.
int IdleWait(int com) {
  sim::SimConfig config;
  config.paceLine = true;
  config.portDir = getenv("KESTOVANE_PORT_DIR");
  config.comNumber = com;
  config.faults = {{.kind = sim::FaultKind::Silent, .frame = 1, .times = 1, .delay = {}, .noise = {}}};
  sim::SimulatedBootloader device(config);
  device.Start();
  SelectedPortIndex = static_cast<int16_t>(com - 1);
  if (SearchDevice(nullptr, nullptr) != kDeviceFound) return 1;
  const uint8_t payload[kPayload] = {0x40, 0x00, 0x11, 0x01, 0x00};
  std::copy(payload, payload + kPayload, FrameBuffer);
  const double cpu = CpuMs();
  const auto began = Clock::now();
  const int16_t result = SendFrame(FrameBuffer, kPayload);
  const double wall = std::chrono::duration<double, std::milli>(Clock::now() - began).count();
  std::printf("silent frame: result %d after %.1f ms, processor time %.2f ms (%d cycles)\n", result, wall,
              CpuMs() - cpu, WaitCycleCounter);
  ClosePort(SelectedPortIndex);
  OpenedPortIndex = -1;
  device.Stop();
  return 0;
}

}  // namespace

int main() {
  std::string dir = (std::filesystem::temp_directory_path() / "kestovane-bench-XXXXXX").string();
  if (!mkdtemp(dir.data())) return 1;
  setenv("KESTOVANE_PORT_DIR", dir.c_str(), 1);

  int rc = Run("wait that ends its cycle on port input", true, 21);
  rc |= Run("wait that sleeps every 5 ms cycle whole", false, 22);
  rc |= IdleWait(23);
  std::filesystem::remove_all(dir);
  return rc;
}
