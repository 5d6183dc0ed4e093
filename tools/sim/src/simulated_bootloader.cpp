#include "sim/simulated_bootloader.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <stdexcept>

#include "frame_splitter.h"
#include "line.h"
#include "sim/intel_hex.h"

namespace kestovane::sim {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint8_t kAck = 'K';
constexpr std::uint8_t kNak = 'N';
constexpr std::size_t kInfoTextLength = 24;
// Bytes of a frame that was found malformed keep being dropped until the
// line has been quiet this long, so its tail is not read as new frames.
constexpr auto kResyncGap = std::chrono::milliseconds(20);

std::string HexBytes(const std::vector<std::uint8_t>& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (std::uint8_t b : bytes) {
    out += digits[b >> 4];
    out += digits[b & 0xF];
  }
  return out;
}

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned char>(c));
      out += buf;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string WithIndex(const std::string& path, std::size_t index) {
  if (index == 0 || path.empty()) return path;
  const auto slash = path.find_last_of('/');
  const auto dot = path.find_last_of('.');
  const bool hasExt = dot != std::string::npos && (slash == std::string::npos || dot > slash);
  const std::string stem = hasExt ? path.substr(0, dot) : path;
  const std::string ext = hasExt ? path.substr(dot) : "";
  return stem + "." + std::to_string(index) + ext;
}

bool MakeDirs(const std::string& dir) {
  std::string partial;
  for (std::size_t i = 0; i <= dir.size(); ++i) {
    if (i == dir.size() || (dir[i] == '/' && i > 0)) {
      partial = dir.substr(0, i);
      if (::mkdir(partial.c_str(), 0755) != 0 && errno != EEXIST) return false;
    }
  }
  return true;
}

// One device of the personality list with its memories and session state.
struct Device {
  Personality personality;
  std::optional<FamilyLayout> layout;
  std::vector<std::uint8_t> flash;
  std::vector<std::uint8_t> eeprom;
  // EEPROM frames carry only the low byte of their index: the page is
  // counted from the wrap of that byte, so 1024-byte EEPROMs fill up whole.
  std::uint32_t eepromPage = 0;
  int lastEepromIndex = -1;
  bool accessGranted = false;
  bool fixWritten = false;
  // How far the run begun by the last handshake or entry byte has come.
  RunProgress run;

  explicit Device(const Personality& p) : personality(p), layout(LayoutFor(p.deviceCode, p.version)) {
    if (layout) flash.assign(layout->flashBytes(), 0xFF);
    const std::uint16_t eepromSize =
        p.eepromSize ? *p.eepromSize : (layout ? layout->family->eepromSize : 0);
    eeprom.assign(eepromSize, 0xFF);
  }

  void BeginSession() {
    eepromPage = 0;
    lastEepromIndex = -1;
    accessGranted = false;
    run = {};
  }

  bool SendsInfoRecord() const {
    if (personality.sendInfoRecord) return *personality.sendInfoRecord;
    return personality.version >= 8 && personality.version <= 31;
  }
};

// What the device does with one frame: the answer and the transcript entry.
struct Outcome {
  std::optional<std::uint8_t> reply;
  bool written = false;
  Clock::duration writeTime{};
};

}  // namespace

std::string DefaultPortDir() {
  if (const char* dir = std::getenv("KESTOVANE_PORT_DIR"); dir && *dir) return dir;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg) return std::string(xdg) + "/kestovane/ports";
  const char* home = std::getenv("HOME");
  return std::string(home ? home : ".") + "/.config/kestovane/ports";
}

std::string ToJsonLine(const FrameRecord& r) {
  char time[64];
  std::string out = "{\"dir\":";
  out += r.direction == Direction::Received ? "\"rx\"" : "\"tx\"";
  std::snprintf(time, sizeof time, ",\"t\":%.6f", r.time);
  out += time;
  out += ",\"kind\":" + JsonString(r.kind);
  out += ",\"frame\":" + std::to_string(r.frame);
  out += ",\"addr\":" + (r.address < 0 ? std::string("null") : std::to_string(r.address));
  out += ",\"bytes\":\"" + HexBytes(r.bytes) + "\"";
  out += ",\"reply\":" + JsonString(r.reply);
  if (r.replyTime >= 0) {
    std::snprintf(time, sizeof time, ",\"reply_t\":%.6f", r.replyTime);
    out += time;
  } else {
    out += ",\"reply_t\":null";
  }
  out += ",\"note\":" + JsonString(r.note);
  out += ",\"personality\":" + std::to_string(r.personality) + "}";
  return out;
}

