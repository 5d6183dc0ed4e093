#include "serial/port_channel.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/forms.h"
#include "support/program.h"
#include "ui/updater_window.h"

namespace kestovane {
namespace {

namespace fs = std::filesystem;

// A pseudo-terminal whose slave end is published as a port name in the
// test's port map folder; the master end plays the device.
struct FakeDevice {
  int master = -1;
  std::string slave;

  FakeDevice() {
    int slaveFd = -1;
    char name[256] = {};
    if (openpty(&master, &slaveFd, name, nullptr, nullptr) == 0) {
      slave = name;
      close(slaveFd);  // the port opens the slave itself
    }
  }
  ~FakeDevice() { Unplug(); }
  FakeDevice(const FakeDevice&) = delete;
  FakeDevice& operator=(const FakeDevice&) = delete;

  void Unplug() {
    if (master >= 0) close(master);
    master = -1;
  }
  // What the device received within a short while.
  std::vector<uint8_t> Received(size_t expected) const {
    std::vector<uint8_t> got;
    while (got.size() < expected) {
      pollfd p{.fd = master, .events = POLLIN, .revents = 0};
      if (poll(&p, 1, 2000) <= 0) break;
      uint8_t buf[4096];
      const ssize_t n = read(master, buf, sizeof buf);
      if (n <= 0) break;
      got.insert(got.end(), buf, buf + n);
    }
    return got;
  }
};

class PortChannelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::StartProgram(nullptr);  // the Updater window shows what the channel reports
    char pattern[] = "/tmp/kestovane-ports-XXXXXX";
    mapFolder_ = mkdtemp(pattern);
    setenv("KESTOVANE_PORT_DIR", mapFolder_.c_str(), 1);
    ResetPortTable();
    SetPortDiagnosticSink([this](const std::string& t) { diagnostics_.push_back(t); });
  }
  void TearDown() override {
    ResetPortTable();
    SetPortDiagnosticSink(nullptr);
    SetPortLineCalls(nullptr);
    unsetenv("KESTOVANE_PORT_DIR");
    fs::remove_all(mapFolder_);
  }

  void Publish(int index, const std::string& target) {
    fs::create_symlink(target, fs::path(mapFolder_) / PortName(index));
  }
  std::string ResultLine() const { return Form1->Label2->Visible() ? Form1->Label2->Caption() : ""; }
  void ClearResultLine() { Form1->Label2->Hide(); }
  bool Diagnosed(const std::string& part) const {
    for (const auto& d : diagnostics_)
      if (d.find(part) != std::string::npos) return true;
    return false;
  }
  static int OpenDescriptors() {
    int n = 0;
    for (const auto& e : fs::directory_iterator("/proc/self/fd")) (void)e, ++n;
    return n;
  }

  std::string mapFolder_;
  std::vector<std::string> diagnostics_;
};

TEST_F(PortChannelTest, LabelNamesTheSelectedPort) {
  struct Case {
    int16_t index;
    const char* label;
  };
  constexpr Case kCases[] = {{.index = 0, .label = "COM1"},      {.index = 4, .label = "COM5"},
                             {.index = 256, .label = "COM257"},  {.index = -1, .label = "-----"},
                             {.index = -32768, .label = "-----"}};
  for (const Case& c : kCases) {
    SelectedPortIndex = c.index;
    ShowPortLabel(Form1->StatusBar1);
    EXPECT_EQ(Form1->StatusBar1->PanelText(0), c.label);
  }
  ShowPortLabel(nullptr);  // harmless
}

