#include <gtest/gtest.h>

#include "sim_harness.h"

namespace kestovane::sim::simtest {
namespace {

Bytes InfoRecordOf(const std::string& text, std::uint16_t start, std::uint16_t count) {
  Bytes r{'R', 28, 0x00};
  for (std::size_t i = 0; i < 24; ++i) r.push_back(i < text.size() ? static_cast<std::uint8_t>(text[i]) : ' ');
  r.insert(r.end(), {static_cast<std::uint8_t>(start), static_cast<std::uint8_t>(start >> 8),
                     static_cast<std::uint8_t>(count), static_cast<std::uint8_t>(count >> 8), 'K'});
  return r;
}

TEST(Handshake, AnswersIdentityAndTheInfoRecordOnlyForVersionsEightToThirtyOne) {
  struct Case {
    std::uint8_t version;
    bool info;
  };
  for (const Case c : {Case{7, false}, Case{8, true}, Case{31, true}, Case{32, false}}) {
    SCOPED_TRACE(int(c.version));
    SimConfig config = ConfigFor(252, c.version);
    auto& p = config.personalities[0];
    p.printCode = 0x21;
    p.preparationCode = 0x84;
    p.infoText = "BENCH UNIT";
    p.protectedStart = 0x1234;
    p.protectedCount = 0x0100;
    SimPort port(config);
    Bytes expected{'V', c.version, 252, 0x21, 0x84, 'K'};
    if (c.info) {
      const Bytes info = InfoRecordOf("BENCH UNIT", 0x1234, 0x0100);
      expected.insert(expected.end(), info.begin(), info.end());
    }
    EXPECT_EQ(port.Handshake(0xC2, expected.size()), expected);
    EXPECT_TRUE(port.Quiet());
    EXPECT_EQ(port.sim().GetCounters().infoRecords, c.info ? 1u : 0u);
  }
}

TEST(Handshake, AnswersOnlyTheBytesItIsSetUpFor) {
  SimConfig config = ConfigFor(72, 4);
  config.handshakeBytes = {0xC6};
  SimPort port(config);
  port.Write({0xC2, 0xC5});
  EXPECT_TRUE(port.Quiet());
  EXPECT_EQ(port.Handshake(0xC6), (Bytes{'V', 4, 72, 0x10, 0x03, 'K'}));
  const Counters c = port.sim().GetCounters();
  EXPECT_EQ(c.handshakes, 1u);
  EXPECT_EQ(c.handshakesAnswered, 1u);
}

TEST(Handshake, OldBootloaderWithoutIdentityRecordSendsCodeAndK) {
  SimConfig config = ConfigFor(68, 3);
  config.personalities[0].identityRecord = false;
  SimPort port(config);
  EXPECT_EQ(port.Handshake(0xC2, 2), (Bytes{68, 'K'}));
  EXPECT_TRUE(port.Quiet());
}

TEST(Frames, EntryByteIsAcknowledged) {
  SimPort port(ConfigFor(72));
  EXPECT_EQ(port.Exchange({0xCC}), 'K');
  EXPECT_EQ(port.sim().GetCounters().entries, 1u);
}

TEST(Frames, ChecksumDecidesBetweenKAndN) {
  SimPort port(ConfigFor(72));
  const Bytes clear(64, 0x3C);
  Bytes frame = MemoryFrame(0x0100, Keyed(clear, 0x0100, 0x5A), 4);
  Bytes broken = frame;
  broken.back() ^= 0x01;
  EXPECT_EQ(port.Exchange(broken), 'N');
  EXPECT_EQ(port.sim().FlashAt(0x0100, 64), Bytes(64, 0xFF)) << "a refused frame writes nothing";
  EXPECT_EQ(port.Exchange(frame), 'K');
  EXPECT_EQ(port.sim().FlashAt(0x0100, 64), clear);
  const Counters c = port.sim().GetCounters();
  EXPECT_EQ(c.checksumErrors, 1u);
  EXPECT_EQ(c.accepted, 1u);
  EXPECT_EQ(c.refused, 1u);
}

TEST(Frames, BlockDataIsWrittenWithTheFrameKeyUndone) {
  struct Case {
    std::uint8_t code;
    std::uint32_t address;
    std::size_t size;
    std::uint32_t header;
  };
  for (const Case c : {Case{72, 0x0040, 64, 4}, Case{72, 0x2880, 33, 4}, Case{252, 0x0080, 256, 5},
                       Case{253, 0x15300, 100, 5}}) {
    SCOPED_TRACE(testing::Message() << int(c.code) << " @" << std::hex << c.address);
    SimPort port(ConfigFor(c.code));
    Bytes clear(c.size);
    for (std::size_t i = 0; i < c.size; ++i) clear[i] = static_cast<std::uint8_t>(i * 7 + 1);
    EXPECT_EQ(port.Exchange(MemoryFrame(c.address, Keyed(clear, c.address, 0x5A), c.header)), 'K');
    EXPECT_EQ(port.sim().FlashAt(c.address, c.size), clear);
    // Image byte order: device address a begins at byte a * addressUnit.
    const auto flash = port.sim().Flash();
    const std::size_t unit = c.header == 5 ? 2 : 1;
    EXPECT_EQ(flash[c.address * unit], clear[0]);
  }
}

TEST(Frames, ClearFramesWhenScramblingIsOff) {
  SimConfig config = ConfigFor(72);
  config.scramble = false;
  SimPort port(config);
  const Bytes clear(64, 0x11);
  EXPECT_EQ(port.Exchange(MemoryFrame(0x40, clear, 4)), 'K');
  EXPECT_EQ(port.sim().FlashAt(0x40, 64), clear);
}

TEST(Frames, TranscriptNamesBlockLastAndFixFrames) {
  SimPort port(ConfigFor(72));
  EXPECT_EQ(port.Exchange(MemoryFrame(0x0000, Bytes(64, 1), 4)), 'K');
  EXPECT_EQ(port.Exchange(MemoryFrame(0x0040, Bytes(10, 2), 4)), 'K');
  EXPECT_EQ(port.Exchange(MemoryFrame(0xFE40, Bytes(64, 3), 4)), 'K');
  const auto t = port.sim().Transcript();
  ASSERT_EQ(t.size(), 3u);
  EXPECT_EQ(t[0].kind, "block");
  EXPECT_EQ(t[1].kind, "last");
  EXPECT_EQ(t[2].kind, "fix");
  EXPECT_EQ(t[2].address, 0xFE40);
  EXPECT_EQ(t[2].frame, 3u);
  EXPECT_EQ(port.sim().GetCounters().fixFrames, 1u);
}

TEST(Guards, RefusesWritesIntoItsOwnRegionAndTheProtectedRange) {
  struct Case {
    std::uint8_t code;
    std::uint32_t address;
    std::size_t size;
    bool accepted;
    const char* note;
  };
  const Case cases[] = {
      {.code = 72, .address = 0xFE40, .size = 64, .accepted = true, .note = ""},            // the Fix block
      {.code = 72, .address = 0xFE80, .size = 64, .accepted = false, .note = "bootloader region"},
      {.code = 72, .address = 0xFE60, .size = 64, .accepted = false, .note = "bootloader region"},  // straddles
      {.code = 72, .address = 0xFFC0, .size = 64, .accepted = false, .note = "bootloader region"},
      {.code = 252, .address = 0xA780, .size = 256, .accepted = true, .note = ""},
      {.code = 252, .address = 0xA800, .size = 256, .accepted = false, .note = "bootloader region"},
      {.code = 252, .address = 0xAC00, .size = 256, .accepted = false, .note = "past the end"},
      {.code = 252, .address = 0x1000, .size = 256, .accepted = false, .note = "protected range"},
      {.code = 252, .address = 0x0F80, .size = 256, .accepted = true, .note = ""},  // ends where the range starts
      {.code = 252, .address = 0x1100, .size = 256, .accepted = true, .note = ""},  // starts where it ends
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << int(c.code) << " @" << std::hex << c.address);
    SimConfig config = ConfigFor(c.code);
    config.personalities[0].protectedStart = 0x1000;
    config.personalities[0].protectedCount = 0x100;
    SimPort port(config);
    const std::uint32_t header = c.code >= 252 ? 5 : 4;
    EXPECT_EQ(port.Exchange(MemoryFrame(c.address, Bytes(c.size, 0), header)), c.accepted ? 'K' : 'N');
    const auto t = port.sim().Transcript();
    ASSERT_EQ(t.size(), 1u);
    EXPECT_NE(t[0].note.find(c.note), std::string::npos) << t[0].note;
    EXPECT_EQ(port.sim().GetCounters().guardRefusals, c.accepted ? 0u : 1u);
  }
}

TEST(Guards, ProtectedRangeGuardCanBeTurnedOff) {
  SimConfig config = ConfigFor(252);
  config.personalities[0].protectedStart = 0x1000;
  config.personalities[0].protectedCount = 0x100;
  config.guardProtectedRange = false;
  SimPort port(config);
  EXPECT_EQ(port.Exchange(MemoryFrame(0x1000, Bytes(256, 0), 5)), 'K');
}

TEST(Guards, UnknownDeviceAnswersButRefusesWrites) {
  SimPort port(ConfigFor(251, 4));
  EXPECT_EQ(port.Handshake(), (Bytes{'V', 4, 251, 0x10, 0x03, 'K'}));
  EXPECT_EQ(port.Exchange(MemoryFrame(0, Bytes(64, 0), 4)), 'N');
}

TEST(Eeprom, IndexWrapsIntoTheNextPageAndBytesTravelClear) {
  SimPort port(ConfigFor(72));
  for (std::uint32_t j = 0; j < 300; ++j) {
    ASSERT_EQ(port.Exchange(EepromFrame(j, static_cast<std::uint8_t>(j * 3))), 'K') << j;
  }
  const auto eeprom = port.sim().Eeprom();
  ASSERT_EQ(eeprom.size(), 1024u);
  for (std::uint32_t j = 0; j < 300; ++j) EXPECT_EQ(eeprom[j], static_cast<std::uint8_t>(j * 3)) << j;
  EXPECT_EQ(eeprom[300], 0xFF);
  // A new session (handshake) starts again at page 0.
  port.Handshake(0xC2, 6 + 32);
  EXPECT_EQ(port.Exchange(EepromFrame(5, 0xAB)), 'K');
  EXPECT_EQ(port.sim().Eeprom()[5], 0xAB);
}

TEST(Eeprom, ResentFrameDoesNotAdvanceThePage) {
  SimConfig config = ConfigFor(72);
  config.faults = {Fault::Refuse(2, 1)};
  SimPort port(config);
  EXPECT_EQ(port.Exchange(EepromFrame(0, 1)), 'K');
  EXPECT_EQ(port.Exchange(EepromFrame(1, 2)), 'N');
  EXPECT_EQ(port.Exchange(EepromFrame(1, 2)), 'K');
  EXPECT_EQ(port.sim().Eeprom()[1], 2);
  EXPECT_EQ(port.sim().Eeprom()[257], 0xFF);
}

TEST(Eeprom, DeviceWithoutEepromRefuses) {
  SimPort port(ConfigFor(252));
  EXPECT_EQ(port.Exchange(EepromFrame(0, 1)), 'N');
}

TEST(Frames, MalformedLengthIsRefusedAndItsTailIgnored) {
  SimPort port(ConfigFor(72));
  Bytes bad{0x00, 0x01, 0x00, 0x00, 0xC2, 0xC2, 0xC2};  // length 0, then bytes that look like handshakes
  EXPECT_EQ(port.Exchange(bad), 'N');
  EXPECT_TRUE(port.Quiet()) << "the tail must not be answered";
  EXPECT_EQ(port.sim().GetCounters().handshakes, 0u);
}

TEST(Frames, StrayBytesAreCountedAndSkipped) {
  SimPort port(ConfigFor(72));
  port.Write({0x55, 0xAA, 0x99});
  EXPECT_EQ(port.Exchange({0xCC}), 'K');
  EXPECT_EQ(port.sim().GetCounters().noiseBytes, 3u);
  const auto t = port.sim().Transcript();
  ASSERT_GE(t.size(), 2u);
  EXPECT_EQ(t[0].kind, "noise");
  EXPECT_EQ(t[0].bytes, (Bytes{0x55, 0xAA, 0x99}));
}

TEST(Frames, IncompleteFrameIsDroppedAfterAQuietLine) {
  SimPort port(ConfigFor(72));
  port.Write({0x00, 0x01, 0x00, 0x40, 0x01, 0x02});
  EXPECT_TRUE(port.sim().WaitUntil([](const Counters& c) { return c.partialFrames == 1; }, Micros(2000000)));
  EXPECT_EQ(port.Exchange({0xCC}), 'K');
}

TEST(Personalities, CommandFourHandsTheLineToTheNextDevice) {
  SimConfig config = ConfigFor(252);
  config.personalities[0].advance = Advance::OnCommand4;
  Personality second;
  second.deviceCode = 72;
  second.version = 9;
  config.personalities.push_back(second);
  SimPort port(config);
  const std::size_t answer = 6 + 32;
  EXPECT_EQ(port.Handshake(0xC5, answer)[2], 252);
  EXPECT_EQ(port.Exchange(MemoryFrame(0, Bytes(256, 0), 5)), 'K');
  EXPECT_EQ(port.Handshake(0xC5, answer)[2], 252);
  EXPECT_EQ(port.Exchange(SpecialFrame(0x04, "")), 'N') << "command 4 needs the access frame first";
  EXPECT_EQ(port.Exchange(SpecialFrame(0x00, "T7r2Qm9Kx4Vb8Ne")), 'K');
  EXPECT_EQ(port.Exchange(SpecialFrame(0x04, "")), 'K');
  EXPECT_EQ(port.sim().GetCounters().personality, 1u);
  EXPECT_EQ(port.Handshake(0xC5, answer)[2], 72);
  EXPECT_EQ(port.Exchange(MemoryFrame(0x40, Bytes(64, 0x77), 4)), 'K');
  EXPECT_EQ(port.sim().FlashAt(0x40, 1, 1)[0], 0x77 ^ FrameKey(0x40, true, 0x5A));
  EXPECT_EQ(port.sim().FlashAt(0, 1, 0)[0], FrameKey(0, true, 0x5A)) << "the first device keeps its memory";
}

TEST(Personalities, AccessFrameWithWrongTextOrSumIsRefused) {
  SimPort port(ConfigFor(252));
  EXPECT_EQ(port.Exchange(SpecialFrame(0x00, "T7r2Qm9Kx4Vb8Nx")), 'N');
  Bytes badSum = SpecialFrame(0x00, "T7r2Qm9Kx4Vb8Ne");
  badSum.back() ^= 1;
  EXPECT_EQ(port.Exchange(badSum), 'N');
  EXPECT_EQ(port.sim().GetCounters().accessFrames, 2u);
}

TEST(Personalities, AfterProgrammingTheNextHandshakeMeetsTheNextDevice) {
  SimConfig config = ConfigFor(72, 4);
  config.personalities[0].advance = Advance::AfterProgramming;
  Personality second;
  second.deviceCode = 66;
  second.version = 4;
  config.personalities.push_back(second);
  SimPort port(config);
  EXPECT_EQ(port.Handshake()[2], 72);
  EXPECT_EQ(port.Handshake()[2], 72) << "not programmed yet";
  EXPECT_EQ(port.Exchange(MemoryFrame(0xFEC0, Bytes(64, 0), 4)), 'K');  // Fix frame, version below 5
  EXPECT_EQ(port.Handshake()[2], 66);
}

TEST(Personalities, SwitchPersonalityByHand) {
  SimConfig config = ConfigFor(72, 4);
  config.personalities.push_back(config.personalities[0]);
  config.personalities[1].deviceCode = 69;
  SimPort port(config);
  port.sim().SwitchPersonality(1);
  EXPECT_EQ(port.Handshake()[2], 69);
  EXPECT_THROW(port.sim().SwitchPersonality(2), std::out_of_range);
}

}  // namespace
}  // namespace kestovane::sim::simtest
