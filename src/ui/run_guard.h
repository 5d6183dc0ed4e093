// A run is a synchronous call from a start button's handler, and the window's
// messages are pumped inside it. A close request that arrives that way must
// not tear the window and the port down under the running engine: it stops
// the run first, and the window closes once the run has returned.
#pragma once

#include "platform/forms.h"

namespace kestovane {

class RunGuard {
 public:
  // Starts a run of `form`: a stop left over from before it is dropped, so
  // it cannot abort this run at its first wait. A start pressed while a run
  // is going (START is shown again during a run's last pauses) starts
  // nothing: Started() is false and the handler returns.
  explicit RunGuard(TForm* form);
  bool Started() const { return started_; }
  ~RunGuard();
  RunGuard(const RunGuard&) = delete;
  RunGuard& operator=(const RunGuard&) = delete;

  static bool Running();
  // The window's close query: false (and a stop request) while a run is going.
  static bool CloseQuery(TForm* form);

 private:
  bool started_ = false;
};

}  // namespace kestovane
