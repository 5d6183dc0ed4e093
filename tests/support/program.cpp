#include "support/program.h"

#include <cstdlib>
#include <filesystem>

#include "app/feedback.h"
#include "app/personality.h"
#include "app/startup.h"
#include "protocol/exchange.h"
#include "remote/udp_listener.h"
#include "serial/port_channel.h"
#include "settings/settings_store.h"
#include "ui/loader_window.h"
#include "ui/serialsetup.h"
#include "ui/updater_window.h"
#include "ui/upgrade_window.h"
#include "ui/version.h"

namespace kestovane::testing {

void ResetProgram() {
  PrivateRuntimeDir();
  Application->Reset();
  Form1 = nullptr;
  Form3 = nullptr;
  Form4 = nullptr;
  Form5 = nullptr;
  Form6 = nullptr;
  CurrentPersonality = Personality::Updater;
  LoaderVariant = 0;
  BatchMode = 0;
  abortRequested = 0;
  CatalogueLabel = nullptr;
  ResetPanelIndices();
  ResetPortTable();
  RemoteListener.reset();
  RemoteListenerPort = kRemoteListenerPort;
  ResetSettingsProblems();
}

void StartProgram(const char* label) {
  ResetProgram();
  CatalogueLabel = label;
  Application->Initialize();
  CurrentPersonality = ChoosePersonality(label);
  CreateWindows();
}

std::string PrivateRuntimeDir() {
  static const std::string dir = [] {
    std::string pattern = (std::filesystem::temp_directory_path() / "kestovane-test-XXXXXX").string();
    const char* made = mkdtemp(pattern.data());
    std::string d = made ? made : "/tmp";
    std::filesystem::create_directories(d + "/config");
    setenv("XDG_RUNTIME_DIR", d.c_str(), 1);
    setenv("XDG_CONFIG_HOME", (d + "/config").c_str(), 1);
    return d;
  }();
  return dir;
}

}  // namespace kestovane::testing
