// Our stand-in for the form toolkit the windows were designed with.
//
// Every control is a plain object whose state (caption, colours, font,
// visibility, bounds, progress, panel texts, list items ...) is kept here and
// reads back, so the engine and the tests need no display. A Renderer, when
// one is attached to the application, mirrors that state on screen (Qt) or on
// a console, and feeds the operator's input back as posted events that
// TApplication::ProcessMessages delivers to the handlers on the GUI thread.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace kestovane {

// 0x00BBGGRR for a fixed colour, 0xFF0000nn for the system colour of index nn.
using TColor = uint32_t;
constexpr TColor clBlack = 0x000000;
constexpr TColor clRed = 0x0000FF;
constexpr TColor clGreen = 0x008000;
constexpr TColor clSilver = 0xC0C0C0;
constexpr TColor clWhite = 0xFFFFFF;
constexpr TColor clBtnFace = 0xFF00000F;
constexpr TColor clWindow = 0xFF000005;
constexpr TColor clWindowText = 0xFF000008;

constexpr bool IsSystemColor(TColor c) { return (c & 0xFF000000u) == 0xFF000000u; }

enum class TAlignment { taLeftJustify, taRightJustify, taCenter };

enum FontStyle : uint8_t { fsBold = 1, fsItalic = 2, fsUnderline = 4, fsStrikeOut = 8 };

struct TFont {
  std::string name = "MS Sans Serif";
  // Negative: character height in pixels; positive: cell height in pixels.
  int height = -11;
  uint8_t style = 0;
  TColor color = clWindowText;
  bool operator==(const TFont&) const = default;
};

struct TRect {
  int left = 0, top = 0, width = 0, height = 0;
  bool operator==(const TRect&) const = default;
};

enum class ControlKind {
  Form, Label, Button, Image, Bevel, Panel, ProgressBar, StatusBar, ComboBox, ListBox, MenuItem
};

class TForm;
class TApplication;

// The common part of every control. Each setter bumps a change counter so a
// renderer can redraw only what changed.
class TControl {
 public:
  TControl(ControlKind kind, std::string name, TControl* parent, TRect bounds);
  virtual ~TControl() = default;
  TControl(const TControl&) = delete;
  TControl& operator=(const TControl&) = delete;

  ControlKind Kind() const { return kind_; }
  const std::string& Name() const { return name_; }
  TControl* Parent() const { return parent_; }
  TForm* Form() const;

  const TRect& Bounds() const { return bounds_; }
  void SetBounds(TRect r) { Set(bounds_, r); }
  int Left() const { return bounds_.left; }
  int Top() const { return bounds_.top; }
  int Width() const { return bounds_.width; }
  int Height() const { return bounds_.height; }
  void SetLeft(int v) { SetBounds({v, bounds_.top, bounds_.width, bounds_.height}); }
  void SetTop(int v) { SetBounds({bounds_.left, v, bounds_.width, bounds_.height}); }
  void SetWidth(int v) { SetBounds({bounds_.left, bounds_.top, v, bounds_.height}); }

  bool Visible() const { return visible_; }
  virtual void SetVisible(bool v) { Set(visible_, v); }
  void Show() { SetVisible(true); }
  void Hide() { SetVisible(false); }
  // Visible itself and every parent up to and including its form.
  bool Showing() const;

  bool Enabled() const { return enabled_; }
  void SetEnabled(bool v) { Set(enabled_, v); }

  const std::string& Caption() const { return caption_; }
  void SetCaption(const std::string& s) { Set(caption_, s); }
  const std::string& Hint() const { return hint_; }
  void SetHint(const std::string& s) { Set(hint_, s); }

  TColor Color() const { return color_; }
  void SetColor(TColor c) { Set(color_, c); }
  const TFont& Font() const { return font_; }
  void SetFont(const TFont& f) { Set(font_, f); }
  void SetFontName(const std::string& n) { TFont f = font_; f.name = n; SetFont(f); }
  void SetFontHeight(int h) { TFont f = font_; f.height = h; SetFont(f); }
  void SetFontStyle(uint8_t s) { TFont f = font_; f.style = s; SetFont(f); }
  void SetFontColor(TColor c) { TFont f = font_; f.color = c; SetFont(f); }

