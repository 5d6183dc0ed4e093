// Finds where one frame from the updater ends in the received byte stream.
// The first byte tells the kind: no block address reaches 0x020000, so the
// handshake bytes, the entry byte 0xCC, the EEPROM marker 0x40 and the
// special-mode commands never collide with the high byte of a block address.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace kestovane::sim {

enum class FrameKind { Handshake, Entry, Memory, Eeprom, Access, Command, Malformed, Noise };

struct Split {
  FrameKind kind;
  std::size_t length;  // bytes of the stream that belong to it
};

struct SplitRules {
  std::uint32_t headerLength = 4;  // 4 or 5
  std::uint32_t blockSize = 64;
};

inline constexpr std::size_t kEepromFrameLength = 6;
inline constexpr std::size_t kAccessFrameLength = 19;

// nullopt: the bytes so far begin a frame that is not complete yet.
std::optional<Split> SplitNext(std::span<const std::uint8_t> bytes, const SplitRules& rules);

}  // namespace kestovane::sim
