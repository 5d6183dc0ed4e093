// A fresh program for each test: every process-wide value back to its start,
// then the windows of a chosen label created as start-up creates them.
#pragma once

#include <string>

#include "platform/forms.h"

namespace kestovane::testing {

// Puts the application, the windows and the engine's shared values back to
// the state of a program that has just started.
void ResetProgram();

// ResetProgram, then the label (nullptr: none), the personality and the
// windows, as start-up does before its event loop.
void StartProgram(const char* label);

// Points XDG_RUNTIME_DIR (the instance lock) and XDG_CONFIG_HOME (the
// settings) at folders of this test process, so tests running side by side
// and a copy of the program in use never meet.
std::string PrivateRuntimeDir();

}  // namespace kestovane::testing
