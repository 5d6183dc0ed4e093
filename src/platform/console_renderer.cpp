#include "platform/console_renderer.h"

#include <atomic>
#include <csignal>

namespace kestovane {

namespace {

std::atomic<bool> interrupted{false};

extern "C" void OnInterrupt(int) { interrupted.store(true); }

int PercentOf(const TProgressBar& bar) {
  const int span = bar.Max() - bar.Min();
  if (span <= 0) return 0;
  return static_cast<int>(100LL * (bar.Position() - bar.Min()) / span);
}

// The texts a control shows: a caption, or one per status bar panel.
std::vector<std::string> TextsOf(const TControl& c) {
  if (c.Kind() == ControlKind::StatusBar) {
    std::vector<std::string> texts;
    for (const auto& panel : static_cast<const TStatusBar&>(c).Panels()) texts.push_back(panel.text);
    return texts;
  }
  if (c.Kind() == ControlKind::Label) return {c.Caption()};
  return {};
}

}  // namespace

ConsoleRenderer::ConsoleRenderer(std::FILE* out, bool terminal) : out_(out), terminal_(terminal) {}

ConsoleRenderer::~ConsoleRenderer() {
  Finish();
  if (catching_) std::signal(SIGINT, SIG_DFL);
}

void ConsoleRenderer::CatchInterrupt() {
  interrupted.store(false);
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  catching_ = true;
}

void ConsoleRenderer::Finish() {
  if (barOpen_) {
    std::fputc('\n', out_);
    std::fflush(out_);
    barOpen_ = false;
  }
}

void ConsoleRenderer::PrintText(const std::string& line) {
  if (barOpen_) std::fputs("\r\033[K", out_);
  std::fprintf(out_, "%s\n", line.c_str());
  printed_.push_back(line);
  barOpen_ = false;
  std::fflush(out_);
}

void ConsoleRenderer::ShowProgress(const TProgressBar& bar, int& lastPercent) {
  const int percent = PercentOf(bar);
  if (lastPercent == percent) return;
  lastPercent = percent;
  if (terminal_) {
    constexpr int kWidth = 40;
    const int filled = percent * kWidth / 100;
    std::fprintf(out_, "\r\033[K[%s%s] %3d%%", std::string(static_cast<size_t>(filled), '#').c_str(),
                 std::string(static_cast<size_t>(kWidth - filled), ' ').c_str(), percent);
    barOpen_ = true;
  } else {
    std::fprintf(out_, "%s: %d%%\n", bar.Name().c_str(), percent);
  }
  std::fflush(out_);
}

void ConsoleRenderer::Sync(TApplication& app) {
  if (app.ChangeCount() == lastChange_) return;
  lastChange_ = app.ChangeCount();
  for (TForm* form : app.Forms()) {
    if (!form->Visible()) continue;
    for (TControl* c : form->Controls()) {
      Shown& seen = shown_[c];
      const bool showing = c->Showing();
      if (seen.version == c->Version() && seen.showing == showing) continue;
      seen.version = c->Version();
      seen.showing = showing;
      if (c->Kind() == ControlKind::ProgressBar) {
        if (showing) ShowProgress(static_cast<const TProgressBar&>(*c), seen.percent);
        continue;
      }
      std::vector<std::string> texts = showing ? TextsOf(*c) : std::vector<std::string>{};
      std::vector<std::string>& before = seen.texts;
      for (size_t i = 0; i < texts.size(); ++i) {
        const bool changed = i >= before.size() || before[i] != texts[i];
        // A blank text is a cleared line, not news for the operator.
        const bool blank = texts[i].find_first_not_of(' ') == std::string::npos;
        if (changed && !blank) {
          const std::string where =
              c->Kind() == ControlKind::StatusBar ? c->Name() + "[" + std::to_string(i) + "]" : c->Name();
          PrintText(where + ": " + texts[i]);
        }
      }
      before = std::move(texts);
    }
  }
}

void ConsoleRenderer::Poll(TApplication& app, int waitMs) {
  if (interrupted.exchange(false) && onInterrupt_) onInterrupt_();
  if (waitMs != 0) app.WaitForPosted(waitMs < 0 ? 50 : waitMs);
}

int ConsoleRenderer::MessageBox(const std::string& text, const std::string& caption, unsigned) {
  PrintText((caption.empty() ? std::string("Message") : caption) + ": " + text);
  return IDOK;
}

void ConsoleRenderer::ShowError(const std::string& message) { PrintText("Error: " + message); }

}  // namespace kestovane
