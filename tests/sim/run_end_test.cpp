#include <gtest/gtest.h>

#include <stdexcept>

#include "sim/command_line.h"
#include "sim/exit_rule.h"
#include "sim/image_check.h"
#include "sim_harness.h"

namespace kestovane::sim {
namespace {

using simtest::Bytes;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// ---- when the simulator stops by itself ----

TEST(WhyStop, WaitsForTheFixFrameAndEveryEepromFrameOfEachDevice) {
  const Clock::time_point now{std::chrono::seconds(100)};
  const ExitRule rule{.afterProgramming = true, .idle = milliseconds(3000)};
  struct Case {
    const char* what;
    std::vector<DeviceRun> devices;
    StopReason expected;
  };
  const RunProgress fixOnly{.fixAcknowledged = true, .eepromAcknowledged = 0};
  const RunProgress withEeprom{.fixAcknowledged = true, .eepromAcknowledged = 1024};
  const Case cases[] = {
      {.what = "nothing written yet", .devices = {{.progress = {}, .eepromFrames = 0}}, .expected = StopReason::None},
      {.what = "Fix frame, no EEPROM", .devices = {{.progress = fixOnly, .eepromFrames = 0}},
       .expected = StopReason::Programmed},
      {.what = "Fix frame, EEPROM still to come", .devices = {{.progress = fixOnly, .eepromFrames = 1024}},
       .expected = StopReason::None},
      {.what = "Fix frame and all EEPROM frames", .devices = {{.progress = withEeprom, .eepromFrames = 1024}},
       .expected = StopReason::Programmed},
      {.what = "second device not yet programmed",
       .devices = {{.progress = fixOnly, .eepromFrames = 0}, {.progress = {}, .eepromFrames = 0}},
       .expected = StopReason::None},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(WhyStop(rule, c.devices, now - milliseconds(10), now), c.expected) << c.what;
  }
}

TEST(WhyStop, AQuietLineEndsARunThatNeverCompletes) {
  const Clock::time_point now{std::chrono::seconds(100)};
  const std::vector<DeviceRun> unfinished{{.progress = {}, .eepromFrames = 0}};
  const ExitRule idleOnly{.afterProgramming = false, .idle = milliseconds(3000)};
  EXPECT_EQ(WhyStop(idleOnly, unfinished, now - milliseconds(2999), now), StopReason::None);
  EXPECT_EQ(WhyStop(idleOnly, unfinished, now - milliseconds(3000), now), StopReason::Idle);
  // Before the first frame the updater may still be searching: no idle stop.
  EXPECT_EQ(WhyStop(idleOnly, unfinished, std::nullopt, now), StopReason::None);
  // Without a rule the simulator runs until it is stopped.
  const std::vector<DeviceRun> done{{.progress = {.fixAcknowledged = true, .eepromAcknowledged = 0}, .eepromFrames = 0}};
  EXPECT_EQ(WhyStop(ExitRule{}, done, now - std::chrono::hours(1), now), StopReason::None);
}

// ---- the options ----

TEST(CommandLine, ExpectedImagesBelongToTheirDevice) {
  const auto line = ParseCommandLine({"--expect-hex", "a.hex", "--expect-hex", "a_eeprom.hex", "--next", "--next",
                                      "--expect-hex", "c.hex", "--exit-after-programming"});
  ASSERT_EQ(line.expectHex.size(), 3u);
  EXPECT_EQ(line.expectHex[0], (std::vector<std::string>{"a.hex", "a_eeprom.hex"}));
  EXPECT_TRUE(line.expectHex[1].empty());
  EXPECT_EQ(line.expectHex[2], (std::vector<std::string>{"c.hex"}));
  EXPECT_TRUE(line.exitRule.afterProgramming);
  EXPECT_EQ(line.exitRule.idle, kDefaultExitIdle);
}

TEST(CommandLine, IdleTimeIsOwnRuleOrOverridesTheDefault) {
  EXPECT_EQ(ParseCommandLine({}).exitRule.idle, milliseconds(0));
  EXPECT_EQ(ParseCommandLine({"--exit-idle-ms", "500"}).exitRule.idle, milliseconds(500));
  const auto off = ParseCommandLine({"--exit-idle-ms", "0", "--exit-after-programming"});
  EXPECT_EQ(off.exitRule.idle, milliseconds(0));
  for (const auto& args : {std::vector<std::string>{"--expect-hex"}, {"--expect-hex", ""}, {"--exit-idle-ms", "x"}}) {
    EXPECT_THROW(ParseCommandLine(args), std::invalid_argument) << args[0];
  }
}

// ---- a run over the line, checked as a script would ----

class ProgrammedRun : public testing::Test {
 protected:
  static constexpr std::uint8_t kKey = 0x5A;

