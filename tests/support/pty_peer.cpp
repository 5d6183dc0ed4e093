#include "support/pty_peer.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include "support/program.h"

namespace kestovane::testing {

std::string PrivatePortDir() {
  static const std::string dir = [] {
    const std::string d = PrivateRuntimeDir() + "/ports";
    std::filesystem::create_directories(d);
    setenv("KESTOVANE_PORT_DIR", d.c_str(), 1);
    return d;
  }();
  return dir;
}

PtyPeer::PtyPeer(int comNumber, Handler handler) : comNumber_(comNumber), handler_(std::move(handler)) {
  master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
  if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) throw std::runtime_error("no pty");
  const std::string slave = ptsname(master_);
  // Raw from the start: the line discipline must pass every byte unchanged.
  slaveKeeper_ = open(slave.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  termios t{};
  tcgetattr(slaveKeeper_, &t);
  cfmakeraw(&t);
  tcsetattr(slaveKeeper_, TCSANOW, &t);
  if (pipe2(stopPipe_, O_CLOEXEC) != 0) throw std::runtime_error("no pipe");

  link_ = PrivatePortDir() + "/COM" + std::to_string(comNumber);
  std::filesystem::remove(link_);
  std::filesystem::create_symlink(slave, link_);
  thread_ = std::thread([this] { Serve(); });
}

PtyPeer::~PtyPeer() {
  const char stop = 1;
  (void)!write(stopPipe_[1], &stop, 1);
  thread_.join();
  std::filesystem::remove(link_);
  close(stopPipe_[0]);
  close(stopPipe_[1]);
  close(slaveKeeper_);
  close(master_);
}

void PtyPeer::Send(const std::vector<uint8_t>& bytes) {
  // The master is non-blocking: a program that stopped reading must not
  // leave a sender stuck on a full line; what does not fit within a second
  // is dropped, as a real line would overrun.
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(master_, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    pollfd p{.fd = master_, .events = POLLOUT, .revents = 0};
    if (poll(&p, 1, 1000) <= 0) return;
  }
}

std::vector<uint8_t> PtyPeer::Received() const {
  std::lock_guard lock(mutex_);
  return received_;
}

size_t PtyPeer::ReceivedCount() const {
  std::lock_guard lock(mutex_);
  return received_.size();
}

size_t PtyPeer::AwaitReceived(size_t count, std::chrono::milliseconds limit) const {
  std::unique_lock lock(mutex_);
  arrived_.wait_for(lock, limit, [&] { return received_.size() >= count; });
  return received_.size();
}

void PtyPeer::Serve() {
  pollfd fds[2] = {{.fd = master_, .events = POLLIN, .revents = 0},
                   {.fd = stopPipe_[0], .events = POLLIN, .revents = 0}};
  uint8_t buffer[4096];
  for (;;) {
    if (poll(fds, 2, -1) < 0) continue;
    if (fds[1].revents) return;
    if (!(fds[0].revents & POLLIN)) continue;
    const ssize_t n = read(master_, buffer, sizeof buffer);
    if (n <= 0) continue;
    {
      std::lock_guard lock(mutex_);
      received_.insert(received_.end(), buffer, buffer + n);
    }
    arrived_.notify_all();
    if (handler_) {
      for (ssize_t i = 0; i < n; ++i) handler_(buffer[i], *this);
    }
  }
}

}  // namespace kestovane::testing