struct SimulatedBootloader::Impl {
  SimConfig config;

  // Guards everything the accessors read: devices, counters, transcript.
  mutable std::mutex mu;
  mutable std::condition_variable changed;
  std::vector<Device> devices;
  std::size_t current = 0;
  Counters counters;
  std::vector<FrameRecord> transcript;
  std::ofstream transcriptFile;
  std::optional<Clock::time_point> lastProgrammingFrame;

  // Owned by the serving thread.
  std::unique_ptr<Line> line;
  std::string linkPath;
  int wake[2] = {-1, -1};
  std::atomic<bool> stopRequested{false};
  std::thread thread;
  Clock::time_point start;
  Clock::time_point lastByte;
  Clock::time_point rxLineFree;  // when the last received byte has crossed the paced line
  Clock::time_point txLineFree;
  std::vector<std::uint8_t> pending;
  std::vector<std::uint8_t> noiseRun;
  bool resyncing = false;
  std::uint32_t frameNumber = 0;
  std::vector<std::uint8_t> lastFrameBytes;
  std::optional<std::uint8_t> lastFrameReply;
  std::vector<std::uint32_t> refusalsDone;  // per fault
  std::vector<bool> silenceDone;
  std::mutex sleepMu;
  std::condition_variable sleepCv;
  bool opened = false;

  explicit Impl(SimConfig c) : config(std::move(c)) {
    if (config.personalities.empty()) throw std::invalid_argument("the simulator needs at least one personality");
    for (const auto& p : config.personalities) devices.emplace_back(p);
    refusalsDone.assign(config.faults.size(), 0);
    silenceDone.assign(config.faults.size(), false);
  }

  double Seconds(Clock::time_point t) const { return std::chrono::duration<double>(t - start).count(); }

  // ---- opening and closing the line ----

  void Open() {
    if (opened) throw std::runtime_error("the simulator is already running");
    try {
      OpenLine();
    } catch (...) {
      // A half-opened line leaves no link or descriptor behind.
      if (line) RemoveLink();
      line.reset();
      for (int& fd : wake) {
        if (fd >= 0) ::close(fd);
        fd = -1;
      }
      throw;
    }
    start = lastByte = rxLineFree = txLineFree = Clock::now();
    stopRequested = false;
    opened = true;
  }

  void OpenLine() {
    if (config.ttyPath.empty()) {
      line = OpenPseudoTerminal();
      if (config.comNumber != 0) MakeLink();
    } else {
      line = OpenTty(config.ttyPath);
    }
    if (::pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) throw std::runtime_error("pipe: " + std::string(std::strerror(errno)));
    if (!config.transcriptPath.empty()) {
      transcriptFile.open(config.transcriptPath, std::ios::trunc);
      if (!transcriptFile) throw std::runtime_error("cannot write the transcript " + config.transcriptPath);
    }
  }

  void MakeLink() {
    if (config.comNumber < 1 || config.comNumber > 257)
      throw std::runtime_error("COM number " + std::to_string(config.comNumber) + " is outside 1..257");
    const std::string dir = config.portDir.empty() ? DefaultPortDir() : config.portDir;
    if (!MakeDirs(dir)) throw std::runtime_error("cannot create the port map folder " + dir);
    const std::string path = dir + "/COM" + std::to_string(config.comNumber);
    struct stat st{};
    if (::lstat(path.c_str(), &st) == 0) {
      // Only a stale link of an earlier run may be replaced; a real file is someone else's.
      if (!S_ISLNK(st.st_mode)) throw std::runtime_error(path + " exists and is not a link");
      ::unlink(path.c_str());
    }
    if (::symlink(line->DevicePath().c_str(), path.c_str()) != 0)
      throw std::runtime_error("cannot link " + path + ": " + std::strerror(errno));
    linkPath = path;
  }

