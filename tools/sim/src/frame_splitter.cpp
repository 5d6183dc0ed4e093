#include "frame_splitter.h"

namespace kestovane::sim {

std::optional<Split> SplitNext(std::span<const std::uint8_t> bytes, const SplitRules& rules) {
  if (bytes.empty()) return std::nullopt;
  const std::uint8_t first = bytes[0];
  switch (first) {
    case 0xC2: case 0xC5: case 0xC6: return Split{FrameKind::Handshake, 1};
    case 0xCC: return Split{FrameKind::Entry, 1};
    case 0x40:
      if (bytes.size() < kEepromFrameLength) return std::nullopt;
      return Split{FrameKind::Eeprom, kEepromFrameLength};
    case 0x04: {
      // command, payload length, payload, 16-bit sum
      if (bytes.size() < 2) return std::nullopt;
      const std::size_t length = 4u + bytes[1];
      if (bytes.size() < length) return std::nullopt;
      return Split{FrameKind::Command, length};
    }
    default: break;
  }
  if (first > 0x01) return Split{FrameKind::Noise, 1};
  // An access frame starts 0x00 0x0F 'T'; a block frame at 0x0Fxx would need
  // the unaligned low byte 0x54, which the updater never sends.
  if (first == 0x00) {
    if (bytes.size() < 3) return std::nullopt;
    if (bytes[1] == 0x0F && bytes[2] == 'T') {
      if (bytes.size() < kAccessFrameLength) return std::nullopt;
      return Split{FrameKind::Access, kAccessFrameLength};
    }
  }
  if (bytes.size() < rules.headerLength) return std::nullopt;
  const std::uint32_t length = rules.headerLength == 4 ? bytes[3] : (bytes[3] << 8 | bytes[4]);
  // A length the family cannot take leaves no way to find the frame's end.
  if (length == 0 || length > rules.blockSize) return Split{FrameKind::Malformed, rules.headerLength};
  const std::size_t total = rules.headerLength + length + 1;
  if (bytes.size() < total) return std::nullopt;
  return Split{FrameKind::Memory, total};
}

}  // namespace kestovane::sim
