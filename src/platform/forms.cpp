#include "platform/forms.h"

#include <algorithm>
#include <chrono>
#include <iostream>

namespace kestovane {

namespace {
TApplication g_application;
}
TApplication* Application = &g_application;

// ---- TControl ---------------------------------------------------------------

TControl::TControl(ControlKind kind, std::string name, TControl* parent, TRect bounds)
    : kind_(kind), name_(std::move(name)), parent_(parent), bounds_(bounds) {
  if (parent_) parent_->children_.push_back(this);
  if (kind_ == ControlKind::Label) color_ = clBtnFace;
}

TForm* TControl::Form() const {
  const TControl* c = this;
  while (c->parent_) c = c->parent_;
  return c->kind_ == ControlKind::Form ? const_cast<TForm*>(static_cast<const TForm*>(c)) : nullptr;
}

bool TControl::Showing() const {
  for (const TControl* c = this; c; c = c->parent_)
    if (!c->visible_) return false;
  return true;
}

void TControl::Touch() {
  ++version_;
  Application->Touch();
}

void TControl::Repaint() {
  ++repaints_;
  Application->Repaint();
}

void TControl::SetFocus() {
  if (TForm* f = Form()) f->SetActiveControl(this);
}

bool TControl::Focused() const {
  const TForm* f = Form();
  return f && f->ActiveControl() == this;
}

// ---- TStrings and the list controls ------------------------------------------

void TStrings::Clear() {
  if (items_.empty()) return;
  items_.clear();
  touched_();
}

void TStrings::Add(const std::string& s) {
  items_.push_back(s);
  touched_();
}

TComboBox::TComboBox(std::string name, TControl* parent, TRect b)
    : TControl(ControlKind::ComboBox, std::move(name), parent, b), items_([this] { Touch(); }) {}

TListBox::TListBox(std::string name, TControl* parent, TRect b)
    : TControl(ControlKind::ListBox, std::move(name), parent, b), items_([this] { Touch(); }) {}

TMenuItem::TMenuItem(std::string name, TControl* parent, std::string caption)
    : TControl(ControlKind::MenuItem, std::move(name), parent, {}) {
  SetCaption(caption);
}

void TProgressBar::SetPosition(int p) { Set(position_, std::clamp(p, min_, std::max(min_, max_))); }

// ---- TStatusBar ------------------------------------------------------------------

TStatusBar::TStatusBar(std::string name, TControl* parent, int height, std::vector<int> panelWidths)
    : TControl(ControlKind::StatusBar, std::move(name), parent, {0, 0, 0, height}) {
  for (int w : panelWidths) panels_.push_back({"", w});
}

const std::string& TStatusBar::PanelText(int index) const {
  static const std::string empty;
  if (index < 0 || index >= PanelCount()) return empty;
  return panels_[static_cast<size_t>(index)].text;
}

void TStatusBar::SetPanelText(int index, std::string_view text) {
  if (index < 0 || index >= PanelCount()) return;
  auto& slot = panels_[static_cast<size_t>(index)].text;
  if (slot == text) return;
  slot.assign(text);
  Touch();
}

int TStatusBar::PanelWidth(int index) const {
  if (index < 0 || index >= PanelCount()) return 0;
  return panels_[static_cast<size_t>(index)].width;
}

// ---- TForm -----------------------------------------------------------------------

TForm::TForm(std::string name, int clientWidth, int clientHeight, int left, int top)
    : TControl(ControlKind::Form, std::move(name), nullptr, {left, top, clientWidth, clientHeight}) {
  // A window exists hidden until something shows it.
  TControl::SetVisible(false);
}

TForm::~TForm() = default;

void TForm::SetVisible(bool v) {
  if (v && !Visible() && OnShow) OnShow();
  TControl::SetVisible(v);
}

void TForm::Close() {
  if (OnCloseQuery && !OnCloseQuery()) return;
  if (OnClose) OnClose();
  Hide();
  if (Application->MainForm() == this) Application->Terminate();
}

std::vector<TControl*> TForm::Controls() const {
  std::vector<TControl*> out;
  out.reserve(owned_.size());
  for (const auto& c : owned_) out.push_back(c.get());
  return out;
}

TControl* TForm::FindControl(const std::string& name) const {
  for (const auto& c : owned_)
    if (c->Name() == name) return c.get();
  return nullptr;
}

// ---- TApplication ------------------------------------------------------------------

TApplication::TApplication() = default;
TApplication::~TApplication() = default;

void TApplication::Register(std::unique_ptr<TForm> form) { forms_.push_back(std::move(form)); }

std::vector<TForm*> TApplication::Forms() const {
  std::vector<TForm*> out;
  for (const auto& f : forms_) out.push_back(f.get());
  return out;
}

void TApplication::Run() {
  TForm* main = MainForm();
  if (!main) return;
  main->Show();
  while (!terminated_) {
    ProcessMessages();
    if (terminated_) break;
    if (renderer_)
      renderer_->Poll(*this, -1);
    else
      WaitForPosted(-1);
  }
  ProcessMessages();
}

void TApplication::Deliver(std::function<void()>& call) {
  // An error inside a handler is shown and the loop goes on.
  try {
    call();
  } catch (const std::exception& e) {
    ShowException(e);
  } catch (...) {
    ShowException(Exception(""));
  }
}

void TApplication::ProcessMessages() {
  if (renderer_) renderer_->Poll(*this, 0);
  for (;;) {
    std::function<void()> call;
    {
      std::lock_guard lock(mutex_);
      if (queue_.empty()) break;
      call = std::move(queue_.front());
      queue_.pop_front();
    }
    Deliver(call);
  }
  Repaint();
}

void TApplication::Repaint() {
  if (renderer_) renderer_->Sync(*this);
}

int TApplication::MessageBox(const std::string& text, const std::string& caption, unsigned flags) {
  boxes_.push_back({text, caption, flags});
  if (renderer_) return renderer_->MessageBox(text, caption, flags);
  return IDOK;
}

void TApplication::ShowException(const std::exception& e) {
  errors_.push_back(e.what());
  if (renderer_)
    renderer_->ShowError(e.what());
  else
    std::cerr << "kestovane: " << e.what() << "\n";
}

void TApplication::Post(std::function<void()> call) {
  {
    std::lock_guard lock(mutex_);
    queue_.push_back(std::move(call));
    if (wake_) wake_();
  }
  posted_.notify_all();
}

void TApplication::SetWakeUp(std::function<void()> wake) {
  std::lock_guard lock(mutex_);
  wake_ = std::move(wake);
}

void TApplication::PostClick(TControl* c) {
  // Like a real pointer, a click reaches only a control the operator can see
  // and use at the moment it is delivered.
  Post([c] {
    if (c->Showing() && c->Enabled() && c->OnClick) c->OnClick();
  });
}

void TApplication::PostDblClick(TControl* c) {
  Post([c] {
    if (c->Showing() && c->Enabled() && c->OnDblClick) c->OnDblClick();
  });
}

void TApplication::PostClose(TForm* f) {
  Post([f] {
    if (f->Visible()) f->Close();
  });
}

bool TApplication::HasPendingInput() {
  std::lock_guard lock(mutex_);
  return !queue_.empty();
}

void TApplication::WaitForPosted(int waitMs) {
  std::unique_lock lock(mutex_);
  if (waitMs < 0)
    posted_.wait(lock, [this] { return !queue_.empty(); });
  else
    posted_.wait_for(lock, std::chrono::milliseconds(waitMs), [this] { return !queue_.empty(); });
}

void TApplication::Reset() {
  std::lock_guard lock(mutex_);
  queue_.clear();
  wake_ = nullptr;
  forms_.clear();
  errors_.clear();
  boxes_.clear();
  title_.clear();
  initialized_ = false;
  terminated_ = false;
  renderer_ = nullptr;
}

}  // namespace kestovane
