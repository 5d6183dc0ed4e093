// Console mode: the build's personality without a display, for scripts and
// test stations. The windows are created as usual, the main window's start
// button is pressed once, every text the window shows is printed, and the
// exit code tells how the run ended.
#pragma once

#include <string>
#include <vector>

namespace kestovane {

class ConsoleRenderer;

enum ConsoleExit : int {
  kExitSuccess = 0,
  kExitUsage = 1,          // bad command line, or the program could not start
  kExitPortUnusable = 2,
  kExitNoDevice = 3,
  kExitNoImage = 4,        // no image for the device, or the image was refused
  kExitTransferFailed = 5,
  kExitStopped = 6,        // Ctrl-C, the console's stop button
  kExitAlreadyRunning = 7,
};

struct ProgramOptions {
  bool console = false;
  bool help = false;
  std::string port;   // "COMn" or a device path; empty: the stored choice
  std::string error;  // a bad command line, said in one sentence
};

// Reads the command line. A first argument "\P" keeps its meaning (the
// remote listener) and is skipped here.
ProgramOptions ParseProgramOptions(int argc, char** argv);
std::string HelpText();

// How a run ended, from the texts the window showed during it (last one
// that names an outcome wins).
ConsoleExit OutcomeOf(const std::vector<std::string>& printed);

int RunConsole(int argc, char** argv, const ProgramOptions& options, ConsoleRenderer& renderer);

}  // namespace kestovane
