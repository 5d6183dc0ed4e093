// Shows the windows' texts on a console: every text a visible window shows
// (labels, status bar panels) is printed when it changes, and progress is a
// bar on a terminal or plain percentage lines otherwise. Ctrl-C becomes the
// window's stop button.
#pragma once

#include <cstdio>
#include <functional>
#include <map>
#include <string>

#include "platform/forms.h"

namespace kestovane {

class ConsoleRenderer : public Renderer {
 public:
  // out: where texts go; terminal: draw progress as a bar redrawn in place.
  ConsoleRenderer(std::FILE* out, bool terminal);
  ~ConsoleRenderer() override;

  void Sync(TApplication& app) override;
  void Poll(TApplication& app, int waitMs) override;
  int MessageBox(const std::string& text, const std::string& caption, unsigned flags) override;
  void ShowError(const std::string& message) override;

  // What Ctrl-C does; called on the GUI thread from Poll.
  void SetInterruptAction(std::function<void()> action) { onInterrupt_ = std::move(action); }
  // Catches SIGINT for this renderer's lifetime.
  void CatchInterrupt();

  // Every text line printed so far, in order (without progress lines).
  const std::vector<std::string>& Printed() const { return printed_; }

  // Ends a bar in progress with a line break, so later output starts clean.
  void Finish();

 private:
  void PrintText(const std::string& line);
  void ShowProgress(const TProgressBar& bar, int& lastPercent);

  std::FILE* out_;
  bool terminal_;
  uint64_t lastChange_ = 0;
  // What was last printed for a control, and the state it was printed from:
  // a control whose version and visibility did not move is not looked at.
  struct Shown {
    uint64_t version = 0;
    bool showing = false;
    std::vector<std::string> texts;
    int percent = -1;
  };
  std::map<const TControl*, Shown> shown_;
  std::vector<std::string> printed_;
  bool barOpen_ = false;
  std::function<void()> onInterrupt_;
  bool catching_ = false;
};

}  // namespace kestovane
