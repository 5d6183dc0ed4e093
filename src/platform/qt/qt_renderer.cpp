#include "platform/qt/qt_renderer.h"

#include <QAbstractEventDispatcher>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QFrame>
#include <QListWidget>
#include <QMenuBar>
#include <QMessageBox>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTimer>
#include <unordered_map>
#include <vector>

#include "platform/qt/qt_style.h"
#include "platform/qt/qt_widgets.h"

namespace kestovane {

using qt::ToQColor;
using qt::ToQFont;
using qt::ToQString;

namespace {

// One control and what stands for it on screen.
struct ControlView {
  TControl* control = nullptr;
  QWidget* widget = nullptr;
  QAction* action = nullptr;
  uint64_t applied = 0;  // the control's version last shown; 0: never
};

// One window: the top-level widget owns every widget of its controls.
struct WindowView {
  TForm* form = nullptr;
  std::unique_ptr<qt::FormWindow> window;
  QWidget* client = nullptr;
  QMenuBar* menuBar = nullptr;
  int menuHeight = 0;
  uint64_t applied = 0;
  std::vector<ControlView> controls;
  std::unordered_map<const TControl*, size_t> index;
  TBorderStyle style = TBorderStyle::bsSingle;
  int placedLeft = 0, placedTop = 0;
  bool placed = false;
  const TControl* focused = nullptr;
};

// Controls the designer draws on their parent's surface: they lie beneath
// every control that has a window of its own, whatever the creation order.
bool IsGraphic(ControlKind kind) {
  return kind == ControlKind::Label || kind == ControlKind::Image || kind == ControlKind::Bevel;
}

// Windowed controls go on top of their siblings; a drawn one goes above the
// drawn ones made before it but beneath every windowed one.
constexpr char kWindowedProperty[] = "kestovaneWindowed";

void StackInPlace(QWidget* widget, bool graphic) {
  if (!graphic) {
    widget->setProperty(kWindowedProperty, true);
    widget->raise();
    return;
  }
  for (QObject* sibling : widget->parentWidget()->children()) {
    auto* w = qobject_cast<QWidget*>(sibling);
    if (w && w != widget && w->property(kWindowedProperty).toBool()) {
      widget->stackUnder(w);
      return;
    }
  }
}

Qt::Alignment ToQtAlignment(TAlignment a) {
  switch (a) {
    case TAlignment::taRightJustify: return Qt::AlignRight | Qt::AlignTop;
    case TAlignment::taCenter: return Qt::AlignHCenter | Qt::AlignTop;
    case TAlignment::taLeftJustify: break;
  }
  return Qt::AlignLeft | Qt::AlignTop;
}

Qt::WindowFlags FlagsFor(const TForm& form) {
  Qt::WindowFlags flags = Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
  switch (form.BorderStyle()) {
    case TBorderStyle::bsNone: return Qt::Window | Qt::FramelessWindowHint;
    case TBorderStyle::bsDialog: return flags | Qt::Dialog;
    case TBorderStyle::bsToolWindow:
    case TBorderStyle::bsSizeToolWin: return flags | Qt::Tool;
    case TBorderStyle::bsSingle:
    case TBorderStyle::bsSizeable: break;
  }
  if (form.MinimizeBox) flags |= Qt::WindowMinimizeButtonHint;
  if (form.MaximizeBox) flags |= Qt::WindowMaximizeButtonHint;
  return flags;
}

bool IsFixedSize(TBorderStyle s) {
  return s != TBorderStyle::bsSizeable && s != TBorderStyle::bsSizeToolWin;
}

void SetColor(QWidget* w, QPalette::ColorRole role, const QColor& c) {
  QPalette pal = w->palette();
  if (pal.color(role) == c) return;
  pal.setColor(role, c);
  w->setPalette(pal);
}

// Fills a list widget with the control's texts, leaving it alone when they
// are already there so the operator's scroll position survives.
template <class Access>
void ApplyItems(int count, const std::vector<std::string>& items, const Access& add) {
  bool same = count == static_cast<int>(items.size());
  QStringList texts;
  texts.reserve(static_cast<qsizetype>(items.size()));
  for (const auto& s : items) texts.push_back(ToQString(s));
  if (same) {
    for (int i = 0; i < count && same; ++i) same = add.Text(i) == texts[i];
    if (same) return;
  }
  add.Replace(texts);
}

}  // namespace

struct QtRenderer::Impl {
  TApplication* app = Application;
  std::vector<std::unique_ptr<WindowView>> windows;
  std::unordered_map<const TForm*, WindowView*> byForm;
  uint64_t syncedChanges = 0;
  size_t syncedForms = 0;
  bool everSynced = false;
  bool wakeInstalled = false;

