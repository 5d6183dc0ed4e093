#include "serial/port_channel.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>

#include "app/feedback.h"
#include "platform/forms.h"

namespace kestovane {

int16_t SelectedPortIndex = 0;
int16_t OpenedPortIndex = -1;

namespace {

std::array<PortChannel, MaxPortIndex + 1> portTable{};

// Driver queue sizes have no counterpart on a Linux tty (its buffers are the
// kernel's); the values are kept so the figures of the line stay in one place.
[[maybe_unused]] constexpr size_t kInputQueueBytes = 32768;
[[maybe_unused]] constexpr size_t kOutputQueueBytes = 9216;
// A write may take this long per byte plus the constant before it counts as
// failed, as a line at 115200 baud has plenty of margin within it.
constexpr int kWriteMsPerByte = 10;
constexpr int kWriteConstantMs = 1000;

struct DefaultRange {
  int firstPort;      // port number (index + 1)
  int count;
  const char* device; // device prefix, numbered from 0
};
// Fixed so that a device keeps its port number from one run to the next.
constexpr std::array<DefaultRange, 3> kDefaultMapping = {{
    {.firstPort = 1, .count = 32, .device = "/dev/ttyS"},
    {.firstPort = 33, .count = 32, .device = "/dev/ttyUSB"},
    {.firstPort = 65, .count = 32, .device = "/dev/ttyACM"},
}};

struct BaudCode {
  uint32_t rate;
  speed_t code;
};
constexpr std::array<BaudCode, 12> kBaudCodes = {{
    {.rate = 1200, .code = B1200},     {.rate = 2400, .code = B2400},     {.rate = 4800, .code = B4800},
    {.rate = 9600, .code = B9600},     {.rate = 19200, .code = B19200},   {.rate = 38400, .code = B38400},
    {.rate = 57600, .code = B57600},   {.rate = 115200, .code = B115200}, {.rate = 230400, .code = B230400},
    {.rate = 460800, .code = B460800}, {.rate = 500000, .code = B500000}, {.rate = 921600, .code = B921600},
}};

const PortLineCalls kSystemLineCalls = {.getAttributes = ::tcgetattr, .setAttributes = ::tcsetattr};
const PortLineCalls* lineCalls = &kSystemLineCalls;

PortDiagnosticSink& Sink() {
  static PortDiagnosticSink sink;
  return sink;
}

void Diagnose(const std::string& text) {
  if (Sink())
    Sink()(text);
  else
    std::cerr << "kestovane: " << text << "\n";
}

bool InTable(int index) { return index >= 0 && index <= MaxPortIndex; }

PortChannel* Entry(int index) { return InTable(index) ? &portTable[static_cast<size_t>(index)] : nullptr; }

PortChannel* OpenEntry(int index) {
  PortChannel* e = Entry(index);
  return e && e->isOpen ? e : nullptr;
}

void Release(PortChannel& e) {
  e.isOpen = 0;
  if (e.handle >= 0) close(e.handle);  // also drops the flock and the exclusive mode
  e.handle = -1;
}

// Errors that mean the device itself is gone (a USB adapter pulled out, the
// other end of a pseudo-terminal closed).
bool DeviceGone(int err) { return err == EIO || err == ENXIO || err == ENODEV; }

// A port that vanished while open is closed like any other, so that every
// later read and write sees a closed entry and nothing spins on a dead fd.
void Vanished(PortChannel& e, int err) {
  Diagnose(PortName(e.portIndex) + ": the device went away (" + std::strerror(err) + "); the port is closed");
  Release(e);
}

std::string ProcessName(const std::string& pid) {
  std::ifstream in("/proc/" + pid + "/comm");
  std::string name;
  std::getline(in, name);
  return name;
}

// Who holds the device, as far as this user may see: the holder of the
// flock, else any process with the device open. Empty when nobody is found.
std::string FindHolder(const std::string& path) {
  struct stat target{};
  if (stat(path.c_str(), &target) != 0) return {};
  const std::string self = std::to_string(getpid());

  // Lines look like "1: FLOCK  ADVISORY  WRITE 1234 00:05:87 0 EOF".
  std::ifstream locks("/proc/locks");
  char want[64];
  std::snprintf(want, sizeof want, "%02x:%02x:%llu", major(target.st_dev), minor(target.st_dev),
                static_cast<unsigned long long>(target.st_ino));
  for (std::string line; std::getline(locks, line);) {
    std::istringstream words(line);
    std::string id, kind, mode, access, pid, where;
    words >> id >> kind;
    if (kind == "->") continue;  // a waiter, not the holder
    words >> mode >> access >> pid >> where;
    if (kind == "FLOCK" && where == want) return pid;
  }

  if (!S_ISCHR(target.st_mode)) return {};
  std::string ownFound;
  DIR* proc = opendir("/proc");
  if (!proc) return {};
  std::string found;
  while (const dirent* d = readdir(proc)) {
    const std::string pid = d->d_name;
    if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos) continue;
    const std::string fdDir = "/proc/" + pid + "/fd";
    DIR* fds = opendir(fdDir.c_str());
    if (!fds) continue;
    while (const dirent* f = readdir(fds)) {
      if (f->d_name[0] == '.') continue;
      struct stat st{};
      if (stat((fdDir + "/" + f->d_name).c_str(), &st) == 0 && S_ISCHR(st.st_mode) && st.st_rdev == target.st_rdev) {
        (pid == self ? ownFound : found) = pid;
        break;
      }
    }
    closedir(fds);
    if (!found.empty()) break;
  }
  closedir(proc);
  return found.empty() ? ownFound : found;
}

std::string HolderText(const std::string& path) {
  const std::string pid = FindHolder(path);
  if (pid.empty()) return "another process";
  if (pid == std::to_string(getpid())) return "this program (another port name maps to the same device)";
  const std::string name = ProcessName(pid);
  return "process " + pid + (name.empty() ? "" : " (" + name + ")");
}

std::string DescribeOpenError(int index, const std::string& path, int err) {
  const std::string port = PortName(index) + " (" + path + ")";
  switch (err) {
    case ENOENT:
    case ENXIO:
    case ENODEV:
    case EIO:
    case ENOTDIR:
      return port + ": no such device";
    case EACCES:
    case EPERM:
      return port +
             ": permission denied. Serial ports belong to the dialout group: run "
             "`sudo usermod -aG dialout $USER`, then log in again";
    case EBUSY:
    case EWOULDBLOCK:
      return port + ": in use by " + HolderText(path);
    default:
      return port + ": " + std::strerror(err);
  }
}

bool ShapeLine(termios& t, uint32_t baudRate, int parity, int stopBits, int byteSize) {
  speed_t speed = 0;
  bool known = false;
  for (const BaudCode& b : kBaudCodes)
    if (b.rate == baudRate) speed = b.code, known = true;
  if (!known || byteSize < 5 || byteSize > 8 || parity < 0 || parity > 4 || (stopBits != 0 && stopBits != 2))
    return false;

  // Raw bytes both ways: nothing translated, nothing echoed, no signals.
  t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF |
                                      IXANY | INPCK | IGNPAR);
  t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);

  static constexpr std::array<tcflag_t, 4> kSizes = {CS5, CS6, CS7, CS8};
  t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS | HUPCL);
  t.c_cflag |= kSizes[static_cast<size_t>(byteSize - 5)];
  // 1 odd, 2 even, 3 mark, 4 space, as the line's parity codes go.
  if (parity == 1) t.c_cflag |= PARENB | PARODD;
  if (parity == 2) t.c_cflag |= PARENB;
  if (parity == 3) t.c_cflag |= PARENB | CMSPAR | PARODD;
  if (parity == 4) t.c_cflag |= PARENB | CMSPAR;
  if (stopBits == 2) t.c_cflag |= CSTOPB;
  // The modem status lines mean nothing to the bootloader.
  t.c_cflag |= CLOCAL | CREAD;
  cfsetispeed(&t, speed);
  cfsetospeed(&t, speed);
  return true;
}

