#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "sim/intel_hex.h"
#include "sim_harness.h"

namespace kestovane::sim::simtest {
namespace {

// Test programs may run side by side: each keeps its files in a folder of its own.
std::string TempFolder() {
  const std::string dir = ::testing::TempDir() + "/kestovane_sim_" + std::to_string(::getpid());
  ::mkdir(dir.c_str(), 0755);
  return dir;
}

Bytes Block(std::uint32_t address) { return MemoryFrame(address, Bytes(64, 0), 4); }

TEST(Faults, RefuseFrameNKTimesThenAccept) {
  SimConfig config = ConfigFor(72);
  config.faults = {Fault::Refuse(2, 3)};
  SimPort port(config);
  EXPECT_EQ(port.Exchange(Block(0x00)), 'K');
  for (int i = 0; i < 3; ++i) EXPECT_EQ(port.Exchange(Block(0x40)), 'N') << i;
  EXPECT_EQ(port.Exchange(Block(0x40)), 'K');
  EXPECT_EQ(port.Exchange(Block(0x80)), 'K');
  const auto t = port.sim().Transcript();
  ASSERT_EQ(t.size(), 6u);
  EXPECT_EQ(t[4].frame, 2u) << "resends keep the frame number";
  EXPECT_EQ(t[5].frame, 3u);
  EXPECT_EQ(t[1].note, "fault: refused");
}

TEST(Faults, SilentFrameGetsNoAnswerAndIsNotWritten) {
  SimConfig config = ConfigFor(72);
  config.faults = {Fault::Silent(1)};
  SimPort port(config);
  EXPECT_EQ(port.Exchange(MemoryFrame(0x40, Bytes(64, 0x5A ^ 0x40 ^ 0x5A), 4), 300ms), std::nullopt);
  EXPECT_EQ(port.sim().FlashAt(0x40, 1), Bytes{0xFF});
  EXPECT_EQ(port.Exchange(Block(0x80)), 'K') << "the next frame is answered";
  EXPECT_EQ(port.sim().GetCounters().unanswered, 1u);
}

TEST(Faults, LateAnswerComesAfterTheDelay) {
  SimConfig config = ConfigFor(72);
  config.faults = {Fault::Late(1, Micros(150000))};
  SimPort port(config);
  EXPECT_EQ(port.Exchange(Block(0)), 'K');
  const auto t = port.sim().Transcript();
  ASSERT_EQ(t.size(), 1u);
  EXPECT_GE(t[0].replyTime - t[0].time, 0.150);
  EXPECT_EQ(t[0].note, "fault: late");
}

TEST(Faults, NoiseBeforeAndAfterTheAnswer) {
  SimConfig config = ConfigFor(72);
  config.faults = {Fault::NoiseBefore(1, {0x00, 0x55}), Fault::NoiseAfter(2, {0xAA})};
  SimPort port(config);
  port.Write(Block(0));
  EXPECT_EQ(port.Read(3), (Bytes{0x00, 0x55, 'K'}));
  EXPECT_TRUE(port.Quiet());
  port.Write(Block(0x40));
  EXPECT_EQ(port.Read(2), (Bytes{'K', 0xAA}));
  EXPECT_TRUE(port.Quiet());
  port.Write(Block(0x80));
  EXPECT_EQ(port.Read(1), (Bytes{'K'}));
  EXPECT_TRUE(port.Quiet());
}

TEST(Faults, FrameZeroMeansEveryFrame) {
  SimConfig config = ConfigFor(72);
  config.faults = {Fault::Refuse(0, 1)};
  SimPort port(config);
  for (std::uint32_t a : {0u, 0x40u, 0x40u, 0x80u}) EXPECT_EQ(port.Exchange(Block(a)), 'N');
  EXPECT_EQ(port.Exchange({0xCC}), 'K') << "the entry byte is no programming frame";
}

TEST(Faults, DropTheLineAfterNBytes) {
  SimConfig config = ConfigFor(72);
  config.dropAfterBytes = 70;  // one block frame (69 bytes) and one byte of the next
  SimPort port(config);
  EXPECT_EQ(port.Exchange(Block(0)), 'K');
  port.Write(Block(0x40));
  EXPECT_TRUE(port.sim().WaitUntil([](const Counters& c) { return c.lineDropped; }, Micros(2000000)));
  EXPECT_TRUE(port.Read(1, 500ms).empty());
  EXPECT_TRUE(port.LineGone());
  EXPECT_EQ(port.sim().GetCounters().bytesReceived, 70u);
}

TEST(Faults, AnswerOnlyFromTheMthHandshake) {
  SimConfig config = ConfigFor(72, 4);
  config.answerFromHandshake = 3;
  SimPort port(config);
  port.Write({0xC2});
  EXPECT_TRUE(port.Quiet());
  port.Write({0xC2});
  EXPECT_TRUE(port.Quiet());
  EXPECT_EQ(port.Handshake(), (Bytes{'V', 4, 72, 0x10, 0x03, 'K'}));
  EXPECT_EQ(port.sim().GetCounters().handshakesAnswered, 1u);
}

TEST(Timing, PacedLineTakesAtLeastTheLineTimeOfEveryByte) {
  SimConfig config = ConfigFor(72, 9);
  config.paceLine = true;
  config.flashWriteTime = Micros(2000);
  SimPort port(config);
  const auto start = std::chrono::steady_clock::now();
  port.Write(Block(0));  // 69 bytes in, one byte out
  EXPECT_EQ(port.Read(1), Bytes{'K'});
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_GE(elapsed, config.byteTime * 70 + config.flashWriteTime);
}

TEST(Outputs, HexFilesAndTranscriptAreWritten) {
  const std::string dir = TempFolder();
  SimConfig config = ConfigFor(72);
  config.flashHexPath = dir + "/sim_flash.hex";
  config.eepromHexPath = dir + "/sim_eeprom.hex";
  config.transcriptPath = dir + "/sim_transcript.jsonl";
  {
    SimPort port(config);
    port.Handshake(0xC2, 6 + 32);
    EXPECT_EQ(port.Exchange({0xCC}), 'K');
    EXPECT_EQ(port.Exchange(MemoryFrame(0x10000 - 0x1C0, Keyed(Bytes(64, 0x42), 0xFE40, 0x5A), 4)), 'K');
    EXPECT_EQ(port.Exchange(EepromFrame(3, 0x99)), 'K');
  }
  auto slurp = [](const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  };
  const auto flash = ParseIntelHex(slurp(config.flashHexPath));
  ASSERT_TRUE(flash);
  EXPECT_EQ(flash->size(), 64u);
  EXPECT_EQ(flash->at(0xFE40), 0x42);
  const auto eeprom = ParseIntelHex(slurp(config.eepromHexPath));
  ASSERT_TRUE(eeprom);
  EXPECT_EQ(eeprom->at(3), 0x99);

  std::istringstream lines(slurp(config.transcriptPath));
  std::vector<std::string> rows;
  for (std::string line; std::getline(lines, line);) rows.push_back(line);
  ASSERT_EQ(rows.size(), 6u);  // handshake, identity, info, entry, fix, eeprom
  EXPECT_NE(rows[0].find("\"dir\":\"rx\""), std::string::npos);
  EXPECT_NE(rows[0].find("\"kind\":\"handshake\""), std::string::npos);
  EXPECT_NE(rows[1].find("\"dir\":\"tx\",\"t\":"), std::string::npos);
  EXPECT_NE(rows[2].find("\"kind\":\"info\""), std::string::npos);
  EXPECT_NE(rows[4].find("\"kind\":\"fix\",\"frame\":1,\"addr\":65088,\"bytes\":\"00fe4040"), std::string::npos) << rows[4];
  EXPECT_NE(rows[4].find("\"reply\":\"K\""), std::string::npos);
  EXPECT_NE(rows[5].find("\"kind\":\"eeprom\",\"frame\":2,\"addr\":3"), std::string::npos) << rows[5];
}

TEST(Outputs, SecondPersonalityWritesIndexedFiles) {
  const std::string dir = TempFolder();
  SimConfig config = ConfigFor(72);
  config.personalities.push_back(config.personalities[0]);
  config.flashHexPath = dir + "/sim_two.hex";
  { SimPort port(config); }
  std::ifstream second(dir + "/sim_two.1.hex");
  EXPECT_TRUE(second.good());
}

TEST(PortMap, PublishesComLinkAndRemovesItAtStop) {
  const std::string dir = TempFolder() + "/ports";
  SimConfig config = ConfigFor(72);
  config.portDir = dir;
  config.comNumber = 7;
  const std::string link = dir + "/COM7";
  {
    SimPort port(config);
    ASSERT_EQ(port.sim().LinkPath(), link);
    char target[256] = {};
    ASSERT_GT(::readlink(link.c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(std::string(target), port.sim().DevicePath());
    // The updater opens the port by its name.
    const int fd = ::open(link.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    const std::uint8_t hs = 0xC2;
    ASSERT_EQ(::write(fd, &hs, 1), 1);
    ::close(fd);
    EXPECT_TRUE(port.sim().WaitUntil([](const Counters& c) { return c.handshakes == 1; }, Micros(2000000)));
  }
  struct stat st{};
  EXPECT_NE(::lstat(link.c_str(), &st), 0);
}

TEST(PortMap, RefusesBadComNumbersAndForeignFiles) {
  const std::string dir = TempFolder() + "/ports_bad";
  for (int com : {-1, 258}) {
    SimConfig config = ConfigFor(72);
    config.portDir = dir;
    config.comNumber = com;
    SimulatedBootloader sim(config);
    EXPECT_THROW(sim.Start(), std::runtime_error) << com;
  }
  ::mkdir(dir.c_str(), 0755);
  const std::string file = dir + "/COM9";
  std::ofstream(file) << "not a link";
  SimConfig config = ConfigFor(72);
  config.portDir = dir;
  config.comNumber = 9;
  SimulatedBootloader sim(config);
  EXPECT_THROW(sim.Start(), std::runtime_error);
  // A transcript that cannot be written stops the start and leaves no link.
  SimConfig unwritable = ConfigFor(72);
  unwritable.portDir = dir;
  unwritable.comNumber = 10;
  unwritable.transcriptPath = dir + "/no/such/folder/t.jsonl";
  SimulatedBootloader refused(unwritable);
  EXPECT_THROW(refused.Start(), std::runtime_error);
  struct stat st{};
  EXPECT_NE(::lstat((dir + "/COM10").c_str(), &st), 0);

  std::ifstream kept(file);
  std::string text;
  std::getline(kept, text);
  EXPECT_EQ(text, "not a link");
}

}  // namespace
}  // namespace kestovane::sim::simtest
