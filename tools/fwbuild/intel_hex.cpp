#include "fwbuild/intel_hex.h"

#include <cstdio>
#include <fstream>
#include <sstream>

namespace kestovane::fwbuild {

namespace {

enum RecordType : uint8_t {
  kData = 0x00,
  kEndOfFile = 0x01,
  kExtendedSegmentAddress = 0x02,
  kStartSegmentAddress = 0x03,
  kExtendedLinearAddress = 0x04,
  kStartLinearAddress = 0x05,
};

// Byte count, two address bytes, type and checksum: the smallest record.
constexpr size_t kRecordOverhead = 5;

std::string Hex(uint32_t v, int digits) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%0*X", digits, v);
  return buf;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.back() == '\r' || s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  return s;
}

// Turns the hexadecimal text after ':' into bytes, refusing anything else.
std::vector<uint8_t> DecodeRecord(std::string_view digits, const std::string& name, int line) {
  for (size_t i = 0; i < digits.size(); ++i) {
    if (HexDigit(digits[i]) < 0) {
      const unsigned char c = static_cast<unsigned char>(digits[i]);
      char shown[16];
      if (c >= 0x20 && c < 0x7F)
        std::snprintf(shown, sizeof shown, "'%c'", c);
      else
        std::snprintf(shown, sizeof shown, "byte 0x%02X", c);
      Fail(name, line, std::string("character ") + shown + " at column " + std::to_string(i + 2) +
                           " is not hexadecimal");
    }
  }
  if (digits.size() % 2 != 0) Fail(name, line, "record has an odd number of hexadecimal digits");
  std::vector<uint8_t> bytes(digits.size() / 2);
  for (size_t i = 0; i < bytes.size(); ++i)
    bytes[i] = static_cast<uint8_t>(HexDigit(digits[2 * i]) * 16 + HexDigit(digits[2 * i + 1]));
  return bytes;
}

}  // namespace

void Fail(const std::string& file, int line, const std::string& what) {
  throw FirmwareError(file + ":" + std::to_string(line) + ": " + what);
}

std::string HexMemory::PlaceOf(const HexCell& cell) const {
  return sources_.at(static_cast<size_t>(cell.source)) + ":" + std::to_string(cell.line);
}

void HexMemory::AddHexText(std::string_view text, const std::string& name) {
  const int source = static_cast<int>(sources_.size());
  sources_.push_back(name);

  uint32_t base = 0;  // from the last extended address record
  bool ended = false;
  int line = 0;
  while (!text.empty()) {
    // Split off one line; "\r\n" and "\n" both end it.
    const size_t eol = text.find('\n');
    std::string_view raw = text.substr(0, eol);
    text = eol == std::string_view::npos ? std::string_view{} : text.substr(eol + 1);
    ++line;

    const std::string_view record = Trim(raw);
    if (record.empty()) continue;
    if (ended) Fail(name, line, "record after the end record");
    if (record.front() != ':') Fail(name, line, "a record must start with ':'");

    const std::vector<uint8_t> bytes = DecodeRecord(record.substr(1), name, line);
    if (bytes.size() < kRecordOverhead)
      Fail(name, line, "record too short: " + std::to_string(bytes.size()) + " bytes, at least 5 needed");

    // The byte count must agree with what the record really holds.
    const size_t count = bytes[0];
    const size_t held = bytes.size() - kRecordOverhead;
    if (count != held)
      Fail(name, line, "record length " + std::to_string(count) + " disagrees with the " +
                           std::to_string(held) + " data bytes the record holds");

    // All bytes, the checksum included, add up to 0 modulo 256.
    uint8_t sum = 0;
    for (uint8_t b : bytes) sum = static_cast<uint8_t>(sum + b);
    if (sum != 0) {
      const uint8_t given = bytes.back();
      const uint8_t expected = static_cast<uint8_t>(given - sum);
      Fail(name, line, "checksum " + Hex(given, 2) + " does not match, the record needs " + Hex(expected, 2));
    }

    const uint16_t offset = static_cast<uint16_t>(bytes[1] << 8 | bytes[2]);
    const uint8_t type = bytes[3];
    const uint8_t* data = bytes.data() + 4;
    auto needLength = [&](size_t n) {
      if (count != n)
        Fail(name, line, "record type " + Hex(type, 2) + " needs " + std::to_string(n) + " data bytes, not " +
                             std::to_string(count));
    };

    switch (type) {
      case kData:
        for (size_t i = 0; i < count; ++i) {
          const uint32_t address = base + offset + static_cast<uint32_t>(i);
          const auto [it, inserted] = cells_.try_emplace(address, HexCell{data[i], source, line});
          if (!inserted)
            Fail(name, line, "data at HEX address " + Hex(address, 6) + " overlaps data given at " +
                                 PlaceOf(it->second));
        }
        break;
      case kEndOfFile:
        needLength(0);
        ended = true;
        break;
      case kExtendedSegmentAddress:
        needLength(2);
        base = static_cast<uint32_t>(data[0] << 8 | data[1]) << 4;
        break;
      case kExtendedLinearAddress:
        needLength(2);
        base = static_cast<uint32_t>(data[0] << 8 | data[1]) << 16;
        break;
      case kStartSegmentAddress:
      case kStartLinearAddress:
        // The bootloader decides where the application starts; a start
        // address only documents it.
        needLength(4);
        break;
      default:
        Fail(name, line, "unknown record type " + Hex(type, 2));
    }
  }
  if (!ended) Fail(name, line, "no end record (type 01)");
}

void HexMemory::AddHexFile(const std::filesystem::path& path) {
  AddHexText(ReadTextFile(path), path.string());
}

std::string ReadTextFile(const std::filesystem::path& path, const std::string& mentionedAt) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    const std::string what = "cannot read " + path.string();
    throw FirmwareError(mentionedAt.empty() ? what : mentionedAt + ": " + what);
  }
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace kestovane::fwbuild