// tcsetattr succeeds when any part of a change took; what counts is what
// the driver now holds.
bool LineHolds(int fd, const termios& wanted) {
  termios now{};
  if (lineCalls->getAttributes(fd, &now) != 0) return false;
  constexpr tcflag_t kLineBits = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS | CLOCAL;
  return (now.c_cflag & kLineBits) == (wanted.c_cflag & kLineBits) && cfgetospeed(&now) == cfgetospeed(&wanted) &&
         (now.c_iflag & (IXON | IXOFF)) == 0 && (now.c_lflag & ICANON) == 0;
}

}  // namespace

std::string PortName(int index) { return "COM" + std::to_string(index + 1); }

std::string PortMapFolder() {
  if (const char* dir = std::getenv("KESTOVANE_PORT_DIR"); dir && dir[0]) return dir;
  std::string base;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && xdg[0] == '/') {
    base = xdg;
  } else {
    const char* home = std::getenv("HOME");
    if (!home || home[0] != '/') {
      const passwd* pw = getpwuid(getuid());
      home = pw && pw->pw_dir ? pw->pw_dir : "/";
    }
    base = std::string(home) + "/.config";
  }
  return base + "/kestovane/ports";
}

namespace {
int overrideIndex = -1;
std::string overridePath;
}  // namespace

void SetPortPathOverride(int index, const std::string& path) {
  overrideIndex = path.empty() ? -1 : index;
  overridePath = path;
}

