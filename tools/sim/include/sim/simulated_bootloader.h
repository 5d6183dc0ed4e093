// A resident serial bootloader played in software on a pseudo-terminal, so
// that the updater, its tests, the demo and the benchmarks have a device.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "sim/family.h"

namespace kestovane::sim {

using Micros = std::chrono::microseconds;

// When the line moves on from one device personality to the next one of the list.
enum class Advance {
  Never,
  AfterProgramming,  // at the first handshake after a Fix frame was written
  OnCommand4,        // on a command-4 frame that follows an accepted access frame
};

// One device as it answers on the line: its identity, its info record and its memories.
struct Personality {
  std::uint8_t deviceCode = 72;
  std::uint8_t version = 9;
  std::uint8_t printCode = 0x10;
  std::uint8_t preparationCode = 0x03;
  bool identityRecord = true;        // false: answer the handshake with the device code and 'K' only, no 'V'
  std::string infoText = "KESTOVANE SIMULATOR";  // up to 24 characters, padded with blanks
  std::uint16_t protectedStart = 0;  // info record fields; 0 means no protected range
  std::uint16_t protectedCount = 0;
  std::optional<bool> sendInfoRecord;  // unset: send it for versions 8..31
  std::optional<std::uint16_t> eepromSize;  // unset: the family's own
  Advance advance = Advance::Never;
};

enum class FaultKind {
  Refuse,       // answer 'N' to frame n, `times` times
  Silent,       // no answer to frame n, nothing written
  Late,         // wait `delay` before answering frame n
  NoiseBefore,  // send `noise` before the answer to frame n
  NoiseAfter,   // send `noise` after the answer to frame n
};

// Programming frames (block, last, Fix and EEPROM frames) are numbered from 1
// in the order received; a resend of a refused frame keeps its number.
// Frame 0 stands for every programming frame.
struct Fault {
  FaultKind kind = FaultKind::Refuse;
  std::uint32_t frame = 1;
  std::uint32_t times = 1;
  Micros delay{0};
  std::vector<std::uint8_t> noise;

  static Fault Refuse(std::uint32_t frame, std::uint32_t times) { return Make(FaultKind::Refuse, frame, times, {}, {}); }
  static Fault Silent(std::uint32_t frame) { return Make(FaultKind::Silent, frame, 1, {}, {}); }
  static Fault Late(std::uint32_t frame, Micros delay) { return Make(FaultKind::Late, frame, 1, delay, {}); }
  static Fault NoiseBefore(std::uint32_t frame, std::vector<std::uint8_t> bytes) {
    return Make(FaultKind::NoiseBefore, frame, 1, {}, std::move(bytes));
  }
  static Fault NoiseAfter(std::uint32_t frame, std::vector<std::uint8_t> bytes) {
    return Make(FaultKind::NoiseAfter, frame, 1, {}, std::move(bytes));
  }

 private:
  static Fault Make(FaultKind kind, std::uint32_t frame, std::uint32_t times, Micros delay,
                    std::vector<std::uint8_t> noise) {
    Fault f;
    f.kind = kind;
    f.frame = frame;
    f.times = times;
    f.delay = delay;
    f.noise = std::move(noise);
    return f;
  }
};

struct SimConfig {
  std::vector<Personality> personalities{Personality{}};
  std::vector<std::uint8_t> handshakeBytes{0xC2, 0xC5, 0xC6};  // the bytes that get an answer

  // Where the line is published: a tty path to serve, or a new pseudo-terminal
  // linked as COMn into the port map folder (empty folder: $KESTOVANE_PORT_DIR,
  // else $XDG_CONFIG_HOME/kestovane/ports, else ~/.config/kestovane/ports).
  std::string ttyPath;
  std::string portDir;
  int comNumber = 0;  // 0: publish no link, the pty path alone

  // Outputs, written at Stop (and when the line drops). A second personality
  // and later ones write "<stem>.<index><ext>".
  std::string flashHexPath;
  std::string eepromHexPath;
  std::string transcriptPath;  // JSON lines, written as frames arrive

  // The frame key: data bytes travel as clear XOR ((low address byte + key) mod 256).
  bool scramble = true;
  std::uint8_t keyConstant = 0xA7;  // the key of the firmware set in firmware/
  bool eepromKeyed = false;  // EEPROM bytes travel in clear
  std::string accessString = "T7r2Qm9Kx4Vb8Ne";

  bool guardProtectedRange = true;  // refuse writes into the range the info record announces

  // Faults.
  std::vector<Fault> faults;
  std::uint64_t dropAfterBytes = 0;  // close the line once this many bytes were received; 0 never
  std::uint32_t answerFromHandshake = 1;  // stay quiet to the handshakes before this one

