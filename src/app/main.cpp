// The program's entry: console mode when asked for, a Qt display when there
// is one.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "app/console_mode.h"
#include "app/startup.h"
#include "platform/console_renderer.h"
#include "platform/forms.h"

#ifdef KESTOVANE_HAVE_QT
#include <QApplication>

#include "platform/qt/qt_renderer.h"
#endif

namespace {

bool DisplayPresent() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    const char* value = std::getenv(name);
    if (value && *value) return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace kestovane;
  const ProgramOptions options = ParseProgramOptions(argc, argv);
  if (!options.error.empty()) {
    std::fprintf(stderr, "kestovane: %s\n\n%s", options.error.c_str(), HelpText().c_str());
    return kExitUsage;
  }
  if (options.help) {
    std::fputs(HelpText().c_str(), stdout);
    return 0;
  }
  if (options.console) {
    ConsoleRenderer renderer(stdout, isatty(STDOUT_FILENO) != 0);
    return RunConsole(argc, argv, options, renderer);
  }
#ifdef KESTOVANE_HAVE_QT
  if (DisplayPresent()) {
    QApplication qapp(argc, argv);
    QtRenderer renderer;
    return RunProgram(argc, argv, &renderer);
  }
#endif
  std::fprintf(stderr, "kestovane: no display to show the window on; use --console to run without one\n");
  return kExitUsage;
}