TEST_F(PortChannelTest, PortNamesMapToFixedDevicesUnlessTheMapFolderLinksThem) {
  struct Case {
    int index;
    const char* device;
  };
  constexpr Case kCases[] = {
      {.index = 0, .device = "/dev/ttyS0"},    {.index = 31, .device = "/dev/ttyS31"},
      {.index = 32, .device = "/dev/ttyUSB0"}, {.index = 63, .device = "/dev/ttyUSB31"},
      {.index = 64, .device = "/dev/ttyACM0"}, {.index = 95, .device = "/dev/ttyACM31"},
      {.index = 96, .device = ""},             {.index = 256, .device = ""},
      {.index = 257, .device = ""},            {.index = -1, .device = ""},
  };
  for (const Case& c : kCases) EXPECT_EQ(PortDevicePath(c.index), c.device) << c.index;

  Publish(32, "/dev/serial/by-id/usb-some-adapter");
  EXPECT_EQ(PortDevicePath(32), mapFolder_ + "/COM33");

  unsetenv("KESTOVANE_PORT_DIR");
  EXPECT_EQ(PortMapFolder(), std::string(std::getenv("XDG_CONFIG_HOME")) + "/kestovane/ports");
}

TEST_F(PortChannelTest, NeverOpenedOrOutOfRangeEntriesCheckAsClosed) {
  for (int index : {0, 256, 257, -1, -32768, 100000}) {
    EXPECT_EQ(CheckPort(index), -2) << index;
    EXPECT_EQ(PortDescriptor(index), -1);
    uint8_t b = 0;
    EXPECT_EQ(ReadPort(index, &b, 1), 0u);
    EXPECT_EQ(WritePort(index, &b, 1), 0);
    ClosePort(index);
    SetModemLines(index, true);
  }
}

TEST_F(PortChannelTest, ReopenSetsTheBootloaderLine) {
  FakeDevice device;
  ASSERT_FALSE(device.slave.empty());
  Publish(4, device.slave);
  SelectedPortIndex = 4;
  ReopenSelectedPort();
  EXPECT_EQ(OpenedPortIndex, 4);
  EXPECT_EQ(ResultLine(), "");
  const int fd = PortDescriptor(4);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(CheckPort(4), 0);

  termios t{};
  ASSERT_EQ(tcgetattr(fd, &t), 0);
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B115200));
  EXPECT_EQ(cfgetispeed(&t), static_cast<speed_t>(B115200));
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(t.c_cflag & (PARENB | PARODD | CMSPAR), 0u);
  EXPECT_NE(t.c_cflag & CSTOPB, 0u);
  EXPECT_EQ(t.c_cflag & CRTSCTS, 0u);
  EXPECT_NE(t.c_cflag & CLOCAL, 0u);
  EXPECT_NE(t.c_cflag & CREAD, 0u);
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF | IXANY | ICRNL | INLCR | IGNCR | ISTRIP | INPCK), 0u);
  EXPECT_EQ(t.c_oflag & OPOST, 0u);
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
  EXPECT_EQ(t.c_cc[VMIN], 0);
  EXPECT_EQ(t.c_cc[VTIME], 0);
  EXPECT_NE(fcntl(fd, F_GETFL) & O_NONBLOCK, 0);
}

TEST_F(PortChannelTest, BytesPassRawBothWays) {
  FakeDevice device;
  Publish(0, device.slave);
  SelectedPortIndex = 0;
  ReopenSelectedPort();
  ASSERT_GE(PortDescriptor(0), 0);

  uint8_t buffer[64];
  EXPECT_EQ(ReadPort(0, buffer, sizeof buffer), 0u);  // nothing arrived, and no wait

  const std::vector<uint8_t> frame = {0xC2, '\n', '\r', 0x00, 0x11, 0x13, 0x03, 0xFF};
  EXPECT_EQ(WritePort(0, frame.data(), frame.size()), 2);
  EXPECT_EQ(device.Received(frame.size()), frame);

  ASSERT_EQ(write(device.master, frame.data(), frame.size()), static_cast<ssize_t>(frame.size()));
  std::vector<uint8_t> got;
  for (int tries = 0; tries < 200 && got.size() < frame.size(); ++tries) {
    const size_t n = ReadPort(0, buffer, sizeof buffer);
    got.insert(got.end(), buffer, buffer + n);
    if (n == 0) usleep(1000);
  }
  EXPECT_EQ(got, frame);
}