  // Timing.
  bool paceLine = false;              // both directions at the line rate
  std::chrono::nanoseconds byteTime{95486};  // 11 bits (start, 8 data, 2 stop) at 115200 baud
  Micros flashWriteTime{0};           // before answering a block, last or Fix frame
  Micros eepromWriteTime{0};          // before answering an EEPROM frame
  Micros infoDelay{0};                // between the identity answer and the info record
  Micros partialFrameTimeout{200000}; // an incomplete frame is dropped after this much silence
};

enum class Direction { Received, Sent };

struct FrameRecord {
  Direction direction = Direction::Received;
  double time = 0;          // seconds since the simulator started
  std::string kind;         // handshake, entry, block, last, fix, eeprom, access, command4, noise, partial, malformed; sent: identity, info, reply, noise
  std::int64_t address = -1;  // device address of a memory frame, EEPROM address of an EEPROM frame
  std::uint32_t frame = 0;  // programming frame number, 0 for others
  std::vector<std::uint8_t> bytes;  // as on the wire
  std::string reply;        // "K", "N" or "" (no answer)
  double replyTime = -1;    // when the answer went out, -1 for none
  std::string note;         // why a frame was refused or not answered
  std::size_t personality = 0;
};

struct Counters {
  std::uint64_t bytesReceived = 0;
  std::uint64_t bytesSent = 0;
  std::uint32_t handshakes = 0;          // handshake bytes of the answered set received
  std::uint32_t handshakesAnswered = 0;
  std::uint32_t infoRecords = 0;
  std::uint32_t entries = 0;             // programming-mode entry bytes
  std::uint32_t frames = 0;              // programming frame receptions, resends included
  std::uint32_t accepted = 0;
  std::uint32_t refused = 0;
  std::uint32_t unanswered = 0;
  std::uint32_t checksumErrors = 0;
  std::uint32_t guardRefusals = 0;       // writes into the bootloader's region, the protected range or past the memory
  std::uint32_t flashFrames = 0;         // block, last and Fix frames written
  std::uint32_t eepromFrames = 0;        // EEPROM frames written
  std::uint32_t fixFrames = 0;
  std::uint32_t accessFrames = 0;
  std::uint32_t command4Frames = 0;
  std::uint32_t noiseBytes = 0;          // bytes that began no known frame
  std::uint32_t partialFrames = 0;
  std::size_t personality = 0;           // the personality now answering
  bool lineDropped = false;
};

// How far a device's programming run (begun by the last handshake or entry
// byte the device answered) has come, counting only frames that were written
// and answered 'K' (counted just before the 'K' goes out).
struct RunProgress {
  bool fixAcknowledged = false;
  std::uint32_t eepromAcknowledged = 0;  // EEPROM frames since the Fix frame
};

class SimulatedBootloader {
 public:
  explicit SimulatedBootloader(SimConfig config);
  ~SimulatedBootloader();
  SimulatedBootloader(const SimulatedBootloader&) = delete;
  SimulatedBootloader& operator=(const SimulatedBootloader&) = delete;

  // Opens the line (throws std::runtime_error with the reason when it cannot)
  // and serves it on a background thread until Stop.
  void Start();
  // Ends the thread, writes the output files and removes the port link.
  void Stop();
  // Opens the line and serves it on the calling thread until Stop is called
  // from elsewhere (a signal handler may call RequestStop).
  void Run();
  void RequestStop();

  // The device side of the line as the updater opens it.
  std::string DevicePath() const;
  // The COMn link, empty when none was made.
  std::string LinkPath() const;

  // Snapshots, safe during a run. Memories are in image byte order: device
  // address a begins at byte a * addressUnit; erased bytes read 0xFF.
  std::vector<std::uint8_t> Flash(std::size_t personality = 0) const;
  std::vector<std::uint8_t> Eeprom(std::size_t personality = 0) const;
  std::vector<std::uint8_t> FlashAt(std::uint32_t address, std::size_t byteCount,
                                    std::size_t personality = 0) const;
  std::vector<FrameRecord> Transcript() const;
  Counters GetCounters() const;
  FamilyLayout Layout(std::size_t personality = 0) const;
  RunProgress Progress(std::size_t personality = 0) const;
  // When the last block, last, Fix or EEPROM frame arrived; none before the first.
  std::optional<std::chrono::steady_clock::time_point> LastProgrammingFrame() const;

  // Blocks until the predicate holds for the counters or the timeout passes.
  bool WaitUntil(const std::function<bool(const Counters&)>& predicate, Micros timeout) const;

  // Makes another personality answer from now on (also what Advance does).
  void SwitchPersonality(std::size_t index);

  // Writes the HEX files named in the configuration now.
  void WriteOutputs() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The key the updater's frames carry: 0 when off, else base plus the constant.
constexpr std::uint8_t FrameKey(std::uint8_t base, bool on, std::uint8_t constant) {
  return on ? static_cast<std::uint8_t>(base + constant) : 0;
}

// One transcript line in the JSON-lines form of the transcript file.
std::string ToJsonLine(const FrameRecord& record);

// The port map folder the updater reads when none is given.
std::string DefaultPortDir();

}  // namespace kestovane::sim
