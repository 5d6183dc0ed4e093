#include "line.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace kestovane::sim {
namespace {

std::string Reason(const std::string& what) { return what + ": " + std::strerror(errno); }

// 115200 baud, 8 data bits, no parity, two stop bits, no flow control, raw.
bool SetLineMode(int fd) {
  termios tio{};
  if (tcgetattr(fd, &tio) != 0) return false;
  cfmakeraw(&tio);
  tio.c_cflag |= CSTOPB | CLOCAL | CREAD;
  tio.c_cflag &= ~(PARENB | CRTSCTS);
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  cfsetispeed(&tio, B115200);
  cfsetospeed(&tio, B115200);
  return tcsetattr(fd, TCSANOW, &tio) == 0;
}

class FdLine : public Line {
 public:
  FdLine(int fd, int keepOpenFd, std::string devicePath)
      : fd_(fd), keepOpenFd_(keepOpenFd), devicePath_(std::move(devicePath)) {}
  ~FdLine() override { Close(); }

  int Fd() const override { return fd_; }
  std::string DevicePath() const override { return devicePath_; }

  long Read(std::uint8_t* buffer, std::size_t size) override {
    if (fd_ < 0) return -1;
    const ssize_t n = ::read(fd_, buffer, size);
    if (n > 0) return n;
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return 0;
    // A pty master reads EIO while no one holds the device side; we hold it,
    // so EIO or end of file here means the line is really gone.
    return -1;
  }

  bool Write(const std::uint8_t* bytes, std::size_t size) override {
    while (size > 0) {
      if (fd_ < 0) return false;
      const ssize_t n = ::write(fd_, bytes, size);
      if (n > 0) {
        bytes += n;
        size -= static_cast<std::size_t>(n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno == EAGAIN) {
        // The updater is not reading: wait a little for room, as a UART would stall.
        pollfd p{fd_, POLLOUT, 0};
        if (::poll(&p, 1, 1000) <= 0) return false;
        continue;
      }
      return false;
    }
    return true;
  }

  void Close() override {
    if (fd_ >= 0) ::close(fd_);
    if (keepOpenFd_ >= 0) ::close(keepOpenFd_);
    fd_ = keepOpenFd_ = -1;
  }

 private:
  int fd_;
  int keepOpenFd_;
  std::string devicePath_;
};

}  // namespace

std::unique_ptr<Line> OpenPseudoTerminal() {
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (master < 0) throw std::runtime_error(Reason("posix_openpt"));
  char name[128];
  if (::grantpt(master) != 0 || ::unlockpt(master) != 0 || ::ptsname_r(master, name, sizeof name) != 0) {
    const std::string why = Reason("pseudo-terminal set-up");
    ::close(master);
    throw std::runtime_error(why);
  }
  // Holding the device side open ourselves keeps the master readable while the
  // updater closes and reopens the port between runs (no hang-up storm).
  const int holder = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (holder < 0 || !SetLineMode(holder)) {
    const std::string why = Reason(std::string("opening ") + name);
    if (holder >= 0) ::close(holder);
    ::close(master);
    throw std::runtime_error(why);
  }
  return std::make_unique<FdLine>(master, holder, name);
}

std::unique_ptr<Line> OpenTty(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) throw std::runtime_error(Reason("opening " + path));
  if (!SetLineMode(fd)) {
    const std::string why = Reason("setting the line mode of " + path);
    ::close(fd);
    throw std::runtime_error(why);
  }
  return std::make_unique<FdLine>(fd, -1, path);
}

}  // namespace kestovane::sim
