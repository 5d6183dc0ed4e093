// A pseudo-terminal published as a COM port, with a peer thread on its far
// end that answers what the program writes as a test script says.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kestovane::testing {

// The folder the serial channel looks up COMn links in, private to this test
// process; also exported as KESTOVANE_PORT_DIR.
std::string PrivatePortDir();

class PtyPeer {
 public:
  // Called on the peer's thread for every byte the program writes.
  using Handler = std::function<void(uint8_t byte, PtyPeer& peer)>;

  // Publishes the line as COM<comNumber> and starts the peer.
  explicit PtyPeer(int comNumber, Handler handler = {});
  ~PtyPeer();
  PtyPeer(const PtyPeer&) = delete;
  PtyPeer& operator=(const PtyPeer&) = delete;

  // The port index the program selects for this line.
  int16_t PortIndex() const { return static_cast<int16_t>(comNumber_ - 1); }
  // Sends bytes to the program (any thread).
  void Send(const std::vector<uint8_t>& bytes);
  // Every byte the program has written so far.
  std::vector<uint8_t> Received() const;
  size_t ReceivedCount() const;
  // The count once it has reached at least `count`, or what came within the
  // time: the peer reads on its own thread, behind the program's writes.
  size_t AwaitReceived(size_t count, std::chrono::milliseconds limit = std::chrono::milliseconds(2000)) const;

 private:
  void Serve();

  int comNumber_;
  int master_ = -1;
  int slaveKeeper_ = -1;  // keeps the line up while the program has it closed
  int stopPipe_[2] = {-1, -1};
  std::string link_;
  Handler handler_;
  mutable std::mutex mutex_;
  mutable std::condition_variable arrived_;
  std::vector<uint8_t> received_;
  std::thread thread_;
};

}  // namespace kestovane::testing
