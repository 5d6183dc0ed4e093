#include <gtest/gtest.h>

#include <stdexcept>

#include "sim/command_line.h"

namespace kestovane::sim {
namespace {

TEST(CommandLine, BuildsTwoDevicesWithFaultsAndTiming) {
  const auto line = ParseCommandLine({"--device", "252", "--version", "0x0A", "--protect", "0x1000:256",
                                      "--advance", "command4", "--next", "--device", "72", "--info-record", "off",
                                      "--handshake", "0xC5,0xC6", "--refuse", "3:2", "--silent", "5",
                                      "--late", "0:20", "--noise-after", "2:00ff", "--drop-after", "1000",
                                      "--answer-from", "4", "--pace", "--flash-write-ms", "2", "--key", "0x33",
                                      "--com", "257", "--quiet"});
  const SimConfig& c = line.config;
  ASSERT_EQ(c.personalities.size(), 2u);
  EXPECT_EQ(c.personalities[0].deviceCode, 252);
  EXPECT_EQ(c.personalities[0].version, 10);
  EXPECT_EQ(c.personalities[0].protectedStart, 0x1000);
  EXPECT_EQ(c.personalities[0].protectedCount, 256);
  EXPECT_EQ(c.personalities[0].advance, Advance::OnCommand4);
  EXPECT_EQ(c.personalities[1].deviceCode, 72);
  EXPECT_EQ(c.personalities[1].sendInfoRecord, false);
  EXPECT_EQ(c.handshakeBytes, (std::vector<std::uint8_t>{0xC5, 0xC6}));
  ASSERT_EQ(c.faults.size(), 4u);
  EXPECT_EQ(c.faults[0].kind, FaultKind::Refuse);
  EXPECT_EQ(c.faults[0].frame, 3u);
  EXPECT_EQ(c.faults[0].times, 2u);
  EXPECT_EQ(c.faults[2].delay, Micros(20000));
  EXPECT_EQ(c.faults[3].noise, (std::vector<std::uint8_t>{0x00, 0xFF}));
  EXPECT_EQ(c.dropAfterBytes, 1000u);
  EXPECT_EQ(c.answerFromHandshake, 4u);
  EXPECT_TRUE(c.paceLine);
  EXPECT_EQ(c.flashWriteTime, Micros(2000));
  EXPECT_EQ(c.keyConstant, 0x33);
  EXPECT_EQ(c.comNumber, 257);
  EXPECT_TRUE(line.quiet);
}

TEST(CommandLine, BadArgumentsNameTheOption) {
  struct Case {
    std::vector<std::string> args;
    const char* mentions;
  };
  const Case cases[] = {
      {.args = {"--device"}, .mentions = "--device needs a value"},
      {.args = {"--device", "256"}, .mentions = "above 255"},
      {.args = {"--device", "-1"}, .mentions = "not a number"},
      {.args = {"--version", "9x"}, .mentions = "not a number"},
      {.args = {"--com", "258"}, .mentions = "above 257"},
      {.args = {"--refuse", "3"}, .mentions = "A:B"},
      {.args = {"--noise-before", "1:abc"}, .mentions = "whole hex bytes"},
      {.args = {"--info", "1234567890123456789012345"}, .mentions = "24 characters"},
      {.args = {"--advance", "sometimes"}, .mentions = "--advance"},
      {.args = {"--access", "short"}, .mentions = "15 characters"},
      {.args = {"--frobnicate"}, .mentions = "unknown option"},
  };
  for (const auto& c : cases) {
    try {
      ParseCommandLine(c.args);
      ADD_FAILURE() << c.args[0] << " was accepted";
    } catch (const std::invalid_argument& e) {
      EXPECT_NE(std::string(e.what()).find(c.mentions), std::string::npos) << e.what();
    }
  }
}

TEST(CommandLine, HelpIsAskedFor) {
  EXPECT_TRUE(ParseCommandLine({"-h"}).help);
  EXPECT_NE(std::string(HelpText()).find("--drop-after"), std::string::npos);
}

}  // namespace
}  // namespace kestovane::sim
