// The program's entry: a Qt display when there is one, otherwise headless.
#include <cstdio>
#include <cstdlib>

#include "app/startup.h"
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
#ifdef KESTOVANE_HAVE_QT
  if (DisplayPresent()) {
    QApplication qapp(argc, argv);
    kestovane::QtRenderer renderer;
    return kestovane::RunProgram(argc, argv, &renderer);
  }
#endif
  std::fprintf(stderr, "kestovane: no display to show the window on (set DISPLAY)\n");
  return 1;
}
