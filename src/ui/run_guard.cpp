#include "ui/run_guard.h"

#include "protocol/exchange.h"

namespace kestovane {

namespace {
bool running = false;
TForm* closeAfterRun = nullptr;
}  // namespace

RunGuard::RunGuard(TForm*) {
  if (running) return;
  started_ = true;
  abortRequested = 0;
  running = true;
}

RunGuard::~RunGuard() {
  if (!started_) return;
  running = false;
  if (TForm* form = closeAfterRun) {
    closeAfterRun = nullptr;
    form->Close();
  }
}

bool RunGuard::Running() { return running; }

bool RunGuard::CloseQuery(TForm* form) {
  if (!running) return true;
  abortRequested = 1;
  closeAfterRun = form;
  return false;
}

}  // namespace kestovane
