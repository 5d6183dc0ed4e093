#include "app/startup.h"

#include "app/feedback.h"
#include "app/personality.h"
#include "catalogue/firmware_set.h"
#include "platform/instance_lock.h"
#include "ui/loader_window.h"
#include "ui/serialsetup.h"
#include "ui/updater_window.h"
#include "ui/upgrade_window.h"
#include "ui/version.h"

namespace kestovane {

CommandLine ProgramCommandLine;

void CreateWindows() {
  if (CurrentPersonality == Personality::Upgrade) Application->CreateForm(Form5);
  if (CurrentPersonality == Personality::Loader) Application->CreateForm(Form6);
  Application->CreateForm(Form1);
  Application->CreateForm(Form3);
  Application->CreateForm(Form4);
}

int RunProgram(int argc, char** argv, Renderer* renderer) {
  ProgramCommandLine = {argc, argv};
  Application->SetRenderer(renderer);
  CatalogueLabel = BuildCatalogueLabel();

  InstanceLock lock;
  if (lock.Acquire(kInstanceMutexName) == InstanceLock::Result::AlreadyRunning) {
    // Another copy runs: say so under the Updater title, whatever this
    // build's own personality, and leave without creating a window.
    Application->SetTitle("");
    ShowMessageBox("Already in progress", PersonalityTitle(Personality::Updater).c_str(), MB_TOPMOST);
    return 0;
  }
  // Any other failure to take the lock lets the program run without it.

  try {
    const char* stored = CatalogueLabel;
    Application->Initialize();
    CurrentPersonality = ChoosePersonality(stored);
    CreateWindows();
    Application->Run();
  } catch (const Exception& e) {
    Application->ShowException(e);
  } catch (...) {
    // Only the platform's own errors keep their message.
    Application->ShowException(Exception(""));
  }
  return 0;
}

}  // namespace kestovane
