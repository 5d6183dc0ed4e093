// The operator's choice of serial port, remembered from one run to the next,
// one small human-readable file per personality.
//
// Layout: the key of a SettingsRoot names a file under the settings folder,
// $XDG_CONFIG_HOME/kestovane (XDG_CONFIG_HOME defaults to ~/.config):
//   0  Software\QEN\Kestovane\       -> Software/QEN/Kestovane.ini
//   1  Software\Orvalinder\Upgrade\  -> Software/Orvalinder/Upgrade.ini
//   2  Software\Pelzane\Loader\      -> Software/Pelzane/Loader.ini
// Each file holds `name=value` lines; blank lines and lines starting with ';'
// or '#' are comments, a `[...]` line is accepted and ignored.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace kestovane {

// Selects the key of a personality; any value but 1 and 2 gives the key of 0.
using SettingsRoot = uint8_t;

// The key path of a root, with its trailing backslash.
const char* SettingsKeyPath(SettingsRoot root);
// The file that holds the key of a root.
std::string SettingsFilePath(SettingsRoot root);

// The stored text of a value; the empty text when the file, the value or its
// text is missing. A stored value that is not readable text (bytes that are
// not UTF-8, control characters, NUL, a file that is not name=value lines)
// also gives the empty text, and the problem is reported once per file
// through the settings problem sink.
std::string ReadSetting(const std::string& name, SettingsRoot root);

// Stores a value, creating the folders and the file when needed. The file is
// replaced atomically: a crash, a kill or a full disk during the write leaves
// the previous file whole. Failures are not reported to the operator (the
// next start reads the old value); they go to the problem sink's log.
void WriteSetting(const std::string& name, const std::string& value, SettingsRoot root);

// Where problems of the store go. `operatorMustKnow` is true for a stored
// value that cannot be read (the operator's port choice is lost), false for
// log lines. The default shows the former in a message box and writes both
// to standard error.
using SettingsProblemSink = std::function<void(const std::string& text, bool operatorMustKnow)>;
void SetSettingsProblemSink(SettingsProblemSink sink);  // empty: back to the default
// Forgets which files were already reported (a fresh program, for tests).
void ResetSettingsProblems();

// The "com" text as a port index: leading blanks skipped, an optional sign,
// the digits up to the first other character (0 when none), cut to the low
// 16 bits.
int16_t PortIndexFromText(const std::string& text);
// The decimal text of a port index: a minus sign when negative, no leading
// zeros, no blanks.
std::string PortIndexText(int16_t index);

}  // namespace kestovane
