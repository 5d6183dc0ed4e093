#include "settings/settings_store.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <optional>
#include <set>
#include <vector>

#include "app/feedback.h"

namespace kestovane {

namespace fs = std::filesystem;

namespace {

struct KeyLocation {
  const char* keyPath;   // as the key is named
  const char* filePath;  // below the settings folder
};

constexpr std::array<KeyLocation, 3> kKeys = {{
    {.keyPath = "Software\\QEN\\Kestovane\\", .filePath = "Software/QEN/Kestovane.ini"},
    {.keyPath = "Software\\Orvalinder\\Upgrade\\", .filePath = "Software/Orvalinder/Upgrade.ini"},
    {.keyPath = "Software\\Pelzane\\Loader\\", .filePath = "Software/Pelzane/Loader.ini"},
}};

const KeyLocation& KeyOf(SettingsRoot root) { return kKeys[root == 1 || root == 2 ? root : 0]; }

SettingsProblemSink& Sink() {
  static SettingsProblemSink sink;
  return sink;
}

std::set<std::string>& Reported() {
  static std::set<std::string> reported;
  return reported;
}

void Report(const std::string& text, bool operatorMustKnow) {
  if (Sink()) {
    Sink()(text, operatorMustKnow);
    return;
  }
  std::cerr << "kestovane: " << text << "\n";
  if (operatorMustKnow) ShowMessageBox(text.c_str(), "Error", MB_OK);
}

// The folder every key lives under. XDG says a relative XDG_CONFIG_HOME is
// to be ignored.
fs::path SettingsFolder() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg && xdg[0] == '/') return fs::path(xdg) / "kestovane";
  const char* home = std::getenv("HOME");
  if (!home || home[0] != '/') {
    const passwd* pw = getpwuid(getuid());
    home = pw && pw->pw_dir ? pw->pw_dir : "/";
  }
  return fs::path(home) / ".config" / "kestovane";
}

// One line of a settings file, kept verbatim so that a rewrite changes only
// the value it stores.
struct Line {
  std::string text;
  bool isValue = false;
  bool malformed = false;
  std::string name;   // trimmed, when isValue
  std::string value;  // everything after '=', when isValue
};

struct Parsed {
  std::vector<Line> lines;
  std::string problem;  // empty when every line is well formed
};

bool IsUtf8Text(const std::string& s) {
  size_t i = 0;
  while (i < s.size()) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
      // Control characters have no place in a hand-editable value; a tab does.
      if ((c < 0x20 && c != '\t') || c == 0x7F) return false;
      ++i;
      continue;
    }
    size_t extra = 0;
    uint32_t cp = 0;
    if ((c & 0xE0) == 0xC0) { extra = 1; cp = c & 0x1F; }
    else if ((c & 0xF0) == 0xE0) { extra = 2; cp = c & 0x0F; }
    else if ((c & 0xF8) == 0xF0) { extra = 3; cp = c & 0x07; }
    else return false;
    if (i + extra >= s.size()) return false;
    for (size_t k = 1; k <= extra; ++k) {
      const auto d = static_cast<unsigned char>(s[i + k]);
      if ((d & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (d & 0x3F);
    }
    // Overlong forms, surrogates and values past Unicode are not text.
    constexpr std::array<uint32_t, 4> kMin = {0, 0x80, 0x800, 0x10000};
    if (cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += extra + 1;
  }
  return true;
}

std::string Trim(const std::string& s) {
  const auto first = s.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  const auto last = s.find_last_not_of(" \t");
  return s.substr(first, last - first + 1);
}

bool SameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

Parsed Parse(const std::string& content) {
  Parsed out;
  size_t start = 0;
  int number = 0;
  while (start < content.size()) {
    size_t end = content.find('\n', start);
    if (end == std::string::npos) end = content.size();
    Line line;
    line.text = content.substr(start, end - start);
    start = end + 1;
    ++number;
    std::string body = line.text;
    if (!body.empty() && body.back() == '\r') body.pop_back();
    const std::string trimmed = Trim(body);
    if (!IsUtf8Text(body)) {
      line.malformed = true;
      if (out.problem.empty()) out.problem = "line " + std::to_string(number) + " is not readable text";
    } else if (trimmed.empty() || trimmed[0] == ';' || trimmed[0] == '#' ||
               (trimmed.front() == '[' && trimmed.back() == ']')) {
      // comment, blank or section line
    } else if (auto eq = body.find('='); eq != std::string::npos && !Trim(body.substr(0, eq)).empty()) {
      line.isValue = true;
      line.name = Trim(body.substr(0, eq));
      line.value = body.substr(eq + 1);
    } else {
      line.malformed = true;
      if (out.problem.empty()) out.problem = "line " + std::to_string(number) + " is not a name=value line";
    }
    out.lines.push_back(std::move(line));
  }
  return out;
}

// The whole file, or nothing when it does not exist or cannot be read.
std::optional<std::string> Slurp(const fs::path& path, int* error) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    *error = errno;
    return std::nullopt;
  }
  std::string content;
  char buf[4096];
  for (;;) {
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n > 0) {
      content.append(buf, static_cast<size_t>(n));
      // A settings file is a few lines; anything huge is not ours to load,
      // and a cut copy must never be written back in its place.
      if (content.size() > (1u << 20)) {
        *error = EFBIG;
        close(fd);
        return std::nullopt;
      }
    } else if (n == 0) {
      break;
    } else if (errno != EINTR) {
      *error = errno;
      close(fd);
      return std::nullopt;
    }
  }
  close(fd);
  *error = 0;
  return content;
}

