// The firmware manifest: a line-based text that names the build's label, the
// frame key constant and every bound catalogue slot with its HEX files.
//
//   # comment (a line whose first non-blank character is '#')
//   label VEX 1C 01.05.00.02
//   key 0xA7
//   image rows=0 columns=6 hex=app.hex fix=8 scrambled
//   image rows=3 columns=0 hex=a.hex hex=b.hex fix=4 plain print=3 preparation=0x81
//   placeholder rows=0 columns=0,1,2,3,4,5,7 eeprom=1
//
// Numbers are decimal or 0x-prefixed hexadecimal; lists are comma-separated.
// HEX paths are relative to the manifest's folder and contain no blanks.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestovane::fwbuild {

struct SlotSpec {
  int line = 0;  // the manifest line, for messages
  bool placeholder = false;
  std::vector<int> rows;
  std::vector<int> columns;
  // image lines
  std::vector<std::filesystem::path> hexFiles;
  int fixTailSize = 0;
  bool plain = false;
  uint8_t printCode = 0;
  uint8_t preparationCode = 0;
  // placeholder lines: whether the EEPROM count is 1 (as the image and Fix
  // tail counts) or 0
  bool eepromPlaceholder = true;
};

struct Manifest {
  std::string name;  // how messages name the manifest
  std::optional<std::string> label;
  uint8_t key = 0;
  std::vector<SlotSpec> slots;
};

// `baseDir` resolves the relative HEX paths.
Manifest ParseManifest(std::string_view text, const std::string& name, const std::filesystem::path& baseDir);
Manifest ReadManifest(const std::filesystem::path& path);

}  // namespace kestovane::fwbuild
