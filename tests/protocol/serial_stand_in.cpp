// A stand-in for the serial channel until the real one joins this branch:
// just enough of it for the protocol tests. It opens COMn as the link
// $KESTOVANE_PORT_DIR/COMn, in raw mode, with reads that never wait.
// TEST-ONLY; removed when the channel itself is merged.
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "app/feedback.h"
#include "platform/forms.h"
#include "serial/port_channel.h"

namespace kestovane {

int16_t SelectedPortIndex = 0;
int16_t OpenedPortIndex = -1;

namespace {
PortChannel table[MaxPortIndex + 1];
bool Valid(int index) { return index >= 0 && index <= MaxPortIndex; }
}  // namespace

std::string PortName(int index) { return "COM" + std::to_string(index + 1); }

PortChannel* OpenPort(int index, uint32_t baudRate, int parity, int stopBits, int byteSize) {
  if (!Valid(index)) return nullptr;
  PortChannel& e = table[index];
  e.portIndex = index;
  if (e.isOpen) {
    e.isOpen = 0;
    ::close(e.handle);
  }
  const char* dir = std::getenv("KESTOVANE_PORT_DIR");
  if (!dir) return nullptr;
  const std::string path = std::string(dir) + "/" + PortName(index);
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return nullptr;
  termios t{};
  tcgetattr(fd, &t);
  cfmakeraw(&t);
  cfsetspeed(&t, B115200);
  t.c_cflag |= CSTOPB | CLOCAL | CREAD;
  tcsetattr(fd, TCSANOW, &t);
  e.handle = fd;
  e.isOpen = 1;
  return &e;
}

void ClosePort(int index) {
  if (!Valid(index) || !table[index].isOpen) return;
  table[index].isOpen = 0;
  ::close(table[index].handle);
}

int16_t CheckPort(int index) {
  if (!Valid(index) || !table[index].isOpen) return -2;
  if (table[index].handle < 0) return -1;
  tcdrain(table[index].handle);
  return 0;
}

void SetModemLines(int, bool) {}

int WritePort(int index, const uint8_t* bytes, size_t count) {
  if (!Valid(index) || !table[index].isOpen) return 0;
  size_t done = 0;
  while (done < count) {
    const ssize_t n = ::write(table[index].handle, bytes + done, count - done);
    if (n <= 0) return 0;
    done += static_cast<size_t>(n);
  }
  tcdrain(table[index].handle);
  return 2;
}

size_t ReadPort(int index, uint8_t* buffer, size_t capacity) {
  if (!Valid(index) || !table[index].isOpen) return 0;
  const ssize_t n = ::read(table[index].handle, buffer, capacity);
  return n > 0 ? static_cast<size_t>(n) : 0;
}

void ReopenSelectedPort() {
  if (SelectedPortIndex == OpenedPortIndex) return;
  OpenedPortIndex = SelectedPortIndex;
  ClosePort(SelectedPortIndex);
  OpenPort(SelectedPortIndex, LineBaudRate, 0, 2, 8);
  SetModemLines(SelectedPortIndex, true);
  if (CheckPort(SelectedPortIndex) < 0) ShowResult("Invalid Port Com", clRed, 0);
}

void ShowPortLabel(TStatusBar* statusBar) {
  if (!statusBar) return;
  statusBar->SetPanelText(PortPanel, SelectedPortIndex < 0 ? "-----" : PortName(SelectedPortIndex));
}

int PortDescriptor(int index) {
  return Valid(index) && table[index].isOpen ? table[index].handle : -1;
}

void ResetPortTable() {
  for (int i = 0; i <= MaxPortIndex; ++i) ClosePort(i);
  SelectedPortIndex = 0;
  OpenedPortIndex = -1;
}

}  // namespace kestovane