  WindowView& EnsureWindow(TForm* form);
  void EnsureMenuBar(WindowView& w);
  void LayOutWindow(WindowView& w);
  void ApplyForm(WindowView& w);
  ControlView MakeView(WindowView& w, TControl* c);
  void Apply(WindowView& w, ControlView& v);
  void SyncWindow(WindowView& w);
  void DropVanishedWindows(const std::vector<TForm*>& forms);
  const ControlView* Find(const TControl* c) const;
};

// ---- windows -----------------------------------------------------------------

WindowView& QtRenderer::Impl::EnsureWindow(TForm* form) {
  if (auto it = byForm.find(form); it != byForm.end()) return *it->second;
  auto view = std::make_unique<WindowView>();
  view->form = form;
  TApplication* application = app;
  view->window = std::make_unique<qt::FormWindow>([application, form] { application->PostClose(form); });
  view->window->setObjectName(QString::fromStdString(form->Name()));
  view->style = form->BorderStyle();
  view->window->setWindowFlags(FlagsFor(*form));
  view->client = new QWidget(view->window.get());
  view->client->setObjectName(QStringLiteral("client"));
  view->client->setAutoFillBackground(true);
  WindowView& w = *view;
  windows.push_back(std::move(view));
  byForm[form] = &w;
  if (!form->MenuItems().empty()) EnsureMenuBar(w);
  return w;
}

void QtRenderer::Impl::EnsureMenuBar(WindowView& w) {
  if (w.menuBar) return;
  w.menuBar = new QMenuBar(w.window.get());
  w.menuBar->setNativeMenuBar(false);
  w.menuBar->show();
  LayOutWindow(w);
}

// The client area keeps its designed size; a menu bar sits above it and
// makes the window taller.
void QtRenderer::Impl::LayOutWindow(WindowView& w) {
  const int cw = w.form->ClientWidth(), ch = w.form->ClientHeight();
  const int mh = w.menuBar ? w.menuBar->sizeHint().height() : 0;
  w.menuHeight = mh;
  if (w.menuBar) w.menuBar->setGeometry(0, 0, cw, mh);
  w.client->setGeometry(0, mh, cw, ch);
  if (IsFixedSize(w.form->BorderStyle())) {
    w.window->setFixedSize(cw, ch + mh);
  } else {
    w.window->setMinimumSize(0, 0);
    w.window->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    w.window->resize(cw, ch + mh);
  }
}

void QtRenderer::Impl::ApplyForm(WindowView& w) {
  TForm& f = *w.form;
  QWidget* win = w.window.get();
  // Changing the flags of a shown window hides it; the visibility below
  // brings it back.
  if (f.BorderStyle() != w.style) {
    w.style = f.BorderStyle();
    win->setWindowFlags(FlagsFor(f));
  }
  win->setWindowTitle(ToQString(f.Caption()));
  win->setToolTip(ToQString(f.Hint()));
  win->setFont(ToQFont(f.Font()));
  SetColor(win, QPalette::Window, ToQColor(f.Color()));
  SetColor(w.client, QPalette::Window, ToQColor(f.Color()));
  SetColor(win, QPalette::WindowText, ToQColor(f.Font().color));
  win->setEnabled(f.Enabled());
  LayOutWindow(w);
  // The designed position is applied when it changes, so a window the
  // operator moved stays where it was put.
  if (!w.placed || w.placedLeft != f.Left() || w.placedTop != f.Top()) {
    win->move(f.Left(), f.Top());
    w.placedLeft = f.Left();
    w.placedTop = f.Top();
    w.placed = true;
  }
  // Anything laid out against the client size follows it.
  for (auto& v : w.controls)
    if (v.control->Kind() == ControlKind::StatusBar) v.applied = 0;
}

void QtRenderer::Impl::DropVanishedWindows(const std::vector<TForm*>& forms) {
  for (size_t i = windows.size(); i-- > 0;) {
    TForm* f = windows[i]->form;
    if (std::find(forms.begin(), forms.end(), f) != forms.end()) continue;
    byForm.erase(f);
    windows.erase(windows.begin() + static_cast<std::ptrdiff_t>(i));
  }
}

// ---- controls ------------------------------------------------------------------

ControlView QtRenderer::Impl::MakeView(WindowView& w, TControl* c) {
  ControlView v;
  v.control = c;
  TApplication* application = app;
  QWidget* parent = w.client;
  if (c->Parent() && c->Parent() != w.form)
    if (auto it = w.index.find(c->Parent()); it != w.index.end() && w.controls[it->second].widget)
      parent = w.controls[it->second].widget;

  switch (c->Kind()) {
    case ControlKind::Label:
      v.widget = new qt::LabelWidget(parent, [application, c] { application->PostDblClick(c); });
      break;
    case ControlKind::Button: {
      auto* b = new QPushButton(parent);
      QObject::connect(b, &QPushButton::clicked, [application, c] { application->PostClick(c); });
      v.widget = b;
      break;
    }
    case ControlKind::Image: v.widget = new qt::LogoWidget(parent); break;
    case ControlKind::Bevel: {
      auto* f = new QFrame(parent);
      // A frame drawn on the surface: clicks go through to what lies beneath.
      f->setAttribute(Qt::WA_TransparentForMouseEvents);
      v.widget = f;
      break;
    }
    case ControlKind::Panel: v.widget = new qt::PanelWidget(parent); break;
    case ControlKind::ProgressBar: {
      auto* p = new QProgressBar(parent);
      p->setTextVisible(false);
      v.widget = p;
      break;
    }
    case ControlKind::StatusBar: v.widget = new qt::StatusBarWidget(parent); break;
    case ControlKind::ComboBox: {
      auto* box = new QComboBox(parent);
      auto* combo = static_cast<TComboBox*>(c);
      // Only the operator's choice: the signal does not fire for our own sets.
      QObject::connect(box, &QComboBox::activated, [application, combo](int i) {
        application->Post([combo, i] { combo->SetItemIndex(i); });
      });
      v.widget = box;
      break;
    }
    case ControlKind::ListBox: {
      auto* list = new QListWidget(parent);
      auto* lb = static_cast<TListBox*>(c);
      list->setUniformItemSizes(true);
      QObject::connect(list, &QListWidget::currentRowChanged, [application, lb](int row) {
        application->Post([lb, row] { lb->SetItemIndex(row); });
      });
      QObject::connect(list, &QListWidget::itemDoubleClicked,
                       [application, c](QListWidgetItem*) { application->PostDblClick(c); });
      v.widget = list;
      break;
    }
    case ControlKind::MenuItem: {
      EnsureMenuBar(w);
      v.action = w.menuBar->addAction(QString());
      QObject::connect(v.action, &QAction::triggered, [application, c] { application->PostClick(c); });
      return v;
    }
    case ControlKind::Form: return v;
  }
  v.widget->setObjectName(QString::fromStdString(c->Name()));
  StackInPlace(v.widget, IsGraphic(c->Kind()));
  return v;
}

void QtRenderer::Impl::Apply(WindowView& w, ControlView& v) {
  TControl& c = *v.control;
  if (v.action) {
    v.action->setText(ToQString(c.Caption()));
    v.action->setEnabled(c.Enabled());
    v.action->setVisible(c.Visible());
    v.action->setToolTip(ToQString(c.Hint()));
    return;
  }
  QWidget* widget = v.widget;
  if (!widget) return;

  const QColor fontColor = ToQColor(c.Font().color);
  const QColor color = ToQColor(c.Color());
  widget->setToolTip(ToQString(c.Hint()));
  widget->setEnabled(c.Enabled());
  widget->setFont(ToQFont(c.Font()));
  if (c.Kind() != ControlKind::StatusBar) widget->setGeometry(c.Left(), c.Top(), c.Width(), c.Height());

  switch (c.Kind()) {
    case ControlKind::Label: {
      auto* label = static_cast<QLabel*>(widget);
      label->setText(ToQString(c.Caption()));
      label->setAlignment(ToQtAlignment(c.Alignment()));
      SetColor(label, QPalette::WindowText, fontColor);
      // A transparent label shows its parent's surface through it.
      label->setAutoFillBackground(!c.Transparent());
      SetColor(label, QPalette::Window, color);
      break;
    }
    case ControlKind::Button:
      static_cast<QPushButton*>(widget)->setText(ToQString(c.Caption()));
      SetColor(widget, QPalette::ButtonText, fontColor);
      break;
    case ControlKind::Image:
      static_cast<qt::LogoWidget*>(widget)->SetPicture(ToQString(static_cast<TImage&>(c).Picture));
      break;
    case ControlKind::Bevel: {
      auto* frame = static_cast<QFrame*>(widget);
      frame->setFrameStyle(QFrame::Panel | (static_cast<TBevel&>(c).Lowered ? QFrame::Sunken : QFrame::Raised));
      break;
    }
    case ControlKind::Panel: {
      auto* panel = static_cast<qt::PanelWidget*>(widget);
      panel->SetCaption(ToQString(c.Caption()));
      SetColor(panel, QPalette::Window, color);
      SetColor(panel, QPalette::WindowText, fontColor);
      break;
    }
    case ControlKind::ProgressBar: {
      auto& pb = static_cast<TProgressBar&>(c);
      auto* bar = static_cast<QProgressBar*>(widget);
      bar->setRange(pb.Min(), std::max(pb.Min(), pb.Max()));
      bar->setValue(pb.Position());
      // The bar's colour carries its state, as the designed control does.
      QPalette pal = QApplication::palette(bar);
      if (pb.State() == TProgressBarState::pbsError) pal.setColor(QPalette::Highlight, QColor(0xd0, 0x20, 0x20));
      if (pb.State() == TProgressBarState::pbsPaused) pal.setColor(QPalette::Highlight, QColor(0xe0, 0xc0, 0x00));
      if (bar->palette() != pal) bar->setPalette(pal);
      break;
    }
    case ControlKind::StatusBar: {
      auto& sb = static_cast<TStatusBar&>(c);
      const TControl* parent = c.Parent() ? c.Parent() : w.form;
      const int h = c.Height();
      widget->setGeometry(0, parent->Height() - h, parent->Width(), h);
      static_cast<qt::StatusBarWidget*>(widget)->Apply(sb.Panels(), parent->Width(), h);
      break;
    }
    case ControlKind::ComboBox: {
      auto& cb = static_cast<TComboBox&>(c);
      auto* box = static_cast<QComboBox*>(widget);
      struct {
        QComboBox* box;
        QString Text(int i) const { return box->itemText(i); }
        void Replace(const QStringList& texts) const {
          box->clear();
          box->addItems(texts);
        }
      } access{box};
      ApplyItems(box->count(), cb.Items().Items(), access);
      box->setCurrentIndex(cb.ItemIndex() < box->count() ? cb.ItemIndex() : -1);
      break;
    }
    case ControlKind::ListBox: {
      auto& lb = static_cast<TListBox&>(c);
      auto* list = static_cast<QListWidget*>(widget);
      // Our lists line up columns with blanks: always a fixed-pitch font.
      TFont font = c.Font();
      if (qt::ToQFont(font).styleHint() != QFont::Monospace) font.name = "Courier";
      list->setFont(ToQFont(font));
      const QSignalBlocker quiet(list);
      struct {
        QListWidget* list;
        QString Text(int i) const { return list->item(i)->text(); }
        void Replace(const QStringList& texts) const {
          list->clear();
          list->addItems(texts);
        }
      } access{list};
      ApplyItems(list->count(), lb.Items().Items(), access);
      list->setCurrentRow(lb.ItemIndex() < list->count() ? lb.ItemIndex() : -1);
      break;
    }
    case ControlKind::Form:
    case ControlKind::MenuItem: break;
  }
  widget->setVisible(c.Visible());
}

const ControlView* QtRenderer::Impl::Find(const TControl* c) const {
  if (!c) return nullptr;
  const TForm* f = c->Form();
  auto it = byForm.find(f);
  if (it == byForm.end()) return nullptr;
  auto ci = it->second->index.find(c);
  return ci == it->second->index.end() ? nullptr : &it->second->controls[ci->second];
}

void QtRenderer::Impl::SyncWindow(WindowView& w) {
  TForm& f = *w.form;
  const bool formChanged = f.Version() != w.applied;
  if (formChanged) {
    ApplyForm(w);
    w.applied = f.Version();
  }

  // Controls added since the last sync get their widgets, parents first, as
  // a control cannot be made before its parent.
  const std::vector<TControl*> controls = f.Controls();
  for (size_t i = w.controls.size(); i < controls.size(); ++i) {
    w.controls.push_back(MakeView(w, controls[i]));
    w.index[controls[i]] = w.controls.size() - 1;
  }

  bool activeTouched = false;
  for (auto& v : w.controls) {
    if (v.control->Version() == v.applied) continue;
    Apply(w, v);
    v.applied = v.control->Version();
    if (v.control == f.ActiveControl()) activeTouched = true;
  }

  // Focus follows the designed active control when that changes or when the
  // control itself changed (it may just have been shown or enabled).
  if (const TControl* active = f.ActiveControl(); active && (active != w.focused || activeTouched)) {
    if (auto it = w.index.find(active); it != w.index.end() && w.controls[it->second].widget)
      w.controls[it->second].widget->setFocus(Qt::OtherFocusReason);
    w.focused = active;
  }

  // The menu bar's height is known once its items are in.
  if (w.menuBar && w.menuBar->sizeHint().height() != w.menuHeight) LayOutWindow(w);

  // A window that comes up (the Setup dialog from its menu item) comes up in
  // front, ready for the keyboard.
  if (formChanged && f.Visible() != w.window->isVisible()) {
    w.window->setVisible(f.Visible());
    if (f.Visible()) {
      w.window->raise();
      w.window->activateWindow();
    }
  }
}

// ---- QtRenderer -------------------------------------------------------------------

QtRenderer::QtRenderer() : impl_(std::make_unique<Impl>()) {
  // Our windows end with the application, not with the last one closed.
  QApplication::setQuitOnLastWindowClosed(false);
}

QtRenderer::~QtRenderer() {
  // Leave the application headless rather than pointing at us.
  if (!impl_->app) return;
  if (impl_->wakeInstalled) impl_->app->SetWakeUp(nullptr);
  if (impl_->app->GetRenderer() == this) impl_->app->SetRenderer(nullptr);
}

void QtRenderer::Sync(TApplication& app) {
  impl_->app = &app;
  const std::vector<TForm*> forms = app.Forms();
  if (impl_->everSynced && app.ChangeCount() == impl_->syncedChanges && forms.size() == impl_->syncedForms) return;
  impl_->everSynced = true;
  impl_->syncedChanges = app.ChangeCount();
  impl_->syncedForms = forms.size();

  impl_->DropVanishedWindows(forms);
  for (TForm* f : forms) impl_->SyncWindow(impl_->EnsureWindow(f));

  // Paint what changed now: a handler that repaints and then works for a
  // while without pumping must still show its texts.
  QCoreApplication::sendPostedEvents(nullptr, QEvent::UpdateRequest);
}

void QtRenderer::Poll(TApplication& app, int waitMs) {
  impl_->app = &app;
  QCoreApplication::processEvents(QEventLoop::AllEvents);
  if (waitMs == 0) return;

  // A post from any thread wakes Qt's loop; the hook is set on each waiting
  // poll because a reset of the application drops it.
  QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
  app.SetWakeUp([dispatcher] {
    if (dispatcher) dispatcher->wakeUp();
  });
  impl_->wakeInstalled = true;

  QDeadlineTimer deadline(waitMs < 0 ? QDeadlineTimer(QDeadlineTimer::Forever) : QDeadlineTimer(waitMs));
  QTimer alarm;
  if (waitMs > 0) {
    alarm.setSingleShot(true);
    alarm.start(waitMs);
  }
  while (!app.HasPendingInput() && !app.Terminated() && !deadline.hasExpired())
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

int QtRenderer::MessageBox(const std::string& text, const std::string& caption, unsigned flags) {
  // The icon bits of the flags pick the box's icon.
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  switch (flags & 0xF0) {
    case 0x10: icon = QMessageBox::Critical; break;
    case 0x20: icon = QMessageBox::Question; break;
    case 0x30: icon = QMessageBox::Warning; break;
    case 0x40: icon = QMessageBox::Information; break;
    default: break;
  }
  QMessageBox box(icon, ToQString(caption), ToQString(text), QMessageBox::Ok);
  if (flags & MB_TOPMOST) box.setWindowFlag(Qt::WindowStaysOnTopHint, true);
  box.exec();
  return IDOK;
}

void QtRenderer::ShowError(const std::string& message) {
  const std::string title = impl_->app ? impl_->app->Title() : std::string();
  QMessageBox box(QMessageBox::Critical, ToQString(title), ToQString(message), QMessageBox::Ok);
  box.exec();
}

QWidget* QtRenderer::WindowOf(const TForm* form) const {
  auto it = impl_->byForm.find(form);
  return it == impl_->byForm.end() ? nullptr : it->second->window.get();
}

QWidget* QtRenderer::ClientOf(const TForm* form) const {
  auto it = impl_->byForm.find(form);
  return it == impl_->byForm.end() ? nullptr : it->second->client;
}

QWidget* QtRenderer::WidgetOf(const TControl* control) const {
  const ControlView* v = impl_->Find(control);
  return v ? v->widget : nullptr;
}

QAction* QtRenderer::ActionOf(const TMenuItem* item) const {
  const ControlView* v = impl_->Find(item);
  return v ? v->action : nullptr;
}

bool QtRenderer::SaveWindowPng(TApplication& app, TForm* form, const std::string& path) {
  Sync(app);
  QWidget* window = WindowOf(form);
  if (!window) return false;
  const QPixmap picture = window->grab();
  return !picture.isNull() && picture.save(QString::fromStdString(path), "PNG");
}

bool SaveWindowPng(TForm* form, const std::string& path) {
  auto* renderer = dynamic_cast<QtRenderer*>(Application->GetRenderer());
  return renderer && renderer->SaveWindowPng(*Application, form, path);
}

}  // namespace kestovane
