// The table of serial port channels, the selected and the opened port, and
// the port label. Every byte to and from the bootloader goes through here and
// always addresses the entry of SelectedPortIndex.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

struct termios;

namespace kestovane {

class TStatusBar;

inline constexpr int32_t MaxPortIndex = 256;
inline constexpr uint32_t LineBaudRate = 115200;

// One entry of the port table.
struct PortChannel {
  int32_t portIndex = 0;
  int32_t isOpen = 0;
  int handle = -1;  // the open file descriptor while isOpen is 1
};

// The port every read, write, check and wait of the protocol uses; negative
// when no valid port is chosen.
extern int16_t SelectedPortIndex;
// The port the last reopen opened; -1 for none. Differs from the selected
// index whenever the next reopen must open afresh.
extern int16_t OpenedPortIndex;

// The port name of an index: "COM1" for 0.
std::string PortName(int index);

// The entry, or nullptr when the port cannot be used. parity 0 is none,
// stopBits 2 is two stop bits, byteSize the number of data bits.
PortChannel* OpenPort(int index, uint32_t baudRate, int parity, int stopBits, int byteSize);
void ClosePort(int index);
// 0 open (output drained); -1 marked open with an invalid handle; -2 not open.
int16_t CheckPort(int index);
// lower false raises DTR then RTS; lower true clears DTR then RTS.
void SetModemLines(int index, bool lower);
// 2 when written and drained, 0 when the entry is closed or the write failed.
int WritePort(int index, const uint8_t* bytes, size_t count);
// The bytes that have arrived, up to capacity; never waits. 0 for a closed entry.
size_t ReadPort(int index, uint8_t* buffer, size_t capacity);
// Opens the selected port if it is not the one last opened; reports a port
// that cannot be used.
void ReopenSelectedPort();
// The port label into the port panel of a status bar.
void ShowPortLabel(TStatusBar* statusBar);

// The descriptor of an open entry, -1 otherwise: the wait loop sleeps on it
// so that a reply ends a wait cycle at once.
int PortDescriptor(int index);

// Every entry closed and both indexes back to their start values.
void ResetPortTable();

// The device a port name stands for. A link named like the port ("COM5") in
// the port map folder wins; without one the fixed mapping applies:
// COM1..COM32 -> /dev/ttyS0..31, COM33..COM64 -> /dev/ttyUSB0..31,
// COM65..COM96 -> /dev/ttyACM0..31. Empty for an index outside 0..256 and
// for a port that neither maps.
std::string PortDevicePath(int index);
// The port map folder: $KESTOVANE_PORT_DIR when set, else
// $XDG_CONFIG_HOME/kestovane/ports (XDG_CONFIG_HOME defaults to ~/.config).
std::string PortMapFolder();

// Where the reasons a port cannot be used go, for a person to read ("Invalid
// Port Com" alone does not say why). Defaults to standard error; an empty
// function restores the default.
using PortDiagnosticSink = std::function<void(const std::string&)>;
void SetPortDiagnosticSink(PortDiagnosticSink sink);

// The operating system calls the channel configures a line with; tests put
// in failing ones to reach the refusals a real driver rarely gives.
struct PortLineCalls {
  int (*getAttributes)(int fd, ::termios* t);
  int (*setAttributes)(int fd, int when, const ::termios* t);
};
// Replaces the calls; nullptr restores the system's.
void SetPortLineCalls(const PortLineCalls* calls);

}  // namespace kestovane
