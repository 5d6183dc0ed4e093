// How close a whole update run comes to the line's own limit. The build's two
// images go to the simulated bootloader (line timing on: every byte takes its
// 95 us at 115200 baud, 11 bits) through the real serial channel, from the
// program state start-up leaves (Upgrade window, this build's label): a
// device search, then the programming run, on Form5's bars.
//
// The protocol is lock-step (the next frame goes out only after the 'K' of
// the last), so the run can be no shorter than all its bytes, both ways, one
// after another on the line. For each run this prints:
//
//  wall      search + programming, and programming alone;
//  limit     (bytes received + bytes sent by the simulator) x 11 / 115200,
//            plus the device's write times when they are set;
//  ratio     wall / limit (target: 1.10 or less for the wait as built);
//  where     the updater's own time between waits, and what the waits lasted
//            beyond the line time (the simulator's reaction and the wake-ups);
//  cpu       the updater's processor time: the main thread runs it, the
//            simulator has a thread of its own (target: under 10% of wall);
//  memory    allocations the updater made per frame, resident memory after
//            each round and its peak.
//
// Four phases: the wait as built; a wait that sleeps every 5 ms cycle whole
// (what a wait deaf to the port would cost); the wait as built again with a
// timer slack of 1 ns for both threads (the simulator's pacing sleeps then
// overshoot less: this shows how much of the time beyond the limit is the
// simulator's own); and repeated rounds with the built-in clock, to show that
// memory stays flat however many frames go out.
//
// Device write times are 0 by default: the figures are about the updater and
// the line. --flash-write-us N and --eeprom-write-us N set them (a PIC24 row
// takes about 1600 us, a PIC18 EEPROM byte about 4000 us); the limit then
// counts them too.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "remote/udp_listener.h"
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "app/personality.h"
#include "catalogue/firmware_set.h"
#include "programming/programming_sequence.h"
#include "protocol/device_search.h"
#include "protocol/exchange.h"
#include "serial/port_channel.h"
#include "sim/simulated_bootloader.h"
#include "support/program.h"
#include "ui/upgrade_window.h"

// ---- allocations of the updater's thread ----
//
// Counted only while the main thread has switched counting on, so the
// simulator's thread (which records a transcript entry per frame) is left out.
namespace {
thread_local bool countAllocations = false;
uint64_t allocationsCounted = 0;
}  // namespace

// Out of line, so the compiler does not pair the malloc and free it would see.
[[gnu::noinline]] void* operator new(std::size_t n) {
  if (countAllocations) ++allocationsCounted;
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
[[gnu::noinline]] void operator delete(void* p) noexcept { std::free(p); }
[[gnu::noinline]] void operator delete(void* p, std::size_t) noexcept { std::free(p); }

using namespace kestovane;
using SteadyClock = std::chrono::steady_clock;
using std::chrono::microseconds;

namespace {

constexpr double kLineBitsPerByte = 11;  // start, 8 data, 2 stop
constexpr double kBaud = 115200;
constexpr double kRatioTarget = 1.10;
constexpr double kCpuShareTarget = 0.10;

// The build's two images and the device each one goes to.
struct Target {
  const char* name;
  uint8_t deviceCode;
  uint8_t version;
  uint8_t printCode;
  uint8_t preparationCode;
};
constexpr Target kTargets[] = {
    {.name = "dsPIC 254 v10, column 6, 30968 bytes",
     .deviceCode = 254, .version = 10, .printCode = 16, .preparationCode = 0x04},
    {.name = "K80 72 v9, column 9, 10401 + 1024 EEPROM bytes",
     .deviceCode = 72, .version = 9, .printCode = 20, .preparationCode = 0x0a},
};

enum class Wait { AsBuilt, SleepsWholeCycle, BuiltInClock };

struct Options {
  int repeatRounds = 3;
  microseconds flashWriteTime{0};
  microseconds eepromWriteTime{0};
};

double Seconds(SteadyClock::duration d) { return std::chrono::duration<double>(d).count(); }

double CpuSeconds(clockid_t which) {
  timespec t{};
  clock_gettime(which, &t);
  return static_cast<double>(t.tv_sec) + t.tv_nsec * 1e-9;
}

long ResidentKiB() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  return -1;
}

long PeakResidentKiB() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}