std::string PortDevicePath(int index) {
  if (!InTable(index)) return {};
  if (index == overrideIndex) return overridePath;
  const std::string mapped = PortMapFolder() + "/" + PortName(index);
  struct stat st{};
  if (lstat(mapped.c_str(), &st) == 0) return mapped;
  const int number = index + 1;
  for (const DefaultRange& r : kDefaultMapping)
    if (number >= r.firstPort && number < r.firstPort + r.count)
      return r.device + std::to_string(number - r.firstPort);
  return {};
}

void SetPortDiagnosticSink(PortDiagnosticSink sink) { Sink() = std::move(sink); }

void SetPortLineCalls(const PortLineCalls* calls) { lineCalls = calls ? calls : &kSystemLineCalls; }

PortChannel* OpenPort(int index, uint32_t baudRate, int parity, int stopBits, int byteSize) {
  // Step: only the table's indexes name a port.
  if (!InTable(index)) {
    Diagnose(index < 0 ? std::string("no serial port is chosen; choose one with the port menu")
                       : PortName(index) + ": ports go from COM1 to " + PortName(MaxPortIndex));
    return nullptr;
  }
  PortChannel& e = portTable[static_cast<size_t>(index)];
  e.portIndex = index;
  if (e.isOpen) Release(e);

  // Step: the port name to its device.
  const std::string path = PortDevicePath(index);
  if (path.empty()) {
    Diagnose(PortName(index) + ": no device is mapped to this port; link one as " + PortMapFolder() + "/" +
             PortName(index));
    return nullptr;
  }

  // Step: open without becoming the device's controlling terminal, and
  // without waiting for carrier; reads never wait.
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    Diagnose(DescribeOpenError(index, path, errno));
    return nullptr;
  }
  auto refuse = [&](const std::string& why) {
    if (!why.empty()) Diagnose(PortName(index) + " (" + path + "): " + why);
    close(fd);
    return nullptr;
  };

  // Step: take the port for ourselves before touching any setting. The flock
  // holds even for root, whom the exclusive mode does not stop.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int err = errno;
    close(fd);
    Diagnose(DescribeOpenError(index, path, err == EWOULDBLOCK ? EBUSY : err));
    return nullptr;
  }
  if (ioctl(fd, TIOCEXCL) != 0) return refuse(errno == ENOTTY ? "not a serial device" : std::strerror(errno));

  // Step: opening a tty raises DTR and RTS, and the bootloader's reset wiring
  // wants them low: lower them before anything else can take time (a
  // message box about refused settings would otherwise hold them high).
  {
    int lines = TIOCM_DTR | TIOCM_RTS;
    (void)ioctl(fd, TIOCMBIC, &lines);
  }

  // Step: output an earlier user left queued is not ours to send; dropping
  // it (rather than waiting for it under that user's flow control, which
  // could hold us for ever) gives a clean start.
  (void)tcflush(fd, TCOFLUSH);

  // Step: the current settings, kept wherever we do not change them.
  termios t{};
  if (lineCalls->getAttributes(fd, &t) != 0) return refuse(errno == ENOTTY ? "not a serial device" : std::strerror(errno));

  // Step: the bootloader's line, raw, with no flow control of any kind.
  const bool shaped = ShapeLine(t, baudRate, parity, stopBits, byteSize);
  if (!shaped || lineCalls->setAttributes(fd, TCSANOW, &t) != 0 || !LineHolds(fd, t)) {
    ShowMessageBox("Unable to configure the serial port", "Error", MB_OK);
    return refuse("the driver refused the line settings");
  }

  // Step: reads return at once with what has arrived (VMIN 0, VTIME 0, and
  // the descriptor stays non-blocking).
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  termios now{};
  if (lineCalls->setAttributes(fd, TCSANOW, &t) != 0 || lineCalls->getAttributes(fd, &now) != 0 ||
      now.c_cc[VMIN] != 0 || now.c_cc[VTIME] != 0) {
    ShowMessageBox("Unable to set the time-out parameters", "Error", MB_OK);
    return refuse("the driver refused the read time-outs");
  }

  e.handle = fd;
  e.isOpen = 1;
  return &e;
}

