// The simulator's end of the serial line: a pseudo-terminal it creates, or a
// tty it is given. Both are plain file descriptors in raw mode.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace kestovane::sim {

class Line {
 public:
  virtual ~Line() = default;
  virtual int Fd() const = 0;
  // What the updater opens.
  virtual std::string DevicePath() const = 0;
  // Bytes read, 0 for none waiting, -1 when the line is gone.
  virtual long Read(std::uint8_t* buffer, std::size_t size) = 0;
  // Writes all bytes (waiting while the line is full); false when the line is gone.
  virtual bool Write(const std::uint8_t* bytes, std::size_t size) = 0;
  virtual void Close() = 0;
};

// Throw std::runtime_error with the reason when the line cannot be opened.
std::unique_ptr<Line> OpenPseudoTerminal();
std::unique_ptr<Line> OpenTty(const std::string& path);

}  // namespace kestovane::sim
