#include "fwbuild/builder.h"

#include <algorithm>
#include <cstdio>

namespace kestovane::fwbuild {

namespace {

std::string Hex(uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%06X", v);
  return buf;
}

// Erased flash reads 0xFF, except the phantom byte (the fourth of every
// PIC24 instruction word), which the toolchains write as 0x00.
uint8_t ErasedByte(const ColumnLayout& layout, size_t offset) {
  if (layout.addressUnit == 2 && offset % 4 == 3) return 0x00;
  return 0xFF;
}

// The layout every column of one image line shares; mixing families whose
// frames or identity bytes lie differently would need different images.
const ColumnLayout& LayoutOfLine(const Manifest& manifest, const SlotSpec& slotSpec, ColumnLayout& merged) {
  const ColumnLayout* first = nullptr;
  for (int column : slotSpec.columns) {
    const ColumnLayout* layout = LayoutOfColumn(column);
    if (!layout)
      Fail(manifest.name, slotSpec.line,
           "column " + std::to_string(column) + " belongs to no device family, so no device can select its image");
    if (!first) {
      first = layout;
      merged = *layout;
      continue;
    }
    if (layout->addressUnit != first->addressUnit || layout->blockSize != first->blockSize ||
        layout->idOffset != first->idOffset)
      Fail(manifest.name, slotSpec.line,
           "columns " + std::to_string(first->column) + " and " + std::to_string(column) +
               " lay out their images differently; bind them on separate lines");
    // One image serves all: it must fit the smallest of them.
    merged.flashTop = std::min(merged.flashTop, layout->flashTop);
    merged.eepromSize = std::min(merged.eepromSize, layout->eepromSize);
  }
  return merged;
}

std::string Escaped(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c >= 0x20 && c < 0x7F && c != '?') {
      out += static_cast<char>(c);
    } else {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\%03o", c);
      out += buf;
    }
  }
  return out;
}

void EmitArray(std::string& out, const std::string& name, const std::vector<uint8_t>& bytes) {
  out += "uint8_t " + name + "[" + std::to_string(bytes.size()) + "] = {";
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (i % 16 == 0) out += "\n   ";
    char buf[8];
    std::snprintf(buf, sizeof buf, " 0x%02x,", bytes[i]);
    out += buf;
  }
  out += "\n};\n";
}

}  // namespace

ClearFirmware LayOut(const HexMemory& memory, const ColumnLayout& layout) {
  const uint32_t programEnd = layout.flashTop * layout.addressUnit;  // HEX addresses
  const uint32_t eepromEnd = kPic18EepromHexBase + layout.eepromSize;

  // Place every byte, refusing what the family cannot hold.
  ClearFirmware firmware;
  std::vector<std::pair<uint32_t, uint8_t>> program, eeprom;
  for (const auto& [address, cell] : memory.Cells()) {
    if (address < programEnd) {
      program.emplace_back(address, cell.value);
    } else if (layout.eepromSize > 0 && address >= kPic18EepromHexBase && address < eepromEnd) {
      eeprom.emplace_back(address - kPic18EepromHexBase, cell.value);
    } else {
      std::string what = "data at HEX address " + Hex(address) + " lies beyond the memory of " + layout.family +
                         " (program memory below HEX address " + Hex(programEnd);
      what += layout.eepromSize > 0 ? ", EEPROM " + Hex(kPic18EepromHexBase) + " to " + Hex(eepromEnd - 1) + ")"
                                    : ", no EEPROM)";
      throw FirmwareError(memory.PlaceOf(cell) + ": " + what);
    }
  }

  // Cells come in address order, so the last one gives the length.
  if (!program.empty()) {
    firmware.program.resize(program.back().first + 1);
    for (size_t i = 0; i < firmware.program.size(); ++i) firmware.program[i] = ErasedByte(layout, i);
    for (const auto& [offset, value] : program) firmware.program[offset] = value;
  }
  if (!eeprom.empty()) {
    firmware.eeprom.assign(eeprom.back().first + 1, 0xFF);
    for (const auto& [offset, value] : eeprom) firmware.eeprom[offset] = value;
  }
  return firmware;
}

void ApplyFrameKey(std::vector<uint8_t>& image, const ColumnLayout& layout, uint8_t keyConstant) {
  for (size_t i = 0; i < image.size(); ++i) {
    // Frames start at whole blocks; the key depends on the low byte of the
    // frame's device address.
    const size_t frameStart = i / layout.blockSize * layout.blockSize;
    const uint32_t frameAddress = static_cast<uint32_t>(frameStart / layout.addressUnit);
    image[i] ^= static_cast<uint8_t>((frameAddress & 0xFF) + keyConstant);
  }
}