  void RemoveLink() {
    if (linkPath.empty()) return;
    char target[512];
    const ssize_t n = ::readlink(linkPath.c_str(), target, sizeof target - 1);
    // Leave the link alone if another simulator has taken the name meanwhile.
    if (n > 0 && std::string(target, static_cast<std::size_t>(n)) == line->DevicePath()) ::unlink(linkPath.c_str());
    linkPath.clear();
  }

  void Close() {
    if (!opened) return;
    WriteOutputs();
    RemoveLink();
    line->Close();
    for (int& fd : wake) {
      if (fd >= 0) ::close(fd);
      fd = -1;
    }
    transcriptFile.close();
    opened = false;
  }

  void WriteOutputs() const {
    std::vector<std::vector<std::uint8_t>> flash, eeprom;
    {
      std::lock_guard lock(mu);
      for (const auto& d : devices) {
        flash.push_back(d.flash);
        eeprom.push_back(d.eeprom);
      }
    }
    auto write = [](const std::string& path, const std::string& text) {
      std::ofstream out(path, std::ios::trunc);
      out << text;
      if (!out) std::fprintf(stderr, "kestovane-sim: cannot write %s\n", path.c_str());
    };
    for (std::size_t i = 0; i < devices.size(); ++i) {
      if (!config.flashHexPath.empty()) write(WithIndex(config.flashHexPath, i), ToIntelHex(flash[i]));
      if (!config.eepromHexPath.empty()) write(WithIndex(config.eepromHexPath, i), ToIntelHex(eeprom[i]));
    }
  }

  // ---- waiting that Stop can cut short ----

  // Sleeps most of the way and spins the last stretch: a timed sleep wakes
  // tens of microseconds late, which at ~95 us a byte would make the line
  // slower than the one being played.
  void SleepUntil(Clock::time_point until) {
    constexpr auto kSpin = std::chrono::microseconds(150);
    if (until - Clock::now() > kSpin) {
      std::unique_lock lock(sleepMu);
      sleepCv.wait_until(lock, until - kSpin, [&] { return stopRequested.load(); });
    }
    while (Clock::now() < until && !stopRequested.load()) {
    }
  }

  void RequestStop() {
    stopRequested = true;
    if (wake[1] >= 0) {
      const char c = 0;
      [[maybe_unused]] auto n = ::write(wake[1], &c, 1);
    }
    sleepCv.notify_all();
  }

  // ---- sending ----

  // Everything a reply changes is recorded before its bytes go out, so whoever
  // has read the reply finds it in the counters and the transcript.
  void Send(const std::vector<std::uint8_t>& bytes) {
    if (bytes.empty()) return;
    {
      std::lock_guard lock(mu);
      counters.bytesSent += bytes.size();
    }
    if (!config.paceLine) {
      line->Write(bytes.data(), bytes.size());
    } else {
      // A byte is there for the updater once its stop bits are on the line.
      // The answer cannot start before the frame it answers has crossed the line.
      for (std::uint8_t b : bytes) {
        txLineFree = std::max({txLineFree, rxLineFree, Clock::now()}) + config.byteTime;
        SleepUntil(txLineFree);
        line->Write(&b, 1);
      }
    }
  }

  void Record(FrameRecord record) {
    std::lock_guard lock(mu);
    record.personality = current;
    if (transcriptFile.is_open()) transcriptFile << ToJsonLine(record) << '\n' << std::flush;
    transcript.push_back(std::move(record));
    changed.notify_all();
  }

  void SendRecorded(const char* kind, const std::vector<std::uint8_t>& bytes) {
    FrameRecord r;
    r.direction = Direction::Sent;
    r.time = Seconds(Clock::now());
    r.kind = kind;
    r.bytes = bytes;
    Record(std::move(r));
    Send(bytes);
  }

  // ---- serving ----