TEST_F(PortChannelTest, AWriteLargerThanTheDriverQueueWaitsForRoom) {
  FakeDevice device;
  Publish(0, device.slave);
  ASSERT_NE(OpenPort(0, LineBaudRate, 0, 2, 8), nullptr);
  std::vector<uint8_t> image(64 * 1024);
  for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 7);
  std::vector<uint8_t> received;
  std::thread reader([&] { received = device.Received(image.size()); });
  EXPECT_EQ(WritePort(0, image.data(), image.size()), 2);
  reader.join();
  EXPECT_EQ(received, image);
}

TEST_F(PortChannelTest, IndexOfTheLastPortOpensAndOnePastItIsRefused) {
  FakeDevice device;
  Publish(256, device.slave);
  SelectedPortIndex = 256;
  ReopenSelectedPort();
  EXPECT_GE(PortDescriptor(256), 0);
  EXPECT_EQ(ResultLine(), "");

  SelectedPortIndex = 257;
  EXPECT_EQ(OpenPort(257, LineBaudRate, 0, 2, 8), nullptr);
  ReopenSelectedPort();
  EXPECT_EQ(ResultLine(), "Invalid Port Com");
  EXPECT_EQ(Form1->Label2->Color(), clRed);
  EXPECT_TRUE(Diagnosed("COM258"));
}

TEST_F(PortChannelTest, NegativeSelectionOpensNothingAndIsReported) {
  const int before = OpenDescriptors();
  SelectedPortIndex = -1;
  OpenedPortIndex = -2;
  ReopenSelectedPort();
  EXPECT_EQ(ResultLine(), "Invalid Port Com");
  EXPECT_EQ(OpenDescriptors(), before);
  EXPECT_TRUE(Diagnosed("no serial port is chosen"));
}

TEST_F(PortChannelTest, ASecondReopenWithoutAChangeDoesNothing) {
  // A failing port is reported once.
  SelectedPortIndex = 99;  // maps to no device
  ReopenSelectedPort();
  EXPECT_EQ(ResultLine(), "Invalid Port Com");
  ClearResultLine();
  const size_t said = diagnostics_.size();
  ReopenSelectedPort();
  EXPECT_EQ(ResultLine(), "");
  EXPECT_EQ(diagnostics_.size(), said);

  // A working port is opened once: the same descriptor stays.
  FakeDevice device;
  Publish(2, device.slave);
  SelectedPortIndex = 2;
  ReopenSelectedPort();
  const int fd = PortDescriptor(2);
  ASSERT_GE(fd, 0);
  const int before = OpenDescriptors();
  ReopenSelectedPort();
  EXPECT_EQ(PortDescriptor(2), fd);
  EXPECT_EQ(OpenDescriptors(), before);
}

TEST_F(PortChannelTest, SwitchingAwayLeavesTheOldPortOpenAndSwitchingBackReopensIt) {
  FakeDevice port4, port6;
  Publish(3, port4.slave);
  Publish(5, port6.slave);
  SelectedPortIndex = 3;
  ReopenSelectedPort();
  ASSERT_GE(PortDescriptor(3), 0);
  const int before = OpenDescriptors();

  SelectedPortIndex = 5;
  ReopenSelectedPort();
  EXPECT_GE(PortDescriptor(5), 0);
  EXPECT_GE(PortDescriptor(3), 0);  // stays open while port 6 is in use

  // Back on port 4: its old handle (and its lock) goes first, or the new
  // open would find the port taken.
  SelectedPortIndex = 3;
  ReopenSelectedPort();
  EXPECT_EQ(ResultLine(), "");
  EXPECT_GE(PortDescriptor(3), 0);
  EXPECT_EQ(OpenDescriptors(), before + 1);
}