  TAlignment Alignment() const { return alignment_; }
  void SetAlignment(TAlignment a) { Set(alignment_, a); }
  bool Transparent() const { return transparent_; }
  void SetTransparent(bool t) { Set(transparent_, t); }

  // Asks for an immediate redraw: the renderer brings the screen up to date
  // before returning, without delivering any input.
  void Repaint();
  int RepaintCount() const { return repaints_; }

  void SetFocus();
  bool Focused() const;

  std::function<void()> OnClick;
  std::function<void()> OnDblClick;

  uint64_t Version() const { return version_; }
  const std::vector<TControl*>& Children() const { return children_; }

 protected:
  template <class T>
  void Set(T& field, const T& value) {
    if (field == value) return;
    field = value;
    Touch();
  }
  void Touch();

 private:
  ControlKind kind_;
  std::string name_;
  TControl* parent_;
  std::vector<TControl*> children_;
  TRect bounds_;
  bool visible_ = true;
  bool enabled_ = true;
  std::string caption_;
  std::string hint_;
  TColor color_ = clBtnFace;
  TFont font_;
  TAlignment alignment_ = TAlignment::taLeftJustify;
  bool transparent_ = false;
  int repaints_ = 0;
  uint64_t version_ = 1;
};

// A list of texts owned by a control; changes count as changes of the owner.
class TStrings {
 public:
  explicit TStrings(std::function<void()> touched) : touched_(std::move(touched)) {}
  void Clear();
  void Add(const std::string& s);
  int Count() const { return static_cast<int>(items_.size()); }
  const std::string& operator[](int i) const { return items_.at(static_cast<size_t>(i)); }
  const std::vector<std::string>& Items() const { return items_; }

 private:
  std::vector<std::string> items_;
  std::function<void()> touched_;
};

class TLabel : public TControl {
 public:
  TLabel(std::string name, TControl* parent, TRect b) : TControl(ControlKind::Label, std::move(name), parent, b) {}
};

class TButton : public TControl {
 public:
  TButton(std::string name, TControl* parent, TRect b) : TControl(ControlKind::Button, std::move(name), parent, b) {}
};

class TImage : public TControl {
 public:
  TImage(std::string name, TControl* parent, TRect b) : TControl(ControlKind::Image, std::move(name), parent, b) {}
  bool Stretch = false, Center = false, Proportional = false;
  // Which of our logos the picture shows; the renderer draws it.
  std::string Picture;
};

class TBevel : public TControl {
 public:
  TBevel(std::string name, TControl* parent, TRect b) : TControl(ControlKind::Bevel, std::move(name), parent, b) {}
  bool Lowered = true;
};

class TPanel : public TControl {
 public:
  TPanel(std::string name, TControl* parent, TRect b) : TControl(ControlKind::Panel, std::move(name), parent, b) {}
};

enum class TProgressBarState { pbsNormal, pbsError, pbsPaused };

class TProgressBar : public TControl {
 public:
  TProgressBar(std::string name, TControl* parent, TRect b)
      : TControl(ControlKind::ProgressBar, std::move(name), parent, b) {}
  int Position() const { return position_; }
  void SetPosition(int p);
  int Min() const { return min_; }
  int Max() const { return max_; }
  void SetMin(int v) { Set(min_, v); }
  void SetMax(int v) { Set(max_, v); }
  bool Smooth() const { return smooth_; }
  void SetSmooth(bool s) { Set(smooth_, s); }
  TProgressBarState State() const { return state_; }
  void SetState(TProgressBarState s) { Set(state_, s); }

 private:
  int position_ = 0, min_ = 0, max_ = 100;
  bool smooth_ = false;
  TProgressBarState state_ = TProgressBarState::pbsNormal;
};

