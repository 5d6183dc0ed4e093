// Turns a manifest and its HEX files into the arrays the catalogue binds, and
// those into a C++ source for the engine.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "fwbuild/family_layout.h"
#include "fwbuild/intel_hex.h"
#include "fwbuild/manifest.h"

namespace kestovane::fwbuild {

// The image of one family as the device should hold it: program bytes from
// address 0 up to the last byte given, unwritten gaps erased, and the EEPROM
// bytes from EEPROM address 0 up to the last one given.
struct ClearFirmware {
  std::vector<uint8_t> program;
  std::vector<uint8_t> eeprom;
};

// Splits `memory` into program and EEPROM bytes for `layout`. Data that the
// family cannot hold is refused, naming the record that gave it.
ClearFirmware LayOut(const HexMemory& memory, const ColumnLayout& layout);

// Stores `image` in place in its travelling form: each byte XOR the key of the
// frame that will carry it, that frame's device address taken by `layout`.
void ApplyFrameKey(std::vector<uint8_t>& image, const ColumnLayout& layout, uint8_t keyConstant);

struct BuiltImage {
  const SlotSpec* slotSpec;  // the manifest line it comes from
  std::vector<uint8_t> image;    // as stored: keyed unless plain
  std::vector<uint8_t> fixTail;  // in clear: the run keys it with the Fix frame
  std::vector<uint8_t> eeprom;   // as sent
};

struct BuiltSet {
  std::optional<std::string> label;
  uint8_t key = 0;
  std::vector<BuiltImage> images;
  std::vector<const SlotSpec*> placeholders;
  std::vector<std::filesystem::path> inputs;  // every file read, for the depfile
};

// Reads every HEX file the manifest names and builds its images. The result
// refers to `manifest`, which must outlive it.
BuiltSet BuildFirmwareSet(const Manifest& manifest);

// The C++ source that defines the declarations of catalogue/firmware_set.h.
std::string GenerateSource(const BuiltSet& set, const std::string& manifestName);

}  // namespace kestovane::fwbuild
