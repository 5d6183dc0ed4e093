// Started with "\P" as the first argument, the program also occupies UDP
// port 3004: datagrams are received on a thread of their own and dropped,
// unanswered. Nothing of the program's data is touched from that thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>

namespace kestovane {

inline constexpr uint16_t kRemoteListenerPort = 3004;
// The port StartRemoteListenerIfAsked binds; tests move it off the real one.
extern uint16_t RemoteListenerPort;
inline constexpr int kRemoteListenerBufferSize = 65536;

class UdpDataHandler {
 public:
  // Binds the port and starts receiving; throws Exception when the port
  // cannot be had.
  explicit UdpDataHandler(uint16_t port = kRemoteListenerPort);
  ~UdpDataHandler();
  UdpDataHandler(const UdpDataHandler&) = delete;
  UdpDataHandler& operator=(const UdpDataHandler&) = delete;

  uint16_t Port() const { return port_; }
  uint64_t Received() const { return received_.load(); }

 private:
  void Receive();

  int socket_ = -1;
  int wake_[2] = {-1, -1};
  uint16_t port_;
  std::atomic<uint64_t> received_{0};
  std::thread thread_;
};

// The one listener of the process, absent until asked for.
extern std::unique_ptr<UdpDataHandler> RemoteListener;

// Whether a command line asks for the listener: "\P" as its first argument,
// in either letter case.
bool CommandLineAsksForListener(int argc, char** argv);

// Called first by the Updater and Upgrade windows' creation.
void StartRemoteListenerIfAsked();

}  // namespace kestovane
