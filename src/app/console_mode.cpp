#include "app/console_mode.h"

#include <strings.h>

#include <cstdlib>
#include <string_view>

#include "app/feedback.h"
#include "app/personality.h"
#include "app/startup.h"
#include "catalogue/firmware_set.h"
#include "platform/console_renderer.h"
#include "platform/instance_lock.h"
#include "remote/udp_listener.h"
#include "serial/port_channel.h"

namespace kestovane {

namespace {

// The texts that end a run, and what they mean for a script.
struct OutcomeText {
  std::string_view text;
  ConsoleExit exit;
};
constexpr OutcomeText kOutcomes[] = {
    {.text = "Program OK", .exit = kExitSuccess},
    {.text = " Program Ok ", .exit = kExitSuccess},
    {.text = "Successfully updated", .exit = kExitSuccess},
    {.text = "Invalid Port Com", .exit = kExitPortUnusable},
    {.text = "Port not valid. Select a new port.", .exit = kExitPortUnusable},
    {.text = "Device not Found", .exit = kExitNoDevice},
    {.text = "The device is not find.", .exit = kExitNoDevice},
    {.text = " No Hex inside !! ", .exit = kExitNoImage},
    {.text = " Hex too Big !! ", .exit = kExitNoImage},
    {.text = " Error !! ", .exit = kExitNoImage},
    {.text = " Incompatible Bootloader !! ", .exit = kExitNoImage},
    {.text = "not suitable apparatus", .exit = kExitNoImage},
    {.text = " not Response ", .exit = kExitTransferFailed},
    {.text = " CHK Error !! ", .exit = kExitTransferFailed},
    {.text = " User Abort !! ", .exit = kExitStopped},
};

// "COM5" -> 4; anything else -> -1.
int PortIndexOfName(const std::string& name) {
  if (name.size() < 4 || strncasecmp(name.c_str(), "COM", 3) != 0) return -1;
  char* end = nullptr;
  const long number = std::strtol(name.c_str() + 3, &end, 10);
  if (*end != '\0' || number < 1 || number > MaxPortIndex + 1) return -1;
  return static_cast<int>(number - 1);
}

}  // namespace

std::string HelpText() {
  return "Usage: kestovane [\\P] [--console [--port COMn|DEVICE]] [--help]\n"
         "\n"
         "Programs the firmware set of this build into a device whose bootloader\n"
         "answers on a serial port.\n"
         "\n"
         "  \\P              as the first argument: also listen on UDP port 3004\n"
         "  --console       run without a display: press the start button once,\n"
         "                  print what the window shows, exit with the outcome\n"
         "  --port PORT     for this run only: a port name (COM1 to COM257) or a\n"
         "                  device path such as /dev/ttyUSB0\n"
         "  --help          this text\n"
         "\n"
         "Exit codes in console mode:\n"
         "  0 programmed   1 bad command line   2 port unusable   3 no device found\n"
         "  4 no image or image refused   5 transfer failed   6 stopped (Ctrl-C)\n"
         "  7 another copy is running\n";
}

ProgramOptions ParseProgramOptions(int argc, char** argv) {
  ProgramOptions o;
  int first = CommandLineAsksForListener(argc, argv) ? 2 : 1;
  for (int i = first; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--console") {
      o.console = true;
    } else if (arg == "--help" || arg == "-h") {
      o.help = true;
    } else if (arg == "--port") {
      if (i + 1 >= argc) {
        o.error = "--port needs a port name (COM1 to COM257) or a device path";
        return o;
      }
      o.port = argv[++i];
    } else if (arg.rfind("--port=", 0) == 0) {
      o.port = arg.substr(7);
    } else if (arg.rfind("-", 0) == 0) {
      o.error = "unknown option " + arg;
      return o;
    }
  }
  if (!o.port.empty() && !o.console) o.error = "--port is for console mode (--console)";
  if (!o.port.empty() && PortIndexOfName(o.port) < 0 && o.port.find('/') == std::string::npos)
    o.error = "--port takes COM1 to COM257 or a device path, not " + o.port;
  return o;
}

ConsoleExit OutcomeOf(const std::vector<std::string>& printed) {
  // A line reads "Control: text"; the text must be one of the outcomes
  // exactly (" CHK Error !! " is not " Error !! "), or the refusal of an
  // image, "<board> - Preparation <code>".
  ConsoleExit outcome = kExitTransferFailed;
  for (const std::string& line : printed) {
    const size_t colon = line.find(": ");
    const std::string_view text = colon == std::string::npos ? std::string_view(line)
                                                             : std::string_view(line).substr(colon + 2);
    for (const OutcomeText& o : kOutcomes)
      if (text == o.text) outcome = o.exit;
    if (text.find(" - Preparation ") != std::string_view::npos) outcome = kExitNoImage;
  }
  return outcome;
}

int RunConsole(int argc, char** argv, const ProgramOptions& options, ConsoleRenderer& renderer) {
  ProgramCommandLine = {argc, argv};
  Application->SetRenderer(&renderer);
  CatalogueLabel = BuildCatalogueLabel();

  InstanceLock lock;
  if (lock.Acquire(kInstanceMutexName) == InstanceLock::Result::AlreadyRunning) {
    ShowMessageBox("Already in progress", PersonalityTitle(Personality::Updater).c_str(), MB_TOPMOST);
    return kExitAlreadyRunning;
  }

  TForm* main = nullptr;
  try {
    Application->Initialize();
    CurrentPersonality = ChoosePersonality(CatalogueLabel);
    CreateWindows();
    main = Application->MainForm();
  } catch (const std::exception& e) {
    Application->ShowException(e);
    return kExitUsage;
  }

  // The port given for this run does not become the stored choice.
  const int16_t storedPort = SelectedPortIndex;
  if (!options.port.empty()) {
    const int index = PortIndexOfName(options.port);
    SelectedPortIndex = static_cast<int16_t>(index >= 0 ? index : 0);
    if (index < 0) SetPortPathOverride(0, options.port);
    OpenedPortIndex = static_cast<int16_t>(SelectedPortIndex - 1);
    if (auto* bar = dynamic_cast<TStatusBar*>(main->FindControl("StatusBar1"))) ShowPortLabel(bar);
  }

  TControl* start = main->FindControl("Button1");
  TControl* stop = main->FindControl("Button2");
  renderer.SetInterruptAction([stop] { Application->PostClick(stop); });
  renderer.CatchInterrupt();

  main->Show();
  Application->ProcessMessages();
  const size_t before = renderer.Printed().size();
  Application->PostClick(start);
  Application->ProcessMessages();
  renderer.Finish();

  const std::vector<std::string> during(renderer.Printed().begin() + static_cast<long>(before),
                                        renderer.Printed().end());
  const ConsoleExit outcome = OutcomeOf(during);

  if (!options.port.empty()) SelectedPortIndex = storedPort;
  SetPortPathOverride(0, "");
  main->Close();
  Application->ProcessMessages();
  return outcome;
}

}  // namespace kestovane
