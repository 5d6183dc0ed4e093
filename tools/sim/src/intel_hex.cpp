#include "sim/intel_hex.h"

#include <cstdio>
#include <sstream>
#include <vector>

namespace kestovane::sim {
namespace {

void AppendRecord(std::string& out, std::uint16_t address, std::uint8_t type,
                  std::span<const std::uint8_t> data) {
  // The checksum makes all bytes of the record add up to zero.
  std::uint8_t sum = static_cast<std::uint8_t>(data.size() + (address >> 8) + (address & 0xFF) + type);
  char buf[16];
  std::snprintf(buf, sizeof buf, ":%02X%04X%02X", static_cast<unsigned>(data.size()), address, type);
  out += buf;
  for (std::uint8_t b : data) {
    std::snprintf(buf, sizeof buf, "%02X", b);
    out += buf;
    sum = static_cast<std::uint8_t>(sum + b);
  }
  std::snprintf(buf, sizeof buf, "%02X\n", static_cast<std::uint8_t>(-sum) & 0xFF);
  out += buf;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

std::string ToIntelHex(std::span<const std::uint8_t> bytes, std::uint32_t baseAddress) {
  std::string out;
  std::uint32_t upper = 0;
  constexpr std::size_t kLine = 16;
  for (std::size_t offset = 0; offset < bytes.size(); offset += kLine) {
    const std::size_t n = std::min(kLine, bytes.size() - offset);
    auto line = bytes.subspan(offset, n);
    // Erased flash needs no record: the programmer's view of blank is 0xFF.
    bool erased = true;
    for (std::uint8_t b : line) erased = erased && b == 0xFF;
    if (erased) continue;
    const std::uint32_t address = baseAddress + static_cast<std::uint32_t>(offset);
    if ((address >> 16) != upper) {
      upper = address >> 16;
      const std::uint8_t ela[2] = {static_cast<std::uint8_t>(upper >> 8), static_cast<std::uint8_t>(upper)};
      AppendRecord(out, 0, 0x04, ela);
    }
    // A line never crosses a 64 KiB boundary because the dump starts aligned.
    AppendRecord(out, static_cast<std::uint16_t>(address & 0xFFFF), 0x00, line);
  }
  AppendRecord(out, 0, 0x01, {});
  return out;
}

std::optional<std::map<std::uint32_t, std::uint8_t>> ParseIntelHex(const std::string& text,
                                                                    std::string* error) {
  auto fail = [&](int lineNo, const char* why) -> std::optional<std::map<std::uint32_t, std::uint8_t>> {
    if (error) *error = "line " + std::to_string(lineNo) + ": " + why;
    return std::nullopt;
  };
  std::map<std::uint32_t, std::uint8_t> memory;
  std::istringstream in(text);
  std::string line;
  std::uint32_t upper = 0;
  int lineNo = 0;
  bool ended = false;
  while (std::getline(in, line)) {
    ++lineNo;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    if (ended) return fail(lineNo, "data after the end record");
    if (line[0] != ':' || line.size() < 11 || (line.size() - 1) % 2 != 0) return fail(lineNo, "not a record");
    std::vector<std::uint8_t> rec;
    for (std::size_t i = 1; i < line.size(); i += 2) {
      const int hi = HexDigit(line[i]), lo = HexDigit(line[i + 1]);
      if (hi < 0 || lo < 0) return fail(lineNo, "not hexadecimal");
      rec.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
    }
    if (rec.size() != rec[0] + 5u) return fail(lineNo, "length does not match");
    std::uint8_t sum = 0;
    for (std::uint8_t b : rec) sum = static_cast<std::uint8_t>(sum + b);
    if (sum != 0) return fail(lineNo, "checksum");
    const std::uint16_t address = static_cast<std::uint16_t>(rec[1] << 8 | rec[2]);
    switch (rec[3]) {
      case 0x00:
        for (std::size_t i = 0; i < rec[0]; ++i) memory[(upper << 16) + address + i] = rec[4 + i];
        break;
      case 0x01: ended = true; break;
      case 0x04:
        if (rec[0] != 2) return fail(lineNo, "bad extended address");
        upper = static_cast<std::uint32_t>(rec[4] << 8 | rec[5]);
        break;
      default: break;  // other record types carry nothing a memory dump needs
    }
  }
  if (!ended) return fail(lineNo, "no end record");
  return memory;
}

}  // namespace kestovane::sim
