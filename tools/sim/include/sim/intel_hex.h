// Intel HEX text for the simulator's memory dumps.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>

namespace kestovane::sim {

// 16-byte data records with extended linear address records where the upper
// half of the address changes; lines of erased bytes (all 0xFF) are left out.
std::string ToIntelHex(std::span<const std::uint8_t> bytes, std::uint32_t baseAddress = 0);

// Address -> byte of every data record; nullopt with a reason for bad text.
std::optional<std::map<std::uint32_t, std::uint8_t>> ParseIntelHex(const std::string& text,
                                                                    std::string* error = nullptr);

}  // namespace kestovane::sim
