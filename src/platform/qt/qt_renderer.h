// Shows the application's windows with Qt 6 Widgets.
//
// The controls of forms.h stay the truth: each Sync brings the Qt widgets in
// line with them, and the operator's input on the widgets comes back only as
// events posted to the application, delivered by ProcessMessages. Qt types
// appear here only as forward declarations, so the engine and main need no
// Qt headers to hold a renderer.
#pragma once

#include <memory>
#include <string>

#include "platform/forms.h"

class QWidget;
class QAction;

namespace kestovane {

class QtRenderer : public Renderer {
 public:
  // A QApplication must exist before and outlive the renderer.
  QtRenderer();
  ~QtRenderer() override;
  QtRenderer(const QtRenderer&) = delete;
  QtRenderer& operator=(const QtRenderer&) = delete;

  // Creates the widgets of new windows and controls, and updates those whose
  // control changed since the last sync; returns at once when nothing did.
  // What changed is painted before it returns.
  void Sync(TApplication& app) override;
  // Runs Qt's event loop: 0 handles what is pending without waiting; a
  // positive time waits up to that long, a negative one without limit, and
  // both return as soon as an event is posted to the application.
  void Poll(TApplication& app, int waitMs) override;
  // A modal box with one OK button; answers IDOK.
  int MessageBox(const std::string& text, const std::string& caption, unsigned flags) override;
  // A modal error box titled with the application's title.
  void ShowError(const std::string& message) override;

  // The top-level widget of a window, its client area (below the menu bar),
  // the widget of a control and the action of a menu item; null until the
  // first Sync that saw them. For tests and pictures.
  QWidget* WindowOf(const TForm* form) const;
  QWidget* ClientOf(const TForm* form) const;
  QWidget* WidgetOf(const TControl* control) const;
  QAction* ActionOf(const TMenuItem* item) const;

  // Writes the window's picture (menu bar and client area, no frame) as PNG,
  // after a Sync. Works for hidden windows and with the offscreen platform.
  bool SaveWindowPng(TApplication& app, TForm* form, const std::string& path);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The picture of a window of the application, drawn by the QtRenderer that
// is attached to it; false without one, or when the file cannot be written.
bool SaveWindowPng(TForm* form, const std::string& path);

}  // namespace kestovane