// The wait's clock with the updater's time split in two: inside the waits and
// between them. The as-built variant hands the descriptor to the real wait;
// the other sleeps the whole timeout and ignores it, as a deaf wait would.
class TimedClock final : public WaitClock {
 public:
  explicit TimedClock(bool wakeOnInput) : wakeOnInput_(wakeOnInput) {}
  TimePoint Now() override { return SteadyClock::now(); }
  bool WaitForInput(int fd, microseconds timeout) override {
    const TimePoint entered = Now();
    if (lastReturn_ != TimePoint{}) between += entered - lastReturn_;
    ++waits;
    bool woke = false;
    if (wakeOnInput_) {
      woke = RealWaitClock().WaitForInput(fd, timeout);
    } else {
      std::this_thread::sleep_for(timeout);
    }
    lastReturn_ = Now();
    inside += lastReturn_ - entered;
    if (woke) ++wakes;
    return woke;
  }
  // The run starts and ends outside any wait.
  void Begin() { lastReturn_ = Now(); }
  void End() {
    between += Now() - lastReturn_;
    lastReturn_ = {};
  }

  SteadyClock::duration between{}, inside{};
  uint64_t waits = 0, wakes = 0;

 private:
  bool wakeOnInput_;
  TimePoint lastReturn_{};
};

struct RunFigures {
  double searchWall = 0, programWall = 0;
  double wireAll = 0, wireProgram = 0, deviceWrites = 0;
  double updaterCpu = 0, processCpu = 0;
  double between = 0, inside = 0;
  uint64_t waits = 0, wakes = 0;
  uint64_t searchAllocations = 0, programAllocations = 0;
  sim::Counters counters;
  double simReaction = 0;  // frame complete at the simulator -> its reply starts
  long residentAfter = 0;
  std::string panel;
  int8_t result = 0;

  double Limit() const { return wireAll + deviceWrites; }
  double ProgramLimit() const { return wireProgram + deviceWrites; }
  double Wall() const { return searchWall + programWall; }
  uint32_t Frames() const { return counters.frames; }
};

double WireSeconds(uint64_t bytes) { return static_cast<double>(bytes) * kLineBitsPerByte / kBaud; }

// Bytes of the search (handshakes, identity, info record), from the transcript.
uint64_t SearchBytes(const std::vector<sim::FrameRecord>& transcript) {
  uint64_t n = 0;
  for (const sim::FrameRecord& r : transcript)
    if (r.kind == "handshake" || r.kind == "identity" || r.kind == "info") n += r.bytes.size();
  return n;
}

// How long the simulator took from having a whole frame to starting its reply
// (its processing and the device write time; its line pacing is not in it).
double SimReaction(const std::vector<sim::FrameRecord>& transcript) {
  double sum = 0;
  for (const sim::FrameRecord& r : transcript)
    if (r.direction == sim::Direction::Received && r.frame > 0 && r.replyTime >= 0) sum += r.replyTime - r.time;
  return sum;
}