TEST_F(PortChannelTest, APortHeldElsewhereIsRefusedAndTheHolderNamed) {
  FakeDevice device;
  Publish(0, device.slave);
  Publish(1, device.slave);  // a second name for the same device
  ASSERT_NE(OpenPort(0, LineBaudRate, 0, 2, 8), nullptr);
  EXPECT_EQ(OpenPort(1, LineBaudRate, 0, 2, 8), nullptr);
  EXPECT_TRUE(Diagnosed("in use by this program"));
  ClosePort(0);

  // Another process holds it.
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t holder = fork();
  ASSERT_GE(holder, 0);
  if (holder == 0) {
    const char ok = OpenPort(0, LineBaudRate, 0, 2, 8) ? 'y' : 'n';
    (void)write(ready[1], &ok, 1);
    pause();
    _exit(0);
  }
  char ok = 0;
  ASSERT_EQ(read(ready[0], &ok, 1), 1);
  EXPECT_EQ(ok, 'y');
  diagnostics_.clear();
  SelectedPortIndex = 0;
  ReopenSelectedPort();
  EXPECT_EQ(ResultLine(), "Invalid Port Com");
  EXPECT_TRUE(Diagnosed("in use by process " + std::to_string(holder))) << ::testing::PrintToString(diagnostics_);
  kill(holder, SIGKILL);
  waitpid(holder, nullptr, 0);
  close(ready[0]);
  close(ready[1]);

  // Once the holder is gone the port opens.
  EXPECT_NE(OpenPort(0, LineBaudRate, 0, 2, 8), nullptr);
}

TEST_F(PortChannelTest, WhyAPortCannotBeUsedIsSaid) {
  Publish(0, mapFolder_ + "/gone");  // a link to a device that is not there
  EXPECT_EQ(OpenPort(0, LineBaudRate, 0, 2, 8), nullptr);
  EXPECT_TRUE(Diagnosed("COM1 (" + mapFolder_ + "/COM1): no such device"));

  std::ofstream(mapFolder_ + "/plain") << "x";
  Publish(1, mapFolder_ + "/plain");
  EXPECT_EQ(OpenPort(1, LineBaudRate, 0, 2, 8), nullptr);
  EXPECT_TRUE(Diagnosed("not a serial device"));
  EXPECT_EQ(CheckPort(1), -2);

  // Permission: a device the user may not open. Root may open anything, so
  // the check runs as an unprivileged user in a child.
  fs::permissions(mapFolder_, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                 fs::perms::others_read | fs::perms::others_exec);
  const std::string locked = mapFolder_ + "/locked";
  std::ofstream(locked) << "x";
  fs::permissions(locked, fs::perms::none);
  Publish(2, locked);
  int said[2];
  ASSERT_EQ(pipe(said), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(1);
    SetPortDiagnosticSink([&](const std::string& t) { (void)write(said[1], t.data(), t.size()); });
    OpenPort(2, LineBaudRate, 0, 2, 8);
    _exit(0);
  }
  close(said[1]);
  std::string text;
  char buf[512];
  for (ssize_t n; (n = read(said[0], buf, sizeof buf)) > 0;) text.append(buf, static_cast<size_t>(n));
  close(said[0]);
  waitpid(child, nullptr, 0);
  EXPECT_NE(text.find("permission denied"), std::string::npos) << text;
  EXPECT_NE(text.find("dialout"), std::string::npos) << text;
  EXPECT_NE(text.find("sudo usermod -aG dialout $USER"), std::string::npos) << text;
}

