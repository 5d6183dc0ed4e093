// Talks to the simulated bootloader through its pseudo-terminal with plain
// POSIX calls, the way the updater's port layer will.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sim/simulated_bootloader.h"

namespace kestovane::sim::simtest {

using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

inline Bytes WithChecksum(Bytes payload) {
  std::uint8_t sum = 0;
  for (std::uint8_t b : payload) sum = static_cast<std::uint8_t>(sum + b);
  payload.push_back(static_cast<std::uint8_t>(-sum));
  return payload;
}

// A block frame as the updater builds it, data already in travelling form.
inline Bytes MemoryFrame(std::uint32_t address, const Bytes& data, std::uint32_t headerLength) {
  Bytes f{static_cast<std::uint8_t>(address >> 16), static_cast<std::uint8_t>(address >> 8),
          static_cast<std::uint8_t>(address)};
  if (headerLength == 5) f.push_back(static_cast<std::uint8_t>(data.size() >> 8));
  f.push_back(static_cast<std::uint8_t>(data.size()));
  f.insert(f.end(), data.begin(), data.end());
  return WithChecksum(f);
}

inline Bytes EepromFrame(std::uint32_t index, std::uint8_t value) {
  return WithChecksum({0x40, static_cast<std::uint8_t>(index), value, 0x01, 0x00});
}

// Special-mode frame: command, length, payload, 16-bit sum high byte first.
inline Bytes SpecialFrame(std::uint8_t command, const std::string& payload) {
  Bytes f{command, static_cast<std::uint8_t>(payload.size())};
  for (char c : payload) f.push_back(static_cast<std::uint8_t>(c));
  unsigned sum = 0;
  for (std::uint8_t b : f) sum += b;
  f.push_back(static_cast<std::uint8_t>(sum >> 8));
  f.push_back(static_cast<std::uint8_t>(sum));
  return f;
}

inline Bytes Keyed(Bytes clear, std::uint32_t address, std::uint8_t constant) {
  for (auto& b : clear) b ^= FrameKey(static_cast<std::uint8_t>(address), true, constant);
  return clear;
}

class SimPort {
 public:
  explicit SimPort(SimConfig config) : sim_(std::make_unique<SimulatedBootloader>(std::move(config))) {
    sim_->Start();
    fd_ = ::open(sim_->DevicePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    EXPECT_GE(fd_, 0) << sim_->DevicePath();
  }
  ~SimPort() {
    if (fd_ >= 0) ::close(fd_);
    sim_->Stop();
  }

  SimulatedBootloader& sim() { return *sim_; }

  void Write(const Bytes& bytes) { ASSERT_EQ(::write(fd_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size())); }

  // Reads until `count` bytes came or `timeout` passed; fewer bytes mean silence.
  Bytes Read(std::size_t count, std::chrono::milliseconds timeout = 2000ms) {
    Bytes out;
    const auto until = std::chrono::steady_clock::now() + timeout;
    while (out.size() < count) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
      if (left.count() <= 0) break;
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
      std::uint8_t buf[512];
      const ssize_t n = ::read(fd_, buf, std::min(sizeof buf, count - out.size()));
      if (n <= 0) {
        lineGone_ = n == 0 || errno == EIO;
        if (lineGone_) break;
        continue;
      }
      out.insert(out.end(), buf, buf + n);
    }
    return out;
  }

  // Sends one frame and returns its one-byte answer, if any came.
  std::optional<std::uint8_t> Exchange(const Bytes& frame, std::chrono::milliseconds timeout = 2000ms) {
    Write(frame);
    const Bytes reply = Read(1, timeout);
    if (reply.empty()) return std::nullopt;
    return reply[0];
  }

  // The identity answer (and the info record when `infoExpected`).
  Bytes Handshake(std::uint8_t byte = 0xC2, std::size_t expected = 6) {
    Write({byte});
    return Read(expected);
  }

  // True when nothing more arrives within a short while.
  bool Quiet(std::chrono::milliseconds wait = 100ms) { return Read(1, wait).empty(); }

  bool LineGone() const { return lineGone_; }

 private:
  std::unique_ptr<SimulatedBootloader> sim_;
  int fd_ = -1;
  bool lineGone_ = false;
};

inline SimConfig ConfigFor(std::uint8_t deviceCode, std::uint8_t version = 9) {
  SimConfig c;
  c.personalities[0].deviceCode = deviceCode;
  c.personalities[0].version = version;
  c.keyConstant = 0x5A;
  c.partialFrameTimeout = 100ms;
  return c;
}

}  // namespace kestovane::sim::simtest