struct TStatusPanel {
  std::string text;
  int width = 50;
  bool operator==(const TStatusPanel&) const = default;
};

class TStatusBar : public TControl {
 public:
  TStatusBar(std::string name, TControl* parent, int height, std::vector<int> panelWidths);
  int PanelCount() const { return static_cast<int>(panels_.size()); }
  // Reading or writing a panel that does not exist is harmless: the text is
  // empty and a write is dropped, as no writer may index past the bar.
  const std::string& PanelText(int index) const;
  // Reuses the panel's storage: a text written on every frame allocates nothing.
  void SetPanelText(int index, std::string_view text);
  int PanelWidth(int index) const;
  const std::vector<TStatusPanel>& Panels() const { return panels_; }

 private:
  std::vector<TStatusPanel> panels_;
};

class TComboBox : public TControl {
 public:
  TComboBox(std::string name, TControl* parent, TRect b);
  TStrings& Items() { return items_; }
  const TStrings& Items() const { return items_; }
  int ItemIndex() const { return itemIndex_; }
  void SetItemIndex(int i) { Set(itemIndex_, i); }

 private:
  TStrings items_;
  int itemIndex_ = -1;
};

class TListBox : public TControl {
 public:
  TListBox(std::string name, TControl* parent, TRect b);
  TStrings& Items() { return items_; }
  const TStrings& Items() const { return items_; }
  int ItemIndex() const { return itemIndex_; }
  void SetItemIndex(int i) { Set(itemIndex_, i); }
  int ItemHeight = 13;

 private:
  TStrings items_;
  int itemIndex_ = -1;
};

// A top-level menu item of a window's menu bar.
class TMenuItem : public TControl {
 public:
  TMenuItem(std::string name, TControl* parent, std::string caption);
};

enum class TBorderStyle { bsNone, bsSingle, bsSizeable, bsDialog, bsToolWindow, bsSizeToolWin };

class TForm : public TControl {
 public:
  TForm(std::string name, int clientWidth, int clientHeight, int left, int top);
  ~TForm() override;

  int ClientWidth() const { return Width(); }
  int ClientHeight() const { return Height(); }
  TBorderStyle BorderStyle() const { return borderStyle_; }
  void SetBorderStyle(TBorderStyle s) { Set(borderStyle_, s); }
  bool MinimizeBox = true, MaximizeBox = false;

  // Shows the window and returns at once (modeless). A window that becomes
  // visible runs its OnShow handler first.
  void SetVisible(bool v) override;
  // Runs OnClose, then hides the window; closing the main window ends Run.
  void Close();

  TControl* ActiveControl() const { return active_; }
  void SetActiveControl(TControl* c) { Set(active_, c); }

  const std::vector<TMenuItem*>& MenuItems() const { return menu_; }

  std::function<void()> OnShow;
  std::function<void()> OnClose;
  // Asked before a close; false keeps the window open.
  std::function<bool()> OnCloseQuery;

  // The window's creation handler, run by TApplication::CreateForm once the
  // controls exist. An error thrown here leaves CreateForm.
  virtual void Created() {}

  // Creates a control owned by this window. The parent defaults to the window.
  template <class T, class... Args>
  T* Add(Args&&... args) {
    auto c = std::make_unique<T>(std::forward<Args>(args)...);
    T* raw = c.get();
    owned_.push_back(std::move(c));
    if constexpr (std::is_same_v<T, TMenuItem>) menu_.push_back(raw);
    return raw;
  }
  // Every control of the window, in creation order.
  std::vector<TControl*> Controls() const;
  TControl* FindControl(const std::string& name) const;

 private:
  std::vector<std::unique_ptr<TControl>> owned_;
  std::vector<TMenuItem*> menu_;
  TBorderStyle borderStyle_ = TBorderStyle::bsSingle;
  TControl* active_ = nullptr;
};