TEST_F(PortChannelTest, AVanishedPortClosesItsEntry) {
  struct Case {
    const char* name;
    bool writeFirst;
  };
  for (const Case& c : {Case{"read", false}, Case{"write", true}}) {
    SCOPED_TRACE(c.name);
    diagnostics_.clear();
    FakeDevice device;
    fs::remove(fs::path(mapFolder_) / "COM1");
    Publish(0, device.slave);
    ASSERT_NE(OpenPort(0, LineBaudRate, 0, 2, 8), nullptr);
    device.Unplug();

    uint8_t b[16] = {1, 2, 3};
    if (c.writeFirst)
      EXPECT_EQ(WritePort(0, b, 3), 0);
    else
      EXPECT_EQ(ReadPort(0, b, sizeof b), 0u);
    EXPECT_EQ(PortDescriptor(0), -1);
    EXPECT_EQ(CheckPort(0), -2);
    EXPECT_EQ(ReadPort(0, b, sizeof b), 0u);
    EXPECT_EQ(WritePort(0, b, 3), 0);
    EXPECT_TRUE(Diagnosed("COM1: the device went away"));
  }
}

TEST_F(PortChannelTest, ModemLinesOfAPseudoTerminalAreIgnored) {
  FakeDevice device;
  Publish(0, device.slave);
  ASSERT_NE(OpenPort(0, LineBaudRate, 0, 2, 8), nullptr);
  SetModemLines(0, false);
  SetModemLines(0, true);
  EXPECT_EQ(CheckPort(0), 0);
}

// Drivers that refuse a setting: the matching message, the entry closed and
// its handle released, so a later open of the same port succeeds.
int setCalls = 0;
int failOnSetCall = 0;
int FailingSet(int fd, int when, const termios* t) {
  if (++setCalls == failOnSetCall) {
    errno = EINVAL;
    return -1;
  }
  return tcsetattr(fd, when, t);
}
constexpr PortLineCalls kFailingLine = {.getAttributes = ::tcgetattr, .setAttributes = FailingSet};

TEST_F(PortChannelTest, RefusedSettingsAreShownAndReleaseThePort) {
  struct Case {
    int failingCall;
    const char* message;
  };
  constexpr Case kCases[] = {{.failingCall = 1, .message = "Unable to configure the serial port"},
                             {.failingCall = 2, .message = "Unable to set the time-out parameters"}};
  FakeDevice device;
  Publish(0, device.slave);
  for (const Case& c : kCases) {
    testing::StartProgram(nullptr);
    ResetPortTable();
    setCalls = 0;
    failOnSetCall = c.failingCall;
    SetPortLineCalls(&kFailingLine);
    const int before = OpenDescriptors();
    ReopenSelectedPort();
    ASSERT_EQ(Application->ShownBoxes().size(), 1u);
    EXPECT_EQ(Application->ShownBoxes()[0].text, c.message);
    EXPECT_EQ(Application->ShownBoxes()[0].caption, "Error");
    EXPECT_EQ(Application->ShownBoxes()[0].flags, 0u);
    EXPECT_EQ(ResultLine(), "Invalid Port Com");
    EXPECT_EQ(CheckPort(0), -2);
    EXPECT_EQ(OpenDescriptors(), before);

    SetPortLineCalls(nullptr);
    EXPECT_NE(OpenPort(0, LineBaudRate, 0, 2, 8), nullptr);
    ClosePort(0);
  }
}

TEST_F(PortChannelTest, LineSettingsOutsideWhatALinuxTtyCanDoAreRefused) {
  FakeDevice device;
  Publish(0, device.slave);
  EXPECT_EQ(OpenPort(0, 115201, 0, 2, 8), nullptr);
  EXPECT_EQ(OpenPort(0, LineBaudRate, 0, 1, 8), nullptr);  // one and a half stop bits
  EXPECT_EQ(OpenPort(0, LineBaudRate, 0, 2, 9), nullptr);
  // A pseudo-terminal accepts the call but quietly stays at 8 bits without
  // parity: what counts is what the driver holds afterwards.
  EXPECT_EQ(OpenPort(0, 9600, 2, 0, 7), nullptr);
  EXPECT_EQ(Application->ShownBoxes().size(), 4u);
  EXPECT_EQ(CheckPort(0), -2);
  EXPECT_NE(OpenPort(0, 9600, 0, 0, 8), nullptr);
}

}  // namespace
}  // namespace kestovane