  // Sends what a correct updater run sends: patched image blocks, the Fix
  // frame with the start vector at its end, then the EEPROM bytes.
  static void Program(simtest::SimPort& port, const FamilyLayout& layout, const ExpectedImage& image,
                      const Bytes& patch, std::size_t fixTailKept) {
    const std::size_t unit = layout.family->addressUnit, block = layout.family->blockSize;
    ASSERT_EQ(port.Exchange({0xCC}), 'K');
    Bytes sent = image.program;
    std::copy(patch.begin(), patch.end(), sent.begin());
    for (std::size_t at = 0; at < sent.size(); at += block) {
      const std::uint32_t address = static_cast<std::uint32_t>(at / unit);
      const Bytes clear(sent.begin() + static_cast<long>(at),
                        sent.begin() + static_cast<long>(std::min(sent.size(), at + block)));
      ASSERT_EQ(port.Exchange(simtest::MemoryFrame(address, simtest::Keyed(clear, address, kKey), layout.headerLength)),
                'K');
    }
    Bytes fix(block, 0xFF);
    for (std::size_t i = 0; i < kDefaultFixTailSize; ++i)
      fix[block - kDefaultFixTailSize + i] = i < fixTailKept ? image.program[i] : 0;
    ASSERT_EQ(port.Exchange(simtest::MemoryFrame(layout.codeLimit, simtest::Keyed(fix, layout.codeLimit, kKey),
                                                 layout.headerLength)),
              'K');
    for (std::size_t j = 0; j < image.eeprom.size(); ++j)
      ASSERT_EQ(port.Exchange(simtest::EepromFrame(static_cast<std::uint32_t>(j), image.eeprom[j])), 'K');
  }

  static ExpectedImage Image(std::size_t size, std::size_t eeprom) {
    ExpectedImage image;
    for (std::size_t i = 0; i < size; ++i) image.program.push_back(static_cast<std::uint8_t>(i * 13 + 5));
    for (std::size_t i = 0; i < eeprom; ++i) image.eeprom.push_back(static_cast<std::uint8_t>(i + 1));
    return image;
  }
};

TEST_F(ProgrammedRun, Pic24DeviceHoldsTheImageOnceTheFixFrameIsAnswered) {
  simtest::SimPort port(simtest::ConfigFor(254));
  const FamilyLayout layout = port.sim().Layout();
  const ExpectedImage image = Image(300, 0);
  Program(port, layout, image, {0x00, 0xA8, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00}, 8);

  const RunProgress progress = port.sim().Progress();
  EXPECT_TRUE(progress.fixAcknowledged);
  const DeviceRun run{.progress = progress, .eepromFrames = 0};
  EXPECT_EQ(WhyStop(ExitRule{.afterProgramming = true, .idle = {}}, {&run, 1}, std::nullopt, Clock::now()),
            StopReason::Programmed);
  const ImageCheck check = CheckDeviceHoldsImage(port.sim().Flash(), port.sim().Eeprom(), layout, image);
  EXPECT_TRUE(check.holds) << check.reason;
}

TEST_F(ProgrammedRun, K80DeviceCountsItsEepromFramesAfterTheFixFrame) {
  simtest::SimPort port(simtest::ConfigFor(72));
  const FamilyLayout layout = port.sim().Layout();
  const ExpectedImage image = Image(150, 3);
  Program(port, layout, image, {0x40, 0xEF, 0x7F, 0xF0}, 4);

  EXPECT_EQ(port.sim().Progress().eepromAcknowledged, 3u);
  const ImageCheck check = CheckDeviceHoldsImage(port.sim().Flash(), port.sim().Eeprom(), layout, image);
  EXPECT_TRUE(check.holds) << check.reason;
  // A new handshake begins a new run.
  port.Handshake(0xC2, 6 + 32);  // identity and info record
  EXPECT_FALSE(port.sim().Progress().fixAcknowledged);
}

}  // namespace
}  // namespace kestovane::sim