  void Loop() {
    // Paced bytes are ~95 us apart; the default 50 us timer slack would
    // stretch every sleep by half a byte.
    prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0);
    std::vector<std::uint8_t> buffer(4096);
    while (!stopRequested) {
      pollfd fds[2] = {{line->Fd(), POLLIN, 0}, {wake[0], POLLIN, 0}};
      const int ready = ::poll(fds, 2, 10);
      if (stopRequested) break;
      const auto now = Clock::now();
      if (ready > 0 && (fds[0].revents & (POLLIN | POLLHUP | POLLERR))) {
        const long n = line->Read(buffer.data(), buffer.size());
        if (n < 0) {
          LineLost("the line closed");
          break;
        }
        if (n > 0 && !Receive(buffer.data(), static_cast<std::size_t>(n), now)) break;
      }
      ExpireIncomplete(Clock::now());
    }
  }

  void LineLost(const char* why) {
    std::lock_guard lock(mu);
    counters.lineDropped = true;
    changed.notify_all();
  }

  // Returns false once the line has been dropped on purpose.
  bool Receive(const std::uint8_t* bytes, std::size_t n, Clock::time_point now) {
    bool drop = false;
    {
      std::lock_guard lock(mu);
      if (config.dropAfterBytes > 0 && counters.bytesReceived + n >= config.dropAfterBytes) {
        n = static_cast<std::size_t>(config.dropAfterBytes - counters.bytesReceived);
        drop = true;
      }
      counters.bytesReceived += n;
    }
    // The tail of a malformed frame is thrown away until the line goes quiet.
    if (resyncing && now - lastByte < kResyncGap) {
      lastByte = now;
      std::lock_guard lock(mu);
      counters.noiseBytes += static_cast<std::uint32_t>(n);
      if (!drop) return true;
      n = 0;
    }
    resyncing = false;
    lastByte = now;
    if (config.paceLine && n > 0) {
      // The bytes the updater wrote at once take their time to cross the line.
      // Nothing is slept here: whatever answers them waits for rxLineFree, so
      // a frame and its answer cost one sleep, not two.
      rxLineFree = std::max(rxLineFree, now) + config.byteTime * static_cast<long>(n);
    }
    pending.insert(pending.end(), bytes, bytes + n);
    ProcessPending();
    if (drop) {
      FlushNoise();
      FrameRecord r;
      r.time = Seconds(Clock::now());
      r.kind = "drop";
      r.note = "line closed after " + std::to_string(config.dropAfterBytes) + " bytes";
      Record(std::move(r));
      line->Close();
      LineLost("dropped on purpose");
      return false;
    }
    return true;
  }

  void ExpireIncomplete(Clock::time_point now) {
    if (now - lastByte < config.partialFrameTimeout) return;
    FlushNoise();
    if (pending.empty()) return;
    FrameRecord r;
    r.time = Seconds(now);
    r.kind = "partial";
    r.bytes = pending;
    r.note = "incomplete frame dropped after a quiet line";
    pending.clear();
    {
      std::lock_guard lock(mu);
      ++counters.partialFrames;
    }
    Record(std::move(r));
  }

  SplitRules Rules() const {
    std::lock_guard lock(mu);
    const auto& layout = devices[current].layout;
    if (!layout) return SplitRules{.headerLength = 4, .blockSize = 255};
    return SplitRules{.headerLength = layout->headerLength, .blockSize = layout->family->blockSize};
  }

  void ProcessPending() {
    std::size_t used = 0;
    while (used < pending.size() && !stopRequested) {
      const auto split = SplitNext(std::span(pending).subspan(used), Rules());
      if (!split) break;
      std::vector<std::uint8_t> frame(pending.begin() + used, pending.begin() + used + split->length);
      used += split->length;
      if (split->kind == FrameKind::Noise) {
        noiseRun.push_back(frame[0]);
        std::lock_guard lock(mu);
        ++counters.noiseBytes;
        continue;
      }
      FlushNoise();
      Handle(split->kind, frame);
      if (split->kind == FrameKind::Malformed) {
        // Whatever followed the bad header in this read is part of it.
        std::lock_guard lock(mu);
        counters.noiseBytes += static_cast<std::uint32_t>(pending.size() - used);
        used = pending.size();
        resyncing = true;
      }
    }
    pending.erase(pending.begin(), pending.begin() + static_cast<long>(used));
  }

  void FlushNoise() {
    if (noiseRun.empty()) return;
    FrameRecord r;
    r.time = Seconds(Clock::now());
    r.kind = "noise";
    r.bytes = std::move(noiseRun);
    r.note = "bytes that begin no known frame";
    noiseRun.clear();
    Record(std::move(r));
  }

  void Handle(FrameKind kind, const std::vector<std::uint8_t>& frame) {
    switch (kind) {
      case FrameKind::Handshake: HandleHandshake(frame); break;
      case FrameKind::Entry: HandleEntry(frame); break;
      case FrameKind::Memory:
      case FrameKind::Eeprom: HandleProgrammingFrame(kind, frame); break;
      case FrameKind::Access: HandleAccess(frame); break;
      case FrameKind::Command: HandleCommand(frame); break;
      case FrameKind::Malformed: {
        FrameRecord r;
        r.time = Seconds(Clock::now());
        r.kind = "malformed";
        r.bytes = frame;
        r.note = "length field the family cannot take";
        Reply(r, kNak, {});
        break;
      }
      case FrameKind::Noise: break;
    }
  }

  void HandleHandshake(const std::vector<std::uint8_t>& frame) {
    FrameRecord r;
    r.time = Seconds(Clock::now());
    r.kind = "handshake";
    r.bytes = frame;
    const auto& set = config.handshakeBytes;
    if (std::find(set.begin(), set.end(), frame[0]) == set.end()) {
      r.note = "handshake byte not answered by this device";
      Record(std::move(r));
      return;
    }
    std::vector<std::uint8_t> identity, info;
    {
      std::lock_guard lock(mu);
      const std::uint32_t number = ++counters.handshakes;
      if (number < config.answerFromHandshake) {
        r.note = "quiet until handshake " + std::to_string(config.answerFromHandshake);
      } else {
        // A device that was programmed hands the line to the next one.
        if (devices[current].personality.advance == Advance::AfterProgramming &&
            devices[current].fixWritten && current + 1 < devices.size()) {
          ++current;
          counters.personality = current;
        }
        Device& d = devices[current];
        d.BeginSession();
        const Personality& p = d.personality;
        if (p.identityRecord) identity = {'V', p.version, p.deviceCode, p.printCode, p.preparationCode, kAck};
        else identity = {p.deviceCode, kAck};
        if (d.SendsInfoRecord()) info = InfoRecord(p);
        ++counters.handshakesAnswered;
      }
    }
    if (identity.empty()) {
      Record(std::move(r));
      return;
    }
    r.reply = "K";
    r.replyTime = Seconds(Clock::now());
    Record(std::move(r));
    SendRecorded("identity", identity);
    if (!info.empty()) {
      if (config.infoDelay.count() > 0) SleepUntil(Clock::now() + config.infoDelay);
      {
        std::lock_guard lock(mu);
        ++counters.infoRecords;
      }
      SendRecorded("info", info);
    }
  }

  static std::vector<std::uint8_t> InfoRecord(const Personality& p) {
    // 'R', data length, one byte the updater skips, text, range, closing 'K'.
    std::vector<std::uint8_t> record{'R', 28, 0x00};
    for (std::size_t i = 0; i < kInfoTextLength; ++i)
      record.push_back(i < p.infoText.size() ? static_cast<std::uint8_t>(p.infoText[i]) : ' ');
    record.push_back(static_cast<std::uint8_t>(p.protectedStart & 0xFF));
    record.push_back(static_cast<std::uint8_t>(p.protectedStart >> 8));
    record.push_back(static_cast<std::uint8_t>(p.protectedCount & 0xFF));
    record.push_back(static_cast<std::uint8_t>(p.protectedCount >> 8));
    record.push_back(kAck);
    return record;
  }

  void HandleEntry(const std::vector<std::uint8_t>& frame) {
    FrameRecord r;
    r.time = Seconds(Clock::now());
    r.kind = "entry";
    r.bytes = frame;
    {
      std::lock_guard lock(mu);
      ++counters.entries;
      devices[current].BeginSession();
    }
    Reply(r, kAck, {});
  }

  static bool SpecialSumOk(const std::vector<std::uint8_t>& frame) {
    unsigned sum = 0;
    for (std::size_t i = 0; i + 2 < frame.size(); ++i) sum += frame[i];
    const unsigned stated = frame[frame.size() - 2] << 8 | frame[frame.size() - 1];
    return (sum & 0xFFFF) == stated;
  }

  void HandleAccess(const std::vector<std::uint8_t>& frame) {
    FrameRecord r;
    r.time = Seconds(Clock::now());
    r.kind = "access";
    r.bytes = frame;
    const std::string text(frame.begin() + 2, frame.begin() + 17);
    const bool ok = SpecialSumOk(frame) && text == config.accessString;
    {
      std::lock_guard lock(mu);
      ++counters.accessFrames;
      devices[current].accessGranted = ok;
    }
    if (!ok) r.note = SpecialSumOk(frame) ? "wrong access string" : "16-bit sum does not match";
    Reply(r, ok ? kAck : kNak, {});
  }

  void HandleCommand(const std::vector<std::uint8_t>& frame) {
    FrameRecord r;
    r.time = Seconds(Clock::now());
    r.kind = frame[0] == 0x04 ? "command4" : "command";
    r.bytes = frame;
    bool ok = SpecialSumOk(frame);
    {
      std::lock_guard lock(mu);
      ++counters.command4Frames;
      if (!ok) {
        r.note = "16-bit sum does not match";
      } else if (!devices[current].accessGranted) {
        ok = false;
        r.note = "no access frame before";
      }
    }
    // The answer is recorded under the device that took the command; command 4
    // then hands the line on to the next device of the list.
    Reply(r, ok ? kAck : kNak, {}, [&] {
      std::lock_guard lock(mu);
      if (ok && devices[current].personality.advance == Advance::OnCommand4 && current + 1 < devices.size()) {
        ++current;
        counters.personality = current;
        changed.notify_all();
      }
    });
  }

  // Numbers a reception: a byte-identical resend of a refused frame keeps its number.
  std::uint32_t NumberFrame(const std::vector<std::uint8_t>& frame) {
    const bool resend = lastFrameReply == kNak && frame == lastFrameBytes;
    if (!resend) ++frameNumber;
    lastFrameBytes = frame;
    return frameNumber;
  }

  void HandleProgrammingFrame(FrameKind kind, const std::vector<std::uint8_t>& frame) {
    FrameRecord r;
    r.time = Seconds(Clock::now());
    {
      std::lock_guard lock(mu);
      lastProgrammingFrame = Clock::now();
    }
    r.bytes = frame;
    r.frame = NumberFrame(frame);
    Outcome outcome;
    {
      std::lock_guard lock(mu);
      ++counters.frames;
      outcome = Decide(kind, frame, r);
      if (outcome.reply == kAck) ++counters.accepted;
      else if (outcome.reply == kNak) ++counters.refused;
      else ++counters.unanswered;
    }
    lastFrameReply = outcome.reply;
    if (!outcome.reply) {
      Record(std::move(r));
      return;
    }
    const bool fix = r.kind == "fix";
    Reply(r, *outcome.reply, outcome.writeTime, [&] {
      if (outcome.written) CountAcknowledged(kind, fix);
    });
  }

  // A run counts a frame once the write time has passed and the 'K' is about
  // to go out, so that whoever has read the 'K' finds the run counted; who
  // stops the simulator on a complete run leaves the 'K' time to arrive.
  void CountAcknowledged(FrameKind kind, bool fix) {
    std::lock_guard lock(mu);
    RunProgress& run = devices[current].run;
    if (fix) {
      run.fixAcknowledged = true;
      run.eepromAcknowledged = 0;
    } else if (kind == FrameKind::Eeprom && run.fixAcknowledged) {
      ++run.eepromAcknowledged;
    }
    changed.notify_all();
  }

  // Checks, faults and guards of one block, last, Fix or EEPROM frame, in
  // the order a device meets them. Called with the state lock held.
  Outcome Decide(FrameKind kind, const std::vector<std::uint8_t>& frame, FrameRecord& r) {
    Device& d = devices[current];
    const bool eeprom = kind == FrameKind::Eeprom;
    r.kind = eeprom ? "eeprom" : "block";
    std::uint8_t sum = 0;
    for (std::uint8_t b : frame) sum = static_cast<std::uint8_t>(sum + b);

    // Decode first so that the transcript names the address even of refused frames.
    std::uint32_t address = 0, length = 0, header = 0;
    if (eeprom) {
      const std::uint8_t index = frame[1];
      if (d.lastEepromIndex >= 0 && index < d.lastEepromIndex) ++d.eepromPage;
      d.lastEepromIndex = index;
      address = d.eepromPage * 256 + index;
      length = 1;
    } else {
      header = d.layout ? d.layout->headerLength : 4;
      address = static_cast<std::uint32_t>(frame[0] << 16 | frame[1] << 8 | frame[2]);
      length = header == 4 ? frame[3] : static_cast<std::uint32_t>(frame[3] << 8 | frame[4]);
      if (d.layout && address == d.layout->codeLimit) r.kind = "fix";
      else if (d.layout && length < d.layout->family->blockSize) r.kind = "last";
    }
    r.address = address;

    if (sum != 0) {
      ++counters.checksumErrors;
      r.note = "checksum";
      return {kNak};
    }
    for (std::size_t i = 0; i < config.faults.size(); ++i) {
      const Fault& f = config.faults[i];
      if (f.frame != r.frame && f.frame != 0) continue;
      if (f.kind == FaultKind::Silent && !silenceDone[i]) {
        silenceDone[i] = f.frame != 0;
        r.note = "fault: silent";
        return {};
      }
      if (f.kind == FaultKind::Refuse && refusalsDone[i] < f.times) {
        if (f.frame != 0) ++refusalsDone[i];
        r.note = "fault: refused";
        return {kNak};
      }
    }
    if (!d.layout) {
      r.note = "unknown device code";
      return {kNak};
    }
    return eeprom ? WriteEeprom(d, frame, address, r) : WriteFlash(d, frame, address, length, header, r);
  }

  Outcome WriteEeprom(Device& d, const std::vector<std::uint8_t>& frame, std::uint32_t address, FrameRecord& r) {
    if (d.eeprom.empty()) {
      r.note = "no EEPROM on this device";
      ++counters.guardRefusals;
      return {kNak};
    }
    if (address >= d.eeprom.size()) {
      r.note = "past the end of the EEPROM";
      ++counters.guardRefusals;
      return {kNak};
    }
    const std::uint8_t key = config.eepromKeyed ? FrameKey(frame[1], config.scramble, config.keyConstant) : 0;
    d.eeprom[address] = frame[2] ^ key;
    ++counters.eepromFrames;
    return {kAck, true, config.eepromWriteTime};
  }

  Outcome WriteFlash(Device& d, const std::vector<std::uint8_t>& frame, std::uint32_t address,
                     std::uint32_t length, std::uint32_t header, FrameRecord& r) {
    const FamilyLayout& layout = *d.layout;
    const std::uint32_t unit = layout.family->addressUnit;
    const std::uint32_t end = address + (length + unit - 1) / unit;  // first address past the data
    const Personality& p = d.personality;
    if (end > layout.family->flashEnd) {
      r.note = "past the end of the flash";
      ++counters.guardRefusals;
      return {kNak};
    }
    if (end > layout.bootStart) {
      r.note = "bootloader region";
      ++counters.guardRefusals;
      return {kNak};
    }
    if (config.guardProtectedRange && p.protectedStart != 0 && address < p.protectedStart + p.protectedCount &&
        end > p.protectedStart) {
      r.note = "protected range";
      ++counters.guardRefusals;
      return {kNak};
    }
    // The data travel keyed with the low byte of the frame's address.
    const std::uint8_t key = FrameKey(static_cast<std::uint8_t>(address), config.scramble, config.keyConstant);
    for (std::uint32_t i = 0; i < length; ++i) d.flash[address * unit + i] = frame[header + i] ^ key;
    ++counters.flashFrames;
    if (r.kind == "fix") {
      ++counters.fixFrames;
      d.fixWritten = true;
    }
    return {kAck, true, config.flashWriteTime};
  }

  // Sends the answer with the delays and noise the faults ask for, and records the frame.
  // `beforeSend` runs after the record and before the answer goes out.
  void Reply(FrameRecord& r, std::uint8_t reply, Clock::duration writeTime,
             const std::function<void()>& beforeSend = {}) {
    Clock::duration late{};
    std::vector<std::uint8_t> before, after;
    if (r.frame != 0) {
      for (const Fault& f : config.faults) {
        if (f.frame != r.frame && f.frame != 0) continue;
        if (f.kind == FaultKind::Late) late += f.delay;
        if (f.kind == FaultKind::NoiseBefore) before.insert(before.end(), f.noise.begin(), f.noise.end());
        if (f.kind == FaultKind::NoiseAfter) after.insert(after.end(), f.noise.begin(), f.noise.end());
      }
    }
    // The device writes once the whole frame has arrived.
    if (writeTime + late > Clock::duration::zero())
      SleepUntil(std::max(Clock::now(), config.paceLine ? rxLineFree : Clock::time_point{}) + writeTime + late);
    if (!before.empty()) SendRecorded("noise", before);
    r.reply = std::string(1, static_cast<char>(reply));
    r.replyTime = Seconds(Clock::now());
    if (late.count() != 0) r.note += r.note.empty() ? "fault: late" : ", late";
    Record(r);
    if (beforeSend) beforeSend();
    Send({reply});
    if (!after.empty()) SendRecorded("noise", after);
  }
};

