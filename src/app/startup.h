// The program's entry: one copy at a time, the personality, the windows in
// their fixed order, the event loop, and the error guard around them.
#pragma once

#include "platform/forms.h"

namespace kestovane {

inline constexpr const char* kInstanceMutexName = "KESTOVANE.MUTEX";

// The command line as the program got it; read by the remote listener.
struct CommandLine {
  int argc = 0;
  char** argv = nullptr;
};
extern CommandLine ProgramCommandLine;

// Runs the program with the given renderer (nullptr: headless) and returns
// its exit code, 0 in every case.
int RunProgram(int argc, char** argv, Renderer* renderer);

// Creates the windows of the current personality in their fixed order, the
// first one becoming the main window. Used by RunProgram and by tests.
void CreateWindows();

}  // namespace kestovane