BuiltSet BuildFirmwareSet(const Manifest& manifest) {
  BuiltSet set;
  set.label = manifest.label;
  set.key = manifest.key;

  for (const SlotSpec& slotSpec : manifest.slots) {
    if (slotSpec.placeholder) {
      set.placeholders.push_back(&slotSpec);
      continue;
    }
    ColumnLayout merged{};
    const ColumnLayout& layout = LayoutOfLine(manifest, slotSpec, merged);
    const std::string where = manifest.name + ":" + std::to_string(slotSpec.line);

    // Read all the line's files into one memory, so overlaps between them show.
    HexMemory memory;
    std::string files;
    for (const auto& path : slotSpec.hexFiles) {
      memory.AddHexText(ReadTextFile(path, where), path.string());
      set.inputs.push_back(path);
      files += (files.empty() ? "" : ", ") + path.string();
    }
    ClearFirmware firmware = LayOut(memory, layout);

    // The run reads the identity bytes without a length test.
    const size_t needed = layout.idOffset + 2u;
    if (firmware.program.size() < needed)
      Fail(manifest.name, slotSpec.line,
           "the image from " + files + " is " + std::to_string(firmware.program.size()) +
               " bytes, too short to hold its identity bytes at " + std::to_string(layout.idOffset) + " and " +
               std::to_string(layout.idOffset + 1));
    // The Fix tail sits at the end of one block frame.
    if (slotSpec.fixTailSize > layout.blockSize)
      Fail(manifest.name, slotSpec.line,
           "a Fix tail of " + std::to_string(slotSpec.fixTailSize) + " bytes is longer than a block (" +
               std::to_string(layout.blockSize) + " bytes)");
    if (static_cast<size_t>(slotSpec.fixTailSize) > firmware.program.size())
      Fail(manifest.name, slotSpec.line,
           "a Fix tail of " + std::to_string(slotSpec.fixTailSize) + " bytes is longer than the image (" +
               std::to_string(firmware.program.size()) + " bytes)");

    BuiltImage built;
    built.slotSpec = &slotSpec;
    // The Fix tail keeps the application's own start: the image's first bytes
    // as the HEX has them, before the run patches them.
    built.fixTail.assign(firmware.program.begin(), firmware.program.begin() + slotSpec.fixTailSize);
    built.eeprom = std::move(firmware.eeprom);
    built.image = std::move(firmware.program);
    if (!slotSpec.plain) ApplyFrameKey(built.image, layout, manifest.key);
    set.images.push_back(std::move(built));
  }
  return set;
}

std::string GenerateSource(const BuiltSet& set, const std::string& manifestName) {
  std::string out;
  out += "// Generated by kestovane_fwbuild from " + manifestName + ". Do not edit: edit the manifest.\n";
  out += "#include \"catalogue/firmware_set.h\"\n\nnamespace kestovane {\n\nnamespace {\n\n";

  // The arrays are writable on purpose: each run patches its image in place.
  if (!set.placeholders.empty())
    out += "uint8_t placeholderImage[1] = {0};\nuint8_t placeholderFixTail[1] = {0};\n"
           "uint8_t placeholderEeprom[1] = {0};\n\n";
  for (size_t i = 0; i < set.images.size(); ++i) {
    const BuiltImage& b = set.images[i];
    const std::string n = std::to_string(i);
    out += "// " + manifestName + ":" + std::to_string(b.slotSpec->line) + "\n";
    EmitArray(out, "image" + n, b.image);
    if (!b.fixTail.empty()) EmitArray(out, "fixTail" + n, b.fixTail);
    if (!b.eeprom.empty()) EmitArray(out, "eeprom" + n, b.eeprom);
    out += "\n";
  }
  out += "}  // namespace\n\n";

  std::string rows;
  int count = 0;
  auto bind = [&](int row, int column, const std::string& fix, size_t fixSize, const std::string& image,
                  size_t imageSize, const std::string& eeprom, size_t eepromSize, bool plain, int print,
                  int preparation) {
    char buf[512];
    std::snprintf(buf, sizeof buf,
                  "    {.row = %d, .column = %d, .fixTail = %s, .fixTailSize = %zu, .image = %s, .imageSize = %zu,\n"
                  "     .eeprom = %s, .eepromSize = %zu, .plain = %d, .printCode = %d, .preparationCode = %d},\n",
                  row, column, fix.c_str(), fixSize, image.c_str(), imageSize, eeprom.c_str(), eepromSize,
                  plain ? 1 : 0, print, preparation);
    rows += buf;
    ++count;
  };
  for (size_t i = 0; i < set.images.size(); ++i) {
    const BuiltImage& b = set.images[i];
    const std::string n = std::to_string(i);
    for (int row : b.slotSpec->rows)
      for (int column : b.slotSpec->columns)
        bind(row, column, b.fixTail.empty() ? "nullptr" : "fixTail" + n, b.fixTail.size(), "image" + n,
             b.image.size(), b.eeprom.empty() ? "nullptr" : "eeprom" + n, b.eeprom.size(), b.slotSpec->plain,
             b.slotSpec->printCode, b.slotSpec->preparationCode);
  }
  for (const SlotSpec* p : set.placeholders)
    for (int row : p->rows)
      for (int column : p->columns)
        bind(row, column, "placeholderFixTail", 1, "placeholderImage", 1, "placeholderEeprom",
             p->eepromPlaceholder ? 1 : 0, false, 0, 0);

  // A C++ array cannot be empty; a manifest without slots still builds.
  out += "const FirmwareBinding kFirmwareBindings[] = {\n";
  out += count > 0 ? rows : "    {},\n";
  out += "};\nconst int kFirmwareBindingCount = " + std::to_string(count) + ";\n\n";

  char key[64];
  std::snprintf(key, sizeof key, "const uint8_t kFrameKeyConstant = 0x%02x;\n\n", set.key);
  out += key;
  out += "const char* BuildCatalogueLabel() { return ";
  out += set.label ? "\"" + Escaped(*set.label) + "\"" : std::string("nullptr");
  out += "; }\n\n}  // namespace kestovane\n";
  return out;
}

}  // namespace kestovane::fwbuild