SimulatedBootloader::SimulatedBootloader(SimConfig config) : impl_(std::make_unique<Impl>(std::move(config))) {}

SimulatedBootloader::~SimulatedBootloader() { Stop(); }

void SimulatedBootloader::Start() {
  impl_->Open();
  impl_->thread = std::thread([this] { impl_->Loop(); });
}

void SimulatedBootloader::Run() {
  impl_->Open();
  impl_->Loop();
  impl_->Close();
}

void SimulatedBootloader::RequestStop() { impl_->RequestStop(); }

void SimulatedBootloader::Stop() {
  impl_->RequestStop();
  if (impl_->thread.joinable()) impl_->thread.join();
  impl_->Close();
}

std::string SimulatedBootloader::DevicePath() const { return impl_->line ? impl_->line->DevicePath() : ""; }
std::string SimulatedBootloader::LinkPath() const { return impl_->linkPath; }

std::vector<std::uint8_t> SimulatedBootloader::Flash(std::size_t personality) const {
  std::lock_guard lock(impl_->mu);
  return impl_->devices.at(personality).flash;
}

std::vector<std::uint8_t> SimulatedBootloader::Eeprom(std::size_t personality) const {
  std::lock_guard lock(impl_->mu);
  return impl_->devices.at(personality).eeprom;
}