bool WriteAll(int fd, const std::string& data) {
  size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// Temporary files of writes that a kill interrupted; nobody else writes
// here (one copy of the program runs), so they can go.
void RemoveStaleTemporaries(const fs::path& folder, const std::string& prefix) {
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string n = it->path().filename().string();
    if (n.rfind(prefix, 0) == 0) fs::remove(it->path(), ec);
  }
}

}  // namespace

const char* SettingsKeyPath(SettingsRoot root) { return KeyOf(root).keyPath; }

std::string SettingsFilePath(SettingsRoot root) { return (SettingsFolder() / KeyOf(root).filePath).string(); }

void SetSettingsProblemSink(SettingsProblemSink sink) { Sink() = std::move(sink); }

void ResetSettingsProblems() { Reported().clear(); }

std::string ReadSetting(const std::string& name, SettingsRoot root) {
  const fs::path path = SettingsFilePath(root);
  int error = 0;
  const std::optional<std::string> content = Slurp(path, &error);
  if (!content) {
    // A missing file is a first start; anything else is worth a log line.
    if (error != ENOENT && error != ENOTDIR)
      Report("settings: cannot read " + path.string() + ": " + std::strerror(error), false);
    return {};
  }
  const Parsed parsed = Parse(*content);
  if (!parsed.problem.empty()) {
    // Keep the program running on the default port and tell the operator
    // once: the stored choice is lost until the window writes a new one.
    if (Reported().insert(path.string()).second)
      Report("The stored serial port setting cannot be read (" + path.string() + ": " + parsed.problem +
                 "). The first port is used; choose the port again if it is not the right one.",
             true);
    return {};
  }
  std::string value;
  for (const Line& line : parsed.lines)
    if (line.isValue && SameName(line.name, name)) value = line.value;  // the last one wins
  return value;
}

namespace {

// Replaces a file with new content so that a crash, a kill or a full disk at
// any moment leaves either the old file or the new one, never a mix. The
// error text is empty on success.
std::string ReplaceFile(const fs::path& path, const std::string& content) {
  const fs::path folder = path.parent_path();
  auto failure = [](const std::string& what, int err) { return what + ": " + std::strerror(err); };

  std::error_code ec;
  fs::create_directories(folder, ec);
  if (ec) return failure("creating the folder", ec.value());
  const std::string prefix = "." + path.filename().string() + ".tmp-";
  RemoveStaleTemporaries(folder, prefix);

  // Write aside, make it durable, then swap it in: the old file stays whole
  // until the rename, and the rename is all or nothing.
  std::string temp = (folder / (prefix + "XXXXXX")).string();
  const int fd = mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) return failure("creating a temporary file", errno);
  const bool ok = WriteAll(fd, content) && fchmod(fd, 0644) == 0 && fsync(fd) == 0;
  const int writeError = errno;
  if (close(fd) != 0 || !ok) {
    const int e = ok ? errno : writeError;
    unlink(temp.c_str());
    return failure("writing", e);
  }
  if (rename(temp.c_str(), path.c_str()) != 0) {
    const int e = errno;
    unlink(temp.c_str());
    return failure("replacing the file", e);
  }
  // The rename itself is durable only once the folder is.
  const int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    fsync(dir);
    close(dir);
  }
  return {};
}

}  // namespace

void WriteSetting(const std::string& name, const std::string& value, SettingsRoot root) {
  const fs::path path = SettingsFilePath(root);
  if (Trim(name) != name || name.empty() || !IsUtf8Text(name) || name.find('=') != std::string::npos ||
      !IsUtf8Text(value)) {
    Report("settings: refusing to store a value that is not one line of text under \"" + name + "\"", false);
    return;
  }

  // Keep every other line of the file as the operator left it.
  std::vector<Line> lines;
  int error = 0;
  if (const auto content = Slurp(path, &error)) {
    Parsed parsed = Parse(*content);
    if (!parsed.problem.empty()) {
      // The unreadable lines leave the file so that it reads again, but the
      // operator's original is kept beside it, not thrown away.
      const fs::path aside = path.string() + ".unreadable";
      if (const std::string e = ReplaceFile(aside, *content); !e.empty()) {
        Report("settings: cannot keep the unreadable " + path.string() + " aside: " + e, false);
        return;
      }
      Report("settings: the unreadable " + path.string() + " was kept as " + aside.string(), false);
      std::erase_if(parsed.lines, [](const Line& l) { return l.malformed; });
    }
    lines = std::move(parsed.lines);
  } else if (error != ENOENT) {
    // A file that is there but cannot be read is not replaced: it may hold
    // more than this one value.
    Report("settings: cannot read " + path.string() + " (" + std::strerror(error) + "); it is left as it is", false);
    return;
  } else {
    Line header;
    header.text = std::string("; Kestovane settings, key ") + KeyOf(root).keyPath;
    lines.push_back(std::move(header));
  }

  std::string out;
  bool written = false;
  for (const Line& line : lines) {
    if (line.isValue && SameName(line.name, name)) {
      if (written) continue;  // an older duplicate would only confuse a reader
      out += name + "=" + value + "\n";
      written = true;
    } else {
      out += line.text + "\n";
    }
  }
  if (!written) out += name + "=" + value + "\n";

  if (const std::string e = ReplaceFile(path, out); !e.empty())
    Report("settings: cannot write " + path.string() + ": " + e, false);
}

int16_t PortIndexFromText(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  // Only the low 16 bits are kept, so the arithmetic is done modulo 2^16 and
  // no number of digits can overflow.
  uint16_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
    value = static_cast<uint16_t>(value * 10u + static_cast<unsigned>(text[i] - '0'));
  if (negative) value = static_cast<uint16_t>(0u - value);
  return static_cast<int16_t>(value);
}

std::string PortIndexText(int16_t index) { return std::to_string(index); }

}  // namespace kestovane
