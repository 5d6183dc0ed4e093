#include "fwbuild/manifest.h"

#include <charconv>
#include <map>
#include <utility>

#include "fwbuild/intel_hex.h"

namespace kestovane::fwbuild {

namespace {

constexpr int kRows = 255;     // print codes 0 to 254
constexpr int kColumns = 47;   // catalogue columns 0 to 46

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.back() == '\r' || s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  return s;
}

std::vector<std::string_view> Words(std::string_view s) {
  std::vector<std::string_view> words;
  while (true) {
    s = Trim(s);
    if (s.empty()) return words;
    const size_t end = s.find_first_of(" \t");
    words.push_back(s.substr(0, end));
    s = end == std::string_view::npos ? std::string_view{} : s.substr(end);
  }
}

// One manifest line being read: every complaint names the manifest and line.
struct LineReader {
  const std::string& name;
  int line;

  [[noreturn]] void Fail(const std::string& what) const { fwbuild::Fail(name, line, what); }

  long Number(std::string_view field, std::string_view text, long lo, long hi) const {
    int base = 10;
    std::string_view digits = text;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
      base = 16;
      digits.remove_prefix(2);
    }
    long value = 0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value, base);
    if (digits.empty() || ec != std::errc{} || end != digits.data() + digits.size())
      Fail(std::string(field) + ": '" + std::string(text) + "' is not a number");
    if (value < lo || value > hi)
      Fail(std::string(field) + " " + std::string(text) + " is outside " + std::to_string(lo) + " to " +
           std::to_string(hi));
    return value;
  }

  std::vector<int> List(std::string_view field, std::string_view text, long lo, long hi) const {
    std::vector<int> values;
    while (true) {
      const size_t comma = text.find(',');
      values.push_back(static_cast<int>(Number(field, text.substr(0, comma), lo, hi)));
      if (comma == std::string_view::npos) return values;
      text.remove_prefix(comma + 1);
    }
  }
};

// Reads the fields of an "image" or "placeholder" line.
SlotSpec ReadSlot(const LineReader& in, bool placeholder, const std::vector<std::string_view>& words,
                  const std::filesystem::path& baseDir) {
  SlotSpec slot;
  slot.line = in.line;
  slot.placeholder = placeholder;
  std::optional<int> fix, print, preparation, eeprom;
  bool saidPlain = false, saidScrambled = false;

  for (size_t i = 1; i < words.size(); ++i) {
    const std::string_view word = words[i];
    const size_t eq = word.find('=');
    const std::string_view field = word.substr(0, eq);
    const std::string_view value = eq == std::string_view::npos ? std::string_view{} : word.substr(eq + 1);
    if (eq != std::string_view::npos && value.empty()) in.Fail(std::string(field) + " needs a value");

    if (field == "rows" || field == "row") {
      slot.rows = in.List("row", value, 0, kRows - 1);
    } else if (field == "columns" || field == "column") {
      slot.columns = in.List("column", value, 0, kColumns - 1);
    } else if (!placeholder && field == "hex") {
      slot.hexFiles.push_back(baseDir / std::filesystem::path(std::string(value)));
    } else if (!placeholder && field == "fix") {
      fix = static_cast<int>(in.Number("fix", value, 0, 0xFFFF));
    } else if (!placeholder && field == "print") {
      print = static_cast<int>(in.Number("print", value, 0, 255));
    } else if (!placeholder && field == "preparation") {
      preparation = static_cast<int>(in.Number("preparation", value, 0, 255));
    } else if (!placeholder && word == "plain") {
      saidPlain = true;
    } else if (!placeholder && word == "scrambled") {
      saidScrambled = true;
    } else if (placeholder && field == "eeprom") {
      eeprom = static_cast<int>(in.Number("eeprom", value, 0, 1));
    } else {
      in.Fail("unknown field '" + std::string(word) + "' in a " + (placeholder ? "placeholder" : "image") +
              " line");
    }
  }

  if (slot.rows.empty()) in.Fail("the line names no rows (rows=...)");
  if (slot.columns.empty()) in.Fail("the line names no columns (columns=...)");
  if (placeholder) {
    slot.eepromPlaceholder = eeprom.value_or(1) == 1;
    return slot;
  }

  if (slot.hexFiles.empty()) in.Fail("an image line needs at least one hex=FILE");
  if (!fix) in.Fail("an image line needs fix=N, the size of its Fix tail");
  slot.fixTailSize = *fix;
  if (saidPlain == saidScrambled) in.Fail("an image line says either 'plain' or 'scrambled'");
  slot.plain = saidPlain;
  if (slot.plain && (!print || !preparation))
    in.Fail("a plain image needs print=N and preparation=N, the codes the slot carries");
  if (!slot.plain && (print || preparation))
    in.Fail("a scrambled image takes its codes from its identity bytes: drop print= and preparation=");
  slot.printCode = static_cast<uint8_t>(print.value_or(0));
  slot.preparationCode = static_cast<uint8_t>(preparation.value_or(0));
  return slot;
}

}  // namespace

Manifest ParseManifest(std::string_view text, const std::string& name, const std::filesystem::path& baseDir) {
  Manifest manifest;
  manifest.name = name;
  std::optional<int> keyLine, labelLine, firstScrambledLine;
  std::map<std::pair<int, int>, int> boundAt;  // (row, column) -> manifest line

  int line = 0;
  while (!text.empty()) {
    const size_t eol = text.find('\n');
    const std::string_view raw = text.substr(0, eol);
    text = eol == std::string_view::npos ? std::string_view{} : text.substr(eol + 1);
    ++line;
    const LineReader in{name, line};

    const std::string_view content = Trim(raw);
    if (content.empty() || content.front() == '#') continue;
    const std::vector<std::string_view> words = Words(content);
    const std::string_view keyword = words.front();

    if (keyword == "label") {
      // The label is the rest of the line, exactly, blanks inside included.
      if (labelLine) in.Fail("label given twice (first at line " + std::to_string(*labelLine) + ")");
      const std::string_view label = Trim(content.substr(keyword.size()));
      if (label.empty()) in.Fail("label needs a text");
      manifest.label = std::string(label);
      labelLine = line;
    } else if (keyword == "key") {
      if (keyLine) in.Fail("key given twice (first at line " + std::to_string(*keyLine) + ")");
      if (words.size() != 2) in.Fail("key takes one number, 0 to 255");
      manifest.key = static_cast<uint8_t>(in.Number("key", words[1], 0, 255));
      keyLine = line;
    } else if (keyword == "image" || keyword == "placeholder") {
      SlotSpec slot = ReadSlot(in, keyword == "placeholder", words, baseDir);
      // Each slot may be bound once: a second binding would silently win.
      for (int row : slot.rows)
        for (int column : slot.columns) {
          const auto [it, inserted] = boundAt.try_emplace({row, column}, line);
          if (!inserted)
            in.Fail("slot row " + std::to_string(row) + " column " + std::to_string(column) +
                    " is already bound at line " + std::to_string(it->second));
        }
      if (!slot.placeholder && !slot.plain && !firstScrambledLine) firstScrambledLine = line;
      manifest.slots.push_back(std::move(slot));
    } else {
      in.Fail("unknown keyword '" + std::string(keyword) + "' (label, key, image or placeholder)");
    }
  }

  if (firstScrambledLine && !keyLine)
    Fail(name, *firstScrambledLine, "a scrambled image needs the frame key: add a line 'key N'");
  return manifest;
}

Manifest ReadManifest(const std::filesystem::path& path) {
  return ParseManifest(ReadTextFile(path), path.string(), path.parent_path());
}

}  // namespace kestovane::fwbuild