std::vector<std::uint8_t> SimulatedBootloader::FlashAt(std::uint32_t address, std::size_t byteCount,
                                                       std::size_t personality) const {
  std::lock_guard lock(impl_->mu);
  const Device& d = impl_->devices.at(personality);
  if (!d.layout) return {};
  const std::size_t from = static_cast<std::size_t>(address) * d.layout->family->addressUnit;
  if (from >= d.flash.size()) return {};
  const std::size_t n = std::min(byteCount, d.flash.size() - from);
  return {d.flash.begin() + static_cast<long>(from), d.flash.begin() + static_cast<long>(from + n)};
}

std::vector<FrameRecord> SimulatedBootloader::Transcript() const {
  std::lock_guard lock(impl_->mu);
  return impl_->transcript;
}

Counters SimulatedBootloader::GetCounters() const {
  std::lock_guard lock(impl_->mu);
  return impl_->counters;
}

RunProgress SimulatedBootloader::Progress(std::size_t personality) const {
  std::lock_guard lock(impl_->mu);
  return impl_->devices.at(personality).run;
}

std::optional<std::chrono::steady_clock::time_point> SimulatedBootloader::LastProgrammingFrame() const {
  std::lock_guard lock(impl_->mu);
  return impl_->lastProgrammingFrame;
}

FamilyLayout SimulatedBootloader::Layout(std::size_t personality) const {
  std::lock_guard lock(impl_->mu);
  const auto& layout = impl_->devices.at(personality).layout;
  if (!layout) throw std::out_of_range("the personality's device code has no family");
  return *layout;
}

bool SimulatedBootloader::WaitUntil(const std::function<bool(const Counters&)>& predicate, Micros timeout) const {
  std::unique_lock lock(impl_->mu);
  return impl_->changed.wait_for(lock, timeout, [&] { return predicate(impl_->counters); });
}

void SimulatedBootloader::SwitchPersonality(std::size_t index) {
  std::lock_guard lock(impl_->mu);
  if (index >= impl_->devices.size()) throw std::out_of_range("no such personality");
  impl_->current = index;
  impl_->counters.personality = index;
  impl_->changed.notify_all();
}

void SimulatedBootloader::WriteOutputs() const { impl_->WriteOutputs(); }

}  // namespace kestovane::sim