// The platform's error class: its message is what the error display shows.
class Exception : public std::runtime_error {
 public:
  explicit Exception(const std::string& message) : std::runtime_error(message) {}
  std::string Message() const { return what(); }
};

// What a display (or a console) does for the application. Without one the
// application runs headless: nothing is drawn and message boxes answer OK.
class Renderer {
 public:
  virtual ~Renderer() = default;
  // Brings the display in line with the controls' state.
  virtual void Sync(TApplication& app) = 0;
  // Turns pending input of the display into posted events; waits up to
  // waitMs for some (0: do not wait, negative: until something arrives).
  virtual void Poll(TApplication& app, int waitMs) = 0;
  virtual int MessageBox(const std::string& text, const std::string& caption, unsigned flags) = 0;
  virtual void ShowError(const std::string& message) = 0;
};

constexpr int IDOK = 1;
constexpr unsigned MB_OK = 0;
constexpr unsigned MB_TOPMOST = 0x40000;

class TApplication {
 public:
  TApplication();
  ~TApplication();

  void Initialize() { initialized_ = true; }
  bool Initialized() const { return initialized_; }
  const std::string& Title() const { return title_; }
  void SetTitle(const std::string& t) { title_ = t; Touch(); }

  // Constructs a window; the first one created becomes the main window.
  template <class T>
  void CreateForm(T*& ref) {
    auto form = std::make_unique<T>();
    ref = form.get();
    Register(std::move(form));
    ref->Created();
  }
  TForm* MainForm() const { return forms_.empty() ? nullptr : forms_.front().get(); }
  std::vector<TForm*> Forms() const;

  // Shows the main window and delivers input until it closes.
  void Run();
  void Terminate() { terminated_ = true; }
  bool Terminated() const { return terminated_; }

  // Delivers every pending event (clicks, close requests, posted calls) to
  // its handler on the calling thread, then updates the display. Safe to call
  // from inside a handler that is running.
  void ProcessMessages();
  // Brings the display up to date without delivering input.
  void Repaint();

  int MessageBox(const std::string& text, const std::string& caption, unsigned flags);
  void ShowException(const std::exception& e);

  // Input, safe from any thread. Events are delivered by ProcessMessages.
  void PostClick(TControl* c);
  void PostDblClick(TControl* c);
  void PostClose(TForm* f);
  void Post(std::function<void()> call);
  bool HasPendingInput();
  // Wakes a Run that waits for input without a renderer.
  void WaitForPosted(int waitMs);

  // Called (under the queue lock, from the posting thread) after every Post,
  // so a renderer that sleeps in its display's event loop wakes for the
  // event. Must be quick and thread-safe; empty for none.
  void SetWakeUp(std::function<void()> wake);

  void SetRenderer(Renderer* r) { renderer_ = r; }
  Renderer* GetRenderer() const { return renderer_; }

  // For tests and the console: what the headless error display and message
  // boxes were asked to show.
  const std::vector<std::string>& ShownErrors() const { return errors_; }
  struct ShownBox { std::string text, caption; unsigned flags; };
  const std::vector<ShownBox>& ShownBoxes() const { return boxes_; }

  // Bumped by every change of any control: a renderer skips work when it
  // has not moved since its last sync.
  uint64_t ChangeCount() const { return changes_; }
  void Touch() { ++changes_; }

  // Forgets every window and all state; for tests that build a fresh program.
  void Reset();

 private:
  void Register(std::unique_ptr<TForm> form);
  void Deliver(std::function<void()>& call);

  bool initialized_ = false;
  bool terminated_ = false;
  std::string title_;
  std::vector<std::unique_ptr<TForm>> forms_;
  Renderer* renderer_ = nullptr;
  std::mutex mutex_;
  std::condition_variable posted_;
  std::deque<std::function<void()>> queue_;
  std::function<void()> wake_;
  std::vector<std::string> errors_;
  std::vector<ShownBox> boxes_;
  uint64_t changes_ = 0;
};

// The one application object of the process.
extern TApplication* Application;

}  // namespace kestovane
