// Intel HEX as the PIC toolchains write it, read into a sparse memory that
// remembers where every byte came from, so later checks can point at the
// record that caused them.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace kestovane::fwbuild {

// A firmware input that cannot be used. The message starts with
// "<file>:<line>: " so that editors and the build log lead straight to it.
class FirmwareError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Builds the message of a FirmwareError for a place in an input file.
[[noreturn]] void Fail(const std::string& file, int line, const std::string& what);

struct HexCell {
  uint8_t value;
  int source;  // index into HexMemory::Sources()
  int line;
};

// The bytes of one or more HEX files by HEX address (32-bit, after extended
// address records). A byte given twice, in the same file or across files, is
// an error: the image would depend on the order of the records.
class HexMemory {
 public:
  // `name` is how messages name the text (usually its path).
  void AddHexText(std::string_view text, const std::string& name);
  void AddHexFile(const std::filesystem::path& path);

  const std::map<uint32_t, HexCell>& Cells() const { return cells_; }
  const std::vector<std::string>& Sources() const { return sources_; }
  // "<file>:<line>" of a cell, for messages.
  std::string PlaceOf(const HexCell& cell) const;

 private:
  std::map<uint32_t, HexCell> cells_;
  std::vector<std::string> sources_;
};

// Reads a whole file as text; a missing or unreadable file is a FirmwareError
// that names `mentionedAt` (the line that asked for it) when given.
std::string ReadTextFile(const std::filesystem::path& path, const std::string& mentionedAt = {});

}  // namespace kestovane::fwbuild