bool RunOnce(const Target& target, Wait wait, int com, const Options& options, RunFigures& f) {
  // The device: one personality, line paced, published as COM<com>.
  sim::SimConfig config;
  sim::Personality device;
  device.deviceCode = target.deviceCode;
  device.version = target.version;
  device.printCode = target.printCode;
  device.preparationCode = target.preparationCode;
  config.personalities = {device};
  config.paceLine = true;
  config.flashWriteTime = options.flashWriteTime;
  config.eepromWriteTime = options.eepromWriteTime;
  config.portDir = getenv("KESTOVANE_PORT_DIR");
  config.comNumber = com;
  sim::SimulatedBootloader simulator(config);
  simulator.Start();
  SelectedPortIndex = static_cast<int16_t>(com - 1);

  TimedClock timed(wait == Wait::AsBuilt);
  if (wait != Wait::BuiltInClock) SetWaitClock(&timed);

  // The run, as the START button makes it.
  const double cpu0 = CpuSeconds(CLOCK_THREAD_CPUTIME_ID);
  const double process0 = CpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
  const uint64_t allocations0 = allocationsCounted;
  timed.Begin();
  const auto began = SteadyClock::now();
  countAllocations = true;
  const int16_t found = SearchDevice(Form5->ProgressBar1, Form5->StatusBar1);
  countAllocations = false;
  const auto searched = SteadyClock::now();
  const uint64_t allocations1 = allocationsCounted;
  if (found == kDeviceFound) {
    countAllocations = true;
    f.result = PrgMode(Form5->ProgressBar1, Form5->StatusBar1);
    countAllocations = false;
  }
  const auto ended = SteadyClock::now();
  timed.End();
  f.updaterCpu = CpuSeconds(CLOCK_THREAD_CPUTIME_ID) - cpu0;
  f.processCpu = CpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - process0;
  SetWaitClock(nullptr);

  f.searchWall = Seconds(searched - began);
  f.programWall = Seconds(ended - searched);
  f.searchAllocations = allocations1 - allocations0;
  f.programAllocations = allocationsCounted - allocations1;
  f.between = Seconds(timed.between);
  f.inside = Seconds(timed.inside);
  f.waits = timed.waits;
  f.wakes = timed.wakes;
  f.panel = Form5->StatusBar1->PanelText(1);

  // Every reply was counted before it went out, so the counters are final.
  f.counters = simulator.GetCounters();
  const std::vector<sim::FrameRecord> transcript = simulator.Transcript();
  const uint64_t all = f.counters.bytesReceived + f.counters.bytesSent;
  f.wireAll = WireSeconds(all);
  f.wireProgram = WireSeconds(all - SearchBytes(transcript));
  f.deviceWrites = std::chrono::duration<double>(options.flashWriteTime).count() * f.counters.flashFrames +
                   std::chrono::duration<double>(options.eepromWriteTime).count() * f.counters.eepromFrames;
  f.simReaction = SimReaction(transcript);

  ClosePort(SelectedPortIndex);
  OpenedPortIndex = -1;
  simulator.Stop();
  f.residentAfter = ResidentKiB();

  if (found != kDeviceFound) {
    std::fprintf(stderr, "FAILED: %s: search gave %d, panel 1 \"%s\"\n", target.name, found, f.panel.c_str());
    return false;
  }
  if (f.result != 0 || f.panel != "Program OK" || f.counters.refused != 0) {
    std::fprintf(stderr, "FAILED: %s: PrgMode gave %d, panel 1 \"%s\", %u frames refused\n", target.name, f.result,
                 f.panel.c_str(), f.counters.refused);
    return false;
  }
  return true;
}

void PrintRun(const Target& target, const RunFigures& f) {
  const double wall = f.Wall();
  std::printf("  %s: \"%s\"\n", target.name, f.panel.c_str());
  std::printf("    frames %u (accepted %u), bytes %llu received + %llu sent\n", f.Frames(), f.counters.accepted,
              static_cast<unsigned long long>(f.counters.bytesReceived),
              static_cast<unsigned long long>(f.counters.bytesSent));
  std::printf("    wall       run %8.1f ms (search %.1f, programming %.1f)\n", wall * 1e3, f.searchWall * 1e3,
              f.programWall * 1e3);
  std::printf("    limit      run %8.1f ms (programming %.1f)%s\n", f.Limit() * 1e3, f.ProgramLimit() * 1e3,
              f.deviceWrites > 0 ? ", device writes included" : "");
  std::printf("    ratio      run %8.3f     (programming %.3f)\n", wall / f.Limit(), f.programWall / f.ProgramLimit());
  if (f.waits > 0) {
    const double frames = std::max<uint32_t>(f.Frames(), 1);
    const double beyond = f.inside - f.Limit();
    std::printf("    where      updater between waits %.1f ms (%.1f us a frame); waits %.1f ms, %.1f ms beyond the "
                "limit (%.1f us a frame)\n",
                f.between * 1e3, f.between / frames * 1e6, f.inside * 1e3, beyond * 1e3, beyond / frames * 1e6);
    std::printf("               %llu waits, %llu woken by the port; simulator frame -> reply %.1f ms\n",
                static_cast<unsigned long long>(f.waits), static_cast<unsigned long long>(f.wakes),
                f.simReaction * 1e3);
  }
  std::printf("    cpu        updater %.1f ms = %.2f%% of wall (simulator thread %.1f ms)\n", f.updaterCpu * 1e3,
              100 * f.updaterCpu / wall, (f.processCpu - f.updaterCpu) * 1e3);
  std::printf("    allocs     search %llu, programming %llu (%.3f a frame)\n",
              static_cast<unsigned long long>(f.searchAllocations),
              static_cast<unsigned long long>(f.programAllocations),
              static_cast<double>(f.programAllocations) / std::max<uint32_t>(f.Frames(), 1));
}

