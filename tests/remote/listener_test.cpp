#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#include <vector>

#include "app/startup.h"
#include "remote/udp_listener.h"
#include "support/program.h"

namespace kestovane {
namespace {

struct ArgsCase {
  std::vector<const char*> args;  // after the program name
  bool listens;
};

class ListenerArgument : public ::testing::TestWithParam<ArgsCase> {};

TEST_P(ListenerArgument, OnlyAFirstArgumentBackslashPCounts) {
  std::vector<char*> argv{const_cast<char*>("kestovane")};
  for (const char* a : GetParam().args) argv.push_back(const_cast<char*>(a));
  EXPECT_EQ(CommandLineAsksForListener(static_cast<int>(argv.size()), argv.data()), GetParam().listens);
}

INSTANTIATE_TEST_SUITE_P(CommandLines, ListenerArgument,
                         ::testing::Values(ArgsCase{{}, false}, ArgsCase{{"\\P"}, true}, ArgsCase{{"\\p"}, true},
                                           ArgsCase{{"--console", "\\P"}, false}, ArgsCase{{"/P"}, false},
                                           ArgsCase{{"\\PX"}, false}));

// A free UDP port of this machine, so tests never meet the real listener.
uint16_t FreeUdpPort() {
  int s = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t n = sizeof a;
  getsockname(s, reinterpret_cast<sockaddr*>(&a), &n);
  close(s);
  return ntohs(a.sin_port);
}

void SendDatagrams(uint16_t port, int count) {
  int s = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(port);
  const char payload[512] = {'x'};
  for (int i = 0; i < count; ++i) sendto(s, payload, sizeof payload, 0, reinterpret_cast<sockaddr*>(&a), sizeof a);
  close(s);
}

class RemoteListening : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::ResetProgram();
    RemoteListenerPort = FreeUdpPort();
  }
  void Start(const char* label, const char* first) {
    argv_ = {const_cast<char*>("kestovane"), const_cast<char*>(first), nullptr};
    ProgramCommandLine = {2, argv_.data()};
    testing::StartProgram(label);
  }
  void TearDown() override {
    testing::ResetProgram();
    ProgramCommandLine = {};
  }
  std::vector<char*> argv_;
};

TEST_F(RemoteListening, TheUpgradeWindowStartsItAndDatagramsAreDroppedUnanswered) {
  Start("VEX 1C 01.05.00.02", "\\p");
  ASSERT_NE(RemoteListener, nullptr);
  SendDatagrams(RemoteListener->Port(), 5);
  for (int i = 0; i < 200 && RemoteListener->Received() < 5; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ(RemoteListener->Received(), 5u);
}

TEST_F(RemoteListening, TheLoaderNeverStartsIt) {
  Start("G. 1.0", "\\P");
  EXPECT_EQ(RemoteListener, nullptr);
}

TEST_F(RemoteListening, APortThatCannotBeBoundReachesTheErrorGuard) {
  // Somebody else holds the port.
  int holder = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_ANY);
  a.sin_port = htons(RemoteListenerPort);
  ASSERT_EQ(bind(holder, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);

  char name[] = "kestovane", flag[] = "\\P";
  char* argv[] = {name, flag, nullptr};
  EXPECT_EQ(RunProgram(2, argv, nullptr), 0);
  ASSERT_EQ(Application->ShownErrors().size(), 1u);
  EXPECT_NE(Application->ShownErrors()[0].find("Could not bind socket"), std::string::npos);
  EXPECT_EQ(RemoteListener, nullptr);
  close(holder);
}

}  // namespace
}  // namespace kestovane
