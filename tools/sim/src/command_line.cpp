#include "sim/command_line.h"

#include <cerrno>
#include <cstdlib>
#include <stdexcept>

namespace kestovane::sim {
namespace {

const char kHelp[] = R"help(Usage: kestovane-sim [options]

Plays a device's resident serial bootloader on a pseudo-terminal, so the
Kestovane updater can be run against it without hardware.

Typical use beside the updater:
  kestovane-sim --com 3 --device 72 --version 9 --flash-hex out.hex
  then choose COM3 in the updater's Setup dialog and press Update.
The pseudo-terminal is linked as COMn into the port map folder the updater
reads ($KESTOVANE_PORT_DIR, else $XDG_CONFIG_HOME/kestovane/ports, else
~/.config/kestovane/ports). Stop with Ctrl-C: the memories are then written
and a summary printed.

Device (repeat after --next for a further device on the same line):
  --device CODE        device code (66..72, 199, 252..254; others answer but
                       refuse every write) [72]
  --version N          bootloader version [9]
  --print CODE         print (board) code [0x10]
  --prep CODE          preparation code [0x03]
  --no-identity        answer the handshake with device code and 'K' only
  --info TEXT          info record text, up to 24 characters
  --protect START:COUNT  protected range announced in the info record
  --info-record on|off|auto  send the info record (auto: versions 8..31)
  --eeprom-size N      EEPROM bytes instead of the family's own
  --advance never|programmed|command4
                       when the next device takes over the line: at the
                       first handshake after a Fix frame was written, or on
                       an accepted command-4 frame [never]
  --next               begin the next device

Line:
  --com N              publish the pty as COMn (1..257)
  --port-dir DIR       port map folder instead of the default
  --tty PATH           serve this tty instead of creating a pty
  --handshake LIST     handshake bytes answered, e.g. 0xC2,0xC5 [0xC2,0xC5,0xC6]

Frame key:
  --key K              key constant of the firmware set [0xA7]
  --no-scramble        frames carry clear data
  --eeprom-keyed       EEPROM bytes travel keyed too
  --access TEXT        access string of the special mode
  --no-guard-protected accept writes into the announced protected range

Outputs:
  --flash-hex FILE     flash as Intel HEX (image byte addresses)
  --eeprom-hex FILE    EEPROM as Intel HEX
  --transcript FILE    every frame as a JSON line, written as it comes
  (a second device writes FILE.1.hex and so on)

Faults (frames are the block, last, Fix and EEPROM frames numbered from 1;
a resend keeps its number; frame 0 means every frame):
  --refuse N:K         answer 'N' to frame N, K times
  --silent N           do not answer frame N
  --late N:MS          answer frame N after MS milliseconds
  --noise-before N:HEX send bytes (hex, e.g. 00ff55) before the answer
  --noise-after N:HEX  send bytes after the answer
  --drop-after BYTES   close the line after so many received bytes
  --answer-from M      stay quiet to the handshakes before the M-th

Timing:
  --pace               both directions at 115200 baud, 11 bits a byte
  --flash-write-ms MS  time to write a block, last or Fix frame
  --eeprom-write-ms MS time to write an EEPROM byte
  --info-delay MS      pause between the identity answer and the info record

Checking the result (for scripts):
  --expect-hex FILE    the Intel HEX of the application this device should
                       hold (given twice: the files are merged). At the stop
                       prints "device memory holds the image (N bytes)" or
                       "device memory does NOT hold the image: <reason>" and
                       exits 0, or 3 when any device does not hold its image
  --exit-after-programming
                       stop once every device has completed a programming
                       run: its Fix frame and then its EEPROM frames answered
                       (as many as the --expect-hex EEPROM bytes, else the
                       device's EEPROM size)
  --exit-idle-ms MS    stop once no programming frame came for MS after the
                       first one; 0 never [3000 with --exit-after-programming,
                       else 0]

  --quiet              print nothing but errors and the check
  -h, --help           this text
)help";

[[noreturn]] void Fail(const std::string& message) {
  throw std::invalid_argument(message);
}

unsigned long Number(const std::string& option, const std::string& text, unsigned long max) {
  if (text.empty()) Fail(option + " needs a number");
  char* end = nullptr;
  errno = 0;
  const unsigned long value = std::strtoul(text.c_str(), &end, 0);
  if (errno != 0 || *end != '\0' || text[0] == '-') Fail(option + ": '" + text + "' is not a number");
  if (value > max) Fail(option + ": " + text + " is above " + std::to_string(max));
  return value;
}

std::uint32_t FrameNumber(const std::string& option, const std::string& text) {
  return static_cast<std::uint32_t>(Number(option, text, 1u << 30));
}

std::pair<std::string, std::string> Pair(const std::string& option, const std::string& text) {
  const auto colon = text.find(':');
  if (colon == std::string::npos) Fail(option + " wants A:B, got '" + text + "'");
  return {text.substr(0, colon), text.substr(colon + 1)};
}

std::vector<std::uint8_t> HexBytes(const std::string& option, const std::string& text) {
  std::string digits;
  for (char c : text) {
    if (c != ' ' && c != ',' && c != ':') digits += c;
  }
  if (digits.size() % 2 != 0 || digits.empty()) Fail(option + ": '" + text + "' is not whole hex bytes");
  std::vector<std::uint8_t> bytes;
  for (std::size_t i = 0; i < digits.size(); i += 2)
    bytes.push_back(static_cast<std::uint8_t>(Number(option, "0x" + digits.substr(i, 2), 255)));
  return bytes;
}

}  // namespace

const char* HelpText() { return kHelp; }

CommandLine ParseCommandLine(const std::vector<std::string>& args) {
  CommandLine o;
  o.config.personalities.assign(1, Personality{});
  bool idleGiven = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= args.size()) Fail(a + " needs a value");
      return args[++i];
    };
    auto ms = [&](const std::string& text) { return Micros(Number(a, text, 3600000) * 1000); };
    Personality& p = o.config.personalities.back();
    SimConfig& c = o.config;
    if (a == "-h" || a == "--help") o.help = true;
    else if (a == "--quiet") o.quiet = true;
    else if (a == "--device") p.deviceCode = static_cast<std::uint8_t>(Number(a, value(), 255));
    else if (a == "--version") p.version = static_cast<std::uint8_t>(Number(a, value(), 255));
    else if (a == "--print") p.printCode = static_cast<std::uint8_t>(Number(a, value(), 255));
    else if (a == "--prep") p.preparationCode = static_cast<std::uint8_t>(Number(a, value(), 255));
    else if (a == "--no-identity") p.identityRecord = false;
    else if (a == "--info") {
      p.infoText = value();
      if (p.infoText.size() > 24) Fail("--info takes at most 24 characters");
    } else if (a == "--protect") {
      auto [start, count] = Pair(a, value());
      p.protectedStart = static_cast<std::uint16_t>(Number(a, start, 0xFFFF));
      p.protectedCount = static_cast<std::uint16_t>(Number(a, count, 0xFFFF));
    } else if (a == "--info-record") {
      const std::string v = value();
      if (v == "on") p.sendInfoRecord = true;
      else if (v == "off") p.sendInfoRecord = false;
      else if (v == "auto") p.sendInfoRecord.reset();
      else Fail("--info-record takes on, off or auto");
    } else if (a == "--eeprom-size") p.eepromSize = static_cast<std::uint16_t>(Number(a, value(), 0xFFFF));
    else if (a == "--advance") {
      const std::string v = value();
      if (v == "never") p.advance = Advance::Never;
      else if (v == "programmed") p.advance = Advance::AfterProgramming;
      else if (v == "command4") p.advance = Advance::OnCommand4;
      else Fail("--advance takes never, programmed or command4");
    } else if (a == "--next") {
      o.config.personalities.push_back(Personality{});
      o.expectHex.emplace_back();
    } else if (a == "--expect-hex") {
      o.expectHex.back().push_back(value());
      if (o.expectHex.back().back().empty()) Fail("--expect-hex needs a file name");
    } else if (a == "--exit-after-programming") o.exitRule.afterProgramming = true;
    else if (a == "--exit-idle-ms") {
      o.exitRule.idle = std::chrono::milliseconds(Number(a, value(), 3600000));
      idleGiven = true;
    }
    else if (a == "--com") c.comNumber = static_cast<int>(Number(a, value(), 257));
    else if (a == "--port-dir") c.portDir = value();
    else if (a == "--tty") c.ttyPath = value();
    else if (a == "--handshake") {
      c.handshakeBytes.clear();
      std::string list = value() + ",";
      for (std::size_t from = 0, comma; (comma = list.find(',', from)) != std::string::npos; from = comma + 1)
        c.handshakeBytes.push_back(static_cast<std::uint8_t>(Number(a, list.substr(from, comma - from), 255)));
    } else if (a == "--key") c.keyConstant = static_cast<std::uint8_t>(Number(a, value(), 255));
    else if (a == "--no-scramble") c.scramble = false;
    else if (a == "--eeprom-keyed") c.eepromKeyed = true;
    else if (a == "--access") {
      c.accessString = value();
      if (c.accessString.size() != 15) Fail("--access takes exactly 15 characters");
    } else if (a == "--no-guard-protected") c.guardProtectedRange = false;
    else if (a == "--flash-hex") c.flashHexPath = value();
    else if (a == "--eeprom-hex") c.eepromHexPath = value();
    else if (a == "--transcript") c.transcriptPath = value();
    else if (a == "--refuse") {
      auto [n, k] = Pair(a, value());
      c.faults.push_back(Fault::Refuse(FrameNumber(a, n), static_cast<std::uint32_t>(Number(a, k, 1u << 30))));
    } else if (a == "--silent") {
      c.faults.push_back(Fault::Silent(FrameNumber(a, value())));
    } else if (a == "--late") {
      auto [n, t] = Pair(a, value());
      c.faults.push_back(Fault::Late(FrameNumber(a, n), ms(t)));
    } else if (a == "--noise-before" || a == "--noise-after") {
      auto [n, hex] = Pair(a, value());
      c.faults.push_back(a == "--noise-before" ? Fault::NoiseBefore(FrameNumber(a, n), HexBytes(a, hex))
                                               : Fault::NoiseAfter(FrameNumber(a, n), HexBytes(a, hex)));
    } else if (a == "--drop-after") c.dropAfterBytes = Number(a, value(), 1ul << 40);
    else if (a == "--answer-from") c.answerFromHandshake = static_cast<std::uint32_t>(Number(a, value(), 1u << 30));
    else if (a == "--pace") c.paceLine = true;
    else if (a == "--flash-write-ms") c.flashWriteTime = ms(value());
    else if (a == "--eeprom-write-ms") c.eepromWriteTime = ms(value());
    else if (a == "--info-delay") c.infoDelay = ms(value());
    else Fail("unknown option '" + a + "' (see --help)");
  }
  // A run that breaks off must not leave a waiting script hanging.
  if (o.exitRule.afterProgramming && !idleGiven) o.exitRule.idle = kDefaultExitIdle;
  return o;
}

}  // namespace kestovane::sim