const char* Verdict(bool met) { return met ? "met" : "MISSED"; }

}  // namespace

int main(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const bool hasValue = i + 1 < argc;
    if (a == "--repeat" && hasValue) {
      options.repeatRounds = std::max(1, std::atoi(argv[++i]));
    } else if (a == "--flash-write-us" && hasValue) {
      options.flashWriteTime = microseconds(std::atoi(argv[++i]));
    } else if (a == "--eeprom-write-us" && hasValue) {
      options.eepromWriteTime = microseconds(std::atoi(argv[++i]));
    } else {
      std::fprintf(stderr, "usage: %s [--repeat N] [--flash-write-us N] [--eeprom-write-us N]\n", argv[0]);
      return 1;
    }
  }

  // Private folders for the settings, the instance lock and the port links,
  // then the program as start-up leaves it.
  const std::string privateDir = testing::PrivateRuntimeDir();
  const std::string portDir = privateDir + "/ports";
  std::filesystem::create_directories(portDir);
  setenv("KESTOVANE_PORT_DIR", portDir.c_str(), 1);
  const auto finish = [&](int rc) {
    std::filesystem::remove_all(privateDir);
    return rc;
  };
  testing::StartProgram(BuildCatalogueLabel());
  if (CurrentPersonality != Personality::Upgrade || !Form5 || BatchMode != 0) {
    std::fprintf(stderr, "FAILED: label \"%s\" does not start the Upgrade window outside batch mode\n",
                 BuildCatalogueLabel());
    return finish(1);
  }
  std::printf("label \"%s\", Upgrade window, batch mode %d; device writes: flash %lld us, EEPROM %lld us\n\n",
              BuildCatalogueLabel(), BatchMode, static_cast<long long>(options.flashWriteTime.count()),
              static_cast<long long>(options.eepromWriteTime.count()));

  int com = 40;
  bool ok = true;
  bool ratioMet = true, cpuMet = true;
  const auto runRound = [&](Wait wait, const char* title, std::vector<RunFigures>& out) {
    if (title) std::printf("%s\n", title);
    for (const Target& t : kTargets) {
      RunFigures f;
      if (!RunOnce(t, wait, com++, options, f)) {
        ok = false;
        return;
      }
      if (title) PrintRun(t, f);
      out.push_back(f);
    }
  };

  // The wait as built.
  std::vector<RunFigures> asBuilt;
  runRound(Wait::AsBuilt, "wait as built (a cycle ends when the port has bytes)", asBuilt);
  if (!ok) return finish(1);
  const long residentFirst = ResidentKiB();
  for (const RunFigures& f : asBuilt) {
    ratioMet = ratioMet && f.Wall() / f.Limit() <= kRatioTarget;
    cpuMet = cpuMet && f.updaterCpu / f.Wall() < kCpuShareTarget;
  }

  // A wait that sleeps each 5 ms cycle whole, deaf to the port.
  std::vector<RunFigures> sleeping;
  runRound(Wait::SleepsWholeCycle, "\nwait that sleeps every 5 ms cycle whole", sleeping);
  if (!ok) return finish(1);

  // The timer slack is inherited by threads made afterwards, so the
  // simulator's thread gets it too; 0 puts the default back.
  std::vector<RunFigures> slack;
  prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
  runRound(Wait::AsBuilt, "\nwait as built, timer slack 1 ns for the updater and the simulator (diagnostic)", slack);
  prctl(PR_SET_TIMERSLACK, 0UL, 0UL, 0UL, 0UL);
  if (!ok) return finish(1);

  // The remote listener under a flood of datagrams (loopback only, bounded
  // in time): its thread must not slow a run.
  std::vector<RunFigures> flooded;
  uint64_t floodSent = 0, floodReceived = 0;
  {
    UdpDataHandler listener(0);
    std::atomic<bool> flooding{true};
    std::thread flood([&] {
      const int s = socket(AF_INET, SOCK_DGRAM, 0);
      sockaddr_in to{};
      to.sin_family = AF_INET;
      to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      to.sin_port = htons(listener.Port());
      const std::vector<char> payload(1024, 'x');
      const auto stopAt = std::chrono::steady_clock::now() + std::chrono::seconds(30);
      while (flooding.load() && std::chrono::steady_clock::now() < stopAt)
        if (sendto(s, payload.data(), payload.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to) > 0) ++floodSent;
      close(s);
    });
    runRound(Wait::AsBuilt, "\nwait as built, the remote listener flooded with 1 KiB datagrams", flooded);
    flooding = false;
    flood.join();
    floodReceived = listener.Received();
  }
  if (!ok) return finish(1);
  std::printf("  datagrams sent %llu, received and dropped %llu\n", static_cast<unsigned long long>(floodSent),
              static_cast<unsigned long long>(floodReceived));

  // More rounds with the built-in clock: resident memory must stay flat.
  std::printf("\nrepeated rounds, built-in clock\n");
  std::vector<RunFigures> repeated;
  long residentRepeatFirst = 0;
  uint64_t framesAfterRepeatFirst = 0;
  for (int round = 1; round <= options.repeatRounds && ok; ++round) {
    std::vector<RunFigures> r;
    runRound(Wait::BuiltInClock, nullptr, r);
    if (!ok) return finish(1);
    std::printf("  round %d:", round);
    for (size_t i = 0; i < r.size(); ++i)
      std::printf("  %s %.1f ms ratio %.3f cpu %.2f%% allocs %llu;", i == 0 ? "dsPIC" : "K80", r[i].Wall() * 1e3,
                  r[i].Wall() / r[i].Limit(), 100 * r[i].updaterCpu / r[i].Wall(),
                  static_cast<unsigned long long>(r[i].searchAllocations + r[i].programAllocations));
    std::printf("  resident %ld KiB\n", ResidentKiB());
    if (round == 1) residentRepeatFirst = ResidentKiB();
    else for (const RunFigures& f : r) framesAfterRepeatFirst += f.Frames();
    repeated.insert(repeated.end(), r.begin(), r.end());
  }
  const long residentLast = ResidentKiB();
  uint64_t framesAfterFirst = 0;
  for (const RunFigures& f : sleeping) framesAfterFirst += f.Frames();
  for (const RunFigures& f : slack) framesAfterFirst += f.Frames();
  for (const RunFigures& f : repeated) framesAfterFirst += f.Frames();

  std::printf("\nsummary\n");
  for (size_t i = 0; i < asBuilt.size(); ++i)
    std::printf("  %-48s ratio as built %.3f, sleeping wait %.3f, as built with 1 ns slack %.3f\n", kTargets[i].name,
                asBuilt[i].Wall() / asBuilt[i].Limit(), sleeping[i].Wall() / sleeping[i].Limit(),
                slack[i].Wall() / slack[i].Limit());
  for (size_t i = 0; i < flooded.size(); ++i)
    std::printf("  %-48s ratio with the listener flooded %.3f\n", kTargets[i].name, flooded[i].Wall() / flooded[i].Limit());
  std::printf("  ratio <= %.2f with the wait as built: %s\n", kRatioTarget, Verdict(ratioMet));
  std::printf("  updater cpu < %.0f%% of wall: %s\n", kCpuShareTarget * 100, Verdict(cpuMet));
  std::printf("  resident after the first round %ld KiB, after %llu more frames %ld KiB (%+ld KiB); peak %ld KiB\n",
              residentFirst, static_cast<unsigned long long>(framesAfterFirst), residentLast,
              residentLast - residentFirst, PeakResidentKiB());
  std::printf("  resident after repeated round 1 %ld KiB, after %llu more frames %ld KiB (%+ld KiB)\n",
              residentRepeatFirst, static_cast<unsigned long long>(framesAfterRepeatFirst), residentLast,
              residentLast - residentRepeatFirst);

  return finish(ok ? 0 : 1);
}
