#include "protocol/reply_parser.h"

#include <gtest/gtest.h>

#include <cstring>
#include <atomic>
#include <random>
#include <thread>
#include <string>
#include <vector>

#include "protocol_support.h"

namespace kestovane {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

constexpr const char* kDescription = "KESTOVANE BOARD REV C   ";  // 24 characters

// What a case expects of the identity after its bytes; a negative number or
// nullptr leaves that field unchecked.
struct Expected {
  int bootloaderVersion = 0, deviceCode = 0, printCode = 0, preparationCode = 0;
  int identitySeen = 0, ackReceived = 0, nakReceived = 0;
  int infoState = kInfoIdle, infoComplete = 0;
  const char* infoText = nullptr;
  int protectedStart = -1, protectedCount = -1;
};

struct ParserCase {
  const char* name;
  DeviceIdentity start;
  Bytes bytes;
  Expected expected;
};

std::ostream& operator<<(std::ostream& os, const ParserCase& c) { return os << c.name; }

const ParserCase kParserCases[] = {
    {.name = "full identity record",
     .start = {},
     .bytes = {'V', 0x0A, 0x42, 0x10, 0x03, 'K'},
     .expected = {.bootloaderVersion = 0x0A, .deviceCode = 0x42, .printCode = 0x10, .preparationCode = 0x03,
                  .identitySeen = 1, .ackReceived = 1}},
    {.name = "V then K commits version 1 and the pending rest",
     .start = {.pendingDeviceCode = 0x77, .pendingPrintCode = 0x66, .pendingPreparationCode = 0x55},
     .bytes = {'V', 'K'},
     .expected = {.bootloaderVersion = 1, .deviceCode = 0x77, .printCode = 0x66, .preparationCode = 0x55,
                  .identitySeen = 1, .ackReceived = 1}},
    {.name = "info record of a version 8..31 bootloader",
     .start = {.bootloaderVersion = 0x0A},
     .bytes = Bytes{'R', 0x1C, 0x00} + Text(kDescription) + Bytes{0x10, 0x00, 0x04, 0x00, 'K'},
     .expected = {.bootloaderVersion = 0x0A, .infoComplete = 1, .infoText = kDescription, .protectedStart = 16,
                  .protectedCount = 4}},
    {.name = "R of a version 5 bootloader is identity data",
     .start = {.bootloaderVersion = 0x05},
     .bytes = {'V', 'R', 0x42, 0x10, 0x03, 'K'},
     .expected = {.bootloaderVersion = 'R', .deviceCode = 0x42, .printCode = 0x10, .preparationCode = 0x03,
                  .identitySeen = 1, .ackReceived = 1}},
    {.name = "R of a version 32 bootloader is identity data",
     .start = {.bootloaderVersion = 32},
     .bytes = {'R', 'K'},
     .expected = {.deviceCode = 'R', .ackReceived = 1}},
    {.name = "empty info record needs its K",
     .start = {.bootloaderVersion = 8},
     .bytes = {'R', 0x00, 0x99, 'N', 'V', 'K'},
     .expected = {.bootloaderVersion = 8, .infoComplete = 1}},
    {.name = "codes inside an info record are data",
     .start = {.bootloaderVersion = 31},
     .bytes = {'R', 3, 0x00, 'K', 'N', 'V', 'K'},
     .expected = {.bootloaderVersion = 31, .infoComplete = 1, .infoText = "KNV"}},
    {.name = "info data past the known fields is dropped",
     .start = {.bootloaderVersion = 9},
     .bytes = Bytes{'R', 31, 0x00} + Text(kDescription) + Bytes{0x34, 0x12, 0x02, 0x01, 'K', 'N', 'V', 'K'},
     .expected = {.bootloaderVersion = 9, .infoComplete = 1, .infoText = kDescription, .protectedStart = 0x1234,
                  .protectedCount = 0x0102}},
    {.name = "lost closing K keeps the record open",
     .start = {.bootloaderVersion = 9},
     .bytes = {'R', 1, 0x00, 'A', 'N', 'V', 0x42},
     .expected = {.bootloaderVersion = 9, .infoState = kInfoData, .infoText = "A"}},
    {.name = "bare byte then K, no identity record open",
     .start = {.pendingPrintCode = 0x10, .pendingPreparationCode = 0x03, .identitySeen = 1},
     .bytes = {0x42, 'K'},
     .expected = {.deviceCode = 0x42, .printCode = 0x10, .preparationCode = 0x03, .ackReceived = 1}},
    {.name = "identity byte equal to N is taken as the code",
     .start = {},
     .bytes = {'V', 0x0A, 'N', 0x10, 0x03},
     .expected = {.identitySeen = 1, .nakReceived = 1}},
    {.name = "K and N together set both flags",
     .start = {},
     .bytes = {'K', 'N'},
     .expected = {.bootloaderVersion = 0, .ackReceived = 1, .nakReceived = 1}},
    {.name = "info record follows the identity that allows it",
     .start = {},
     .bytes = Bytes{'V', 0x0A, 0x42, 0x10, 0x03, 'K', 'R', 0x1C, 0x00} + Text(kDescription) +
              Bytes{0x00, 0x20, 0x80, 0x00, 'K'},
     .expected = {.bootloaderVersion = 0x0A, .deviceCode = 0x42, .printCode = 0x10, .preparationCode = 0x03,
                  .identitySeen = 1, .ackReceived = 1, .infoComplete = 1, .infoText = kDescription,
                  .protectedStart = 0x2000, .protectedCount = 0x80}},
};

void ExpectIdentity(const Expected& e) {
  EXPECT_EQ(Identity.bootloaderVersion, e.bootloaderVersion);
  EXPECT_EQ(Identity.deviceCode, e.deviceCode);
  EXPECT_EQ(Identity.printCode, e.printCode);
  EXPECT_EQ(Identity.preparationCode, e.preparationCode);
  EXPECT_EQ(Identity.identitySeen, e.identitySeen);
  EXPECT_EQ(Identity.ackReceived, e.ackReceived);
  EXPECT_EQ(Identity.nakReceived, e.nakReceived);
  EXPECT_EQ(Identity.infoState, e.infoState);
  EXPECT_EQ(Identity.infoComplete, e.infoComplete);
  if (e.infoText) { EXPECT_STREQ(Identity.infoText, e.infoText); }
  if (e.protectedStart >= 0) { EXPECT_EQ(RawLittleEndian(Identity.protectedStartRaw), e.protectedStart); }
  if (e.protectedCount >= 0) { EXPECT_EQ(RawLittleEndian(Identity.protectedCountRaw), e.protectedCount); }
}

class ReplyParser : public ::testing::TestWithParam<ParserCase> {};

TEST_P(ReplyParser, InOneRead) {
  Identity = GetParam().start;
  ParseReplyBytes(GetParam().bytes.data(), GetParam().bytes.size());
  ExpectIdentity(GetParam().expected);
}

TEST_P(ReplyParser, OneByteAtATime) {
  Identity = GetParam().start;
  for (uint8_t b : GetParam().bytes) ParseReplyBytes(&b, 1);
  ExpectIdentity(GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(EdgeCases, ReplyParser, ::testing::ValuesIn(kParserCases));

TEST(ResetIdentity, ClearsTheCommittedIdentityOnly) {
  Identity = DeviceIdentity{};
  const Bytes reply = {'V', 0x0A, 0x42, 0x10, 0x03, 'K'};
  ParseReplyBytes(reply.data(), reply.size());
  ResetIdentity();
  EXPECT_EQ(Identity.bootloaderVersion, 0);
  EXPECT_EQ(Identity.deviceCode, 0);
  EXPECT_EQ(Identity.printCode, 0);
  EXPECT_EQ(Identity.preparationCode, 0);
  EXPECT_EQ(Identity.identitySeen, 1);
  EXPECT_EQ(Identity.identityByteCount, kNoIdentityRecord);

  // A bare 'K' commits the old pending identity again.
  const uint8_t ack = 'K';
  ParseReplyBytes(&ack, 1);
  EXPECT_EQ(Identity.bootloaderVersion, 0x0A);
  EXPECT_EQ(Identity.deviceCode, 0x42);
  EXPECT_EQ(Identity.printCode, 0x10);
  EXPECT_EQ(Identity.preparationCode, 0x03);
}

// Whatever the line brings, the parser's state stays inside its ranges and
// its texts stay terminated.
void ExpectSaneState() {
  ASSERT_GE(Identity.infoState, kInfoIdle);
  ASSERT_LE(Identity.infoState, kInfoData);
  ASSERT_TRUE(Identity.identityByteCount <= 3 || Identity.identityByteCount == kNoIdentityRecord);
  ASSERT_GE(Identity.infoLength, 0);
  ASSERT_LE(Identity.infoLength, 255);
  ASSERT_GE(Identity.infoCount, 0);
  ASSERT_LE(Identity.infoCount, Identity.infoLength);
  ASSERT_NE(std::memchr(Identity.infoText, 0, sizeof Identity.infoText), nullptr);
  ASSERT_EQ(Identity.protectedStartRaw[2], 0);
  ASSERT_EQ(Identity.protectedCountRaw[2], 0);
}

TEST(ReplyParserNoise, RandomBytesKeepTheStateSane) {
  Identity = DeviceIdentity{};
  std::mt19937 random(20260527);
  // Codes are drawn often, and versions in the info record range, so that
  // every state and branch is visited, not only the identity collector.
  const uint8_t favoured[] = {'K', 'N', 'V', 'R', 8, 9, 31, 0, 0xFF};
  std::uniform_int_distribution<int> any(0, 255), pick(0, sizeof favoured - 1), chunk(1, 64), coin(0, 3);
  Bytes bytes(64);
  int infoRecords = 0;
  for (int round = 0; round < 20000; ++round) {
    const int n = chunk(random);
    for (int i = 0; i < n; ++i) bytes[i] = static_cast<uint8_t>(coin(random) == 0 ? favoured[pick(random)] : any(random));
    ParseReplyBytes(bytes.data(), static_cast<size_t>(n));
    ExpectSaneState();
    infoRecords += Identity.infoState != kInfoIdle;
  }
  EXPECT_GT(infoRecords, 0);
}

// The reads of the selected port.
class ReplyPort : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::FreshProtocol();
    peer_ = std::make_unique<testing::PtyPeer>(5);
    SelectedPortIndex = peer_->PortIndex();
    ReopenSelectedPort();
    ASSERT_EQ(CheckPort(SelectedPortIndex), 0);
  }
  // Sends the bytes and returns once the program's side can read them.
  void Arrive(const Bytes& bytes) {
    peer_->Send(bytes);
    pollfd p{.fd = PortDescriptor(SelectedPortIndex), .events = POLLIN, .revents = 0};
    ASSERT_EQ(poll(&p, 1, 2000), 1);
  }
  std::unique_ptr<testing::PtyPeer> peer_;
};

TEST_F(ReplyPort, PollParsesWhatHasArrived) {
  Arrive({'V', 0x0A, 0x42, 0x10, 0x03, 'K'});
  EXPECT_EQ(ParseReplies(), 6);
  EXPECT_EQ(Identity.deviceCode, 0x42);
  EXPECT_EQ(Identity.ackReceived, 1);
  EXPECT_EQ(ParseReplies(), 0);
}

TEST_F(ReplyPort, DrainAndDiscardDropBytesUnparsed) {
  Arrive({'K', 'N'});
  EXPECT_EQ(DrainPort(), 2);
  Arrive({'V', 1, 2, 3, 4, 'K'});
  DiscardInput();
  EXPECT_EQ(ParseReplies(), 0);
  EXPECT_EQ(Identity.ackReceived, 0);
  EXPECT_EQ(Identity.nakReceived, 0);
  EXPECT_EQ(Identity.identitySeen, 0);
}

TEST_F(ReplyPort, ClosedPortReadsNothing) {
  Arrive({'K'});
  ClosePort(SelectedPortIndex);
  EXPECT_EQ(ParseReplies(), 0);
  EXPECT_EQ(DrainPort(), 0);
  DiscardInput();
  EXPECT_EQ(Identity.ackReceived, 0);
}

TEST_F(ReplyPort, DiscardEndsOnALineThatNeverStopsSending) {
  std::atomic<bool> flooding = true;
  std::thread flood([&] {
    const Bytes noise(256, 0x55);
    while (flooding) peer_->Send(noise);
  });
  Arrive({});
  DiscardInput();  // returns: bounded by its read count, not by the line
  flooding = false;
  flood.join();
  DiscardInput();
  SUCCEED();
}

}  // namespace
}  // namespace kestovane
