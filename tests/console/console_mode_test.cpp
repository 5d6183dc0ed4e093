// Console mode's exit codes for the situations a test station meets, each
// against the simulated bootloader through the real serial channel.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <functional>
#include <thread>

#include "app/console_mode.h"
#include "app/startup.h"
#include "platform/console_renderer.h"
#include "platform/instance_lock.h"
#include "protocol/protocol_support.h"

namespace kestovane {
namespace {

using testing::SimDevice;

constexpr int kCom = 13;

struct ConsoleCase {
  const char* name;
  std::function<sim::SimConfig()> device;  // nullptr: nothing on the line
  const char* port;                        // "" for the simulator's COM13, "path" for its device path
  int exit;
};

std::ostream& operator<<(std::ostream& os, const ConsoleCase& c) { return os << c.name; }

class ConsoleExitCodes : public ::testing::TestWithParam<ConsoleCase> {};

int RunConsoleWith(const std::string& port, std::string* printed = nullptr) {
  testing::ResetProgram();
  std::vector<std::string> args{"kestovane", "--console", "--port", port};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const ProgramOptions options = ParseProgramOptions(4, argv.data());
  EXPECT_EQ(options.error, "");
  char* buffer = nullptr;
  size_t size = 0;
  std::FILE* out = open_memstream(&buffer, &size);
  int code;
  {
    ConsoleRenderer renderer(out, false);
    code = RunConsole(4, argv.data(), options, renderer);
  }
  std::fclose(out);
  if (printed) *printed = std::string(buffer, size);
  std::free(buffer);
  Application->SetRenderer(nullptr);
  return code;
}

TEST_P(ConsoleExitCodes, TellHowTheRunEnded) {
  const ConsoleCase& c = GetParam();
  testing::ResetProgram();
  std::unique_ptr<sim::SimulatedBootloader> device;
  if (c.device) device = testing::StartSimulator(c.device(), kCom);
  testing::BriefClock clock;  // a silent line costs no real time
  testing::ScopedClock scoped(clock);
  std::string port = c.port;
  if (port.empty()) port = "COM" + std::to_string(kCom);
  if (port == "path") port = device->DevicePath();
  std::string printed;
  EXPECT_EQ(RunConsoleWith(port, &printed), c.exit) << printed;
  device.reset();
  ResetPortTable();
}

INSTANTIATE_TEST_SUITE_P(
    Situations, ConsoleExitCodes,
    ::testing::Values(
        ConsoleCase{"programmed", [] { return SimDevice(254, 10, 16, 0x04); }, "", kExitSuccess},
        ConsoleCase{"programmed_by_device_path", [] { return SimDevice(72, 9, 20, 0x0a); }, "path", kExitSuccess},
        ConsoleCase{"port_unusable", nullptr, "COM200", kExitPortUnusable},
        ConsoleCase{"no_device_found",
                    [] {
                      sim::SimConfig c = SimDevice(254, 10, 16, 0x04);
                      c.answerFromHandshake = 1000;
                      return c;
                    },
                    "", kExitNoDevice},
        ConsoleCase{"no_image", [] { return SimDevice(67, 9, 16, 0x04); }, "", kExitNoImage},
        ConsoleCase{"image_refused", [] { return SimDevice(254, 10, 7, 0x04); }, "", kExitNoImage},
        ConsoleCase{"transfer_failed",
                    [] {
                      sim::SimConfig c = SimDevice(254, 10, 16, 0x04);
                      c.faults.push_back(sim::Fault::Refuse(3, 5));
                      return c;
                    },
                    "", kExitTransferFailed}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ConsoleMode, CtrlCActsAsTheStopButton) {
  testing::ResetProgram();
  sim::SimConfig c = SimDevice(254, 10, 16, 0x04);
  c.faults.push_back(sim::Fault::Late(3, std::chrono::milliseconds(300)));
  auto device = testing::StartSimulator(c, kCom);
  std::thread operatorHand([&] {
    device->WaitUntil([](const sim::Counters& k) { return k.frames >= 3; }, std::chrono::seconds(5));
    std::raise(SIGINT);
  });
  std::string printed;
  EXPECT_EQ(RunConsoleWith("COM13", &printed), kExitStopped);
  operatorHand.join();
  EXPECT_NE(printed.find(" User Abort !! "), std::string::npos);
  EXPECT_EQ(device->GetCounters().fixFrames, 0u);
}

TEST(ConsoleMode, AnotherRunningCopyIsAnErrorForScripts) {
  testing::ResetProgram();
  InstanceLock first;
  ASSERT_EQ(first.Acquire(kInstanceMutexName), InstanceLock::Result::Acquired);
  std::string printed;
  EXPECT_EQ(RunConsoleWith("COM13", &printed), kExitAlreadyRunning);
  EXPECT_NE(printed.find("Already in progress"), std::string::npos);
}

TEST(ConsoleMode, PrintsTheWindowsTextsAndPercentageLines) {
  testing::ResetProgram();
  auto device = testing::StartSimulator(SimDevice(254, 10, 16, 0x04), kCom);
  std::string printed;
  ASSERT_EQ(RunConsoleWith("COM13", &printed), kExitSuccess);
  for (const char* line : {"StatusBar1[0]: COM13\n", "StatusBar1[1]: Search Device\n", "StatusBar1[3]: Found 24HJ64\n",
                           "ProgressBar1: 50%\n", "StatusBar1[1]: Program OK\n"})
    EXPECT_NE(printed.find(line), std::string::npos) << line << "\n" << printed;
}

struct OptionsCase {
  std::vector<const char*> args;
  bool console;
  std::string port;
  bool error;
};

class CommandLine : public ::testing::TestWithParam<OptionsCase> {};

TEST_P(CommandLine, IsReadWithBackslashPKeptAsTheFirstArgument) {
  std::vector<char*> argv{const_cast<char*>("kestovane")};
  for (const char* a : GetParam().args) argv.push_back(const_cast<char*>(a));
  const ProgramOptions o = ParseProgramOptions(static_cast<int>(argv.size()), argv.data());
  EXPECT_EQ(o.console, GetParam().console);
  EXPECT_EQ(o.port, GetParam().port);
  EXPECT_EQ(!o.error.empty(), GetParam().error) << o.error;
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, CommandLine,
    ::testing::Values(OptionsCase{{}, false, "", false}, OptionsCase{{"\\P", "--console"}, true, "", false},
                      OptionsCase{{"--console", "--port", "com5"}, true, "com5", false},
                      OptionsCase{{"--console", "--port=/dev/ttyUSB0"}, true, "/dev/ttyUSB0", false},
                      OptionsCase{{"--console", "--port"}, true, "", true},
                      OptionsCase{{"--console", "--port", "COM0"}, true, "COM0", true},
                      OptionsCase{{"--console", "--port", "COM258"}, true, "COM258", true},
                      OptionsCase{{"--port", "COM1"}, false, "COM1", true},
                      OptionsCase{{"--frobnicate"}, false, "", true}));

TEST(ConsoleOutcome, TheLastTextThatNamesAnOutcomeWins) {
  EXPECT_EQ(OutcomeOf({"StatusBar1[1]: Search Device", "StatusBar1[1]: Device not Found"}), kExitNoDevice);
  EXPECT_EQ(OutcomeOf({"StatusBar1[1]: Resend 0", "StatusBar1[1]: Program OK"}), kExitSuccess);
  EXPECT_EQ(OutcomeOf({"StatusBar1[1]: Program OK", "StatusBar1[1]: Invalid Port Com"}), kExitPortUnusable);
  EXPECT_EQ(OutcomeOf({"Label2:  CHK Error !! "}), kExitTransferFailed);
  EXPECT_EQ(OutcomeOf({"Label2:  Error !! "}), kExitNoImage);
  EXPECT_EQ(OutcomeOf({"Label2: KTW_R0x - Preparation 4"}), kExitNoImage);
  EXPECT_EQ(OutcomeOf({}), kExitTransferFailed);
}

}  // namespace
}  // namespace kestovane