namespace {

// Waits until the bytes written have left the driver, but not past the
// deadline: a device that stops taking data (a USB adapter whose far end
// hangs) must not hold the GUI thread for ever. Bytes still queued at the
// deadline are dropped. False when the deadline passed or the device went.
bool DrainWithin(PortChannel& e, std::chrono::steady_clock::time_point deadline) {
  using namespace std::chrono;
  constexpr auto kByteTime = microseconds(96);  // 11 bits at 115200 baud
  for (;;) {
    int pending = 0;
    // Without a queue figure (or with an empty queue) the plain drain is as
    // long as the last character's shift out.
    if (ioctl(e.handle, TIOCOUTQ, &pending) != 0 || pending <= 0) break;
    const auto now = steady_clock::now();
    if (now >= deadline) {
      (void)tcflush(e.handle, TCOFLUSH);
      return false;
    }
    const auto wait = std::min<steady_clock::duration>(kByteTime * pending, deadline - now);
    timespec ts{.tv_sec = 0, .tv_nsec = static_cast<long>(duration_cast<nanoseconds>(wait).count())};
    (void)nanosleep(&ts, nullptr);
  }
  while (tcdrain(e.handle) != 0) {
    if (errno == EINTR) continue;
    if (DeviceGone(errno)) Vanished(e, errno);
    return false;
  }
  return true;
}

}  // namespace

void ClosePort(int index) {
  if (PortChannel* e = OpenEntry(index)) Release(*e);
}

int16_t CheckPort(int index) {
  PortChannel* e = OpenEntry(index);
  if (!e) return -2;
  if (e->handle < 0) return -1;
  DrainWithin(*e, std::chrono::steady_clock::now() + std::chrono::milliseconds(kWriteConstantMs));
  // A device that is gone is no usable port.
  return e->isOpen ? 0 : -2;
}

void SetModemLines(int index, bool lower) {
  PortChannel* e = OpenEntry(index);
  if (!e) return;
  // A pseudo-terminal or a three-wire adapter has no modem lines; their
  // refusal changes nothing for the bootloader.
  const unsigned long request = lower ? TIOCMBIC : TIOCMBIS;
  int dtr = TIOCM_DTR, rts = TIOCM_RTS;
  (void)ioctl(e->handle, request, &dtr);
  (void)ioctl(e->handle, request, &rts);
}

int WritePort(int index, const uint8_t* bytes, size_t count) {
  PortChannel* e = OpenEntry(index);
  if (!e || e->handle < 0) return 0;

  // The descriptor is non-blocking for the reads' sake, so a full driver
  // queue is waited out here, within the line's write time-out.
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(kWriteConstantMs) +
                        std::chrono::milliseconds(kWriteMsPerByte) * count;
  size_t done = 0;
  while (done < count) {
    const ssize_t n = write(e->handle, bytes + done, count - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && DeviceGone(errno)) {
      Vanished(*e, errno);
      return 0;
    }
    if (n < 0 && errno != EAGAIN) return 0;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return 0;
    pollfd p{.fd = e->handle, .events = POLLOUT, .revents = 0};
    if (poll(&p, 1, static_cast<int>(left)) < 0 && errno != EINTR) return 0;
  }
  // The bytes have left the driver when this returns, within the same
  // write time-out.
  return DrainWithin(*e, deadline) ? 2 : 0;
}

size_t ReadPort(int index, uint8_t* buffer, size_t capacity) {
  PortChannel* e = OpenEntry(index);
  if (!e || e->handle < 0 || capacity == 0) return 0;
  const ssize_t n = read(e->handle, buffer, capacity);
  if (n > 0) return static_cast<size_t>(n);
  if (n < 0) {
    if (DeviceGone(errno)) Vanished(*e, errno);
    return 0;
  }
  // A tty that was hung up (its device removed) reads as empty for ever; only
  // poll tells it from a quiet line.
  pollfd p{.fd = e->handle, .events = POLLIN, .revents = 0};
  if (poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL))) Vanished(*e, EIO);
  return 0;
}

void ReopenSelectedPort() {
  // Nothing at all happens while the selection stays the same, even after a
  // failed open: the failure was reported once.
  if (SelectedPortIndex == OpenedPortIndex) return;
  OpenedPortIndex = SelectedPortIndex;
  ClosePort(SelectedPortIndex);
  OpenPort(SelectedPortIndex, LineBaudRate, 0, 2, 8);
  // The bootloader's reset wiring wants DTR and RTS low on every fresh open.
  SetModemLines(SelectedPortIndex, true);
  if (CheckPort(SelectedPortIndex) < 0) ShowResult("Invalid Port Com", clRed, 0);
}

void ShowPortLabel(TStatusBar* statusBar) {
  if (!statusBar) return;
  const std::string label = SelectedPortIndex < 0 ? std::string("-----") : PortName(SelectedPortIndex);
  statusBar->SetPanelText(PortPanel, label);
}

int PortDescriptor(int index) {
  const PortChannel* e = OpenEntry(index);
  return e ? e->handle : -1;
}

void ResetPortTable() {
  for (PortChannel& e : portTable)
    if (e.isOpen) Release(e);
  portTable.fill(PortChannel{});
  SelectedPortIndex = 0;
  OpenedPortIndex = -1;
  SetPortPathOverride(0, "");
}

}  // namespace kestovane
