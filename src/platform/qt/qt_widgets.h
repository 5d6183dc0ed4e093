// The few widgets of our own that stand for controls Qt has no match for, or
// whose input must reach the application instead of acting at once.
#pragma once

#include <QCloseEvent>
#include <QFrame>
#include <QLabel>
#include <QListWidget>
#include <QWidget>
#include <functional>
#include <vector>

#include "platform/forms.h"

namespace kestovane::qt {

// A window of the application. The window manager's close button does not
// close it: the form decides, through its own Close delivered by our loop.
class FormWindow : public QWidget {
 public:
  explicit FormWindow(std::function<void()> onCloseRequest);

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  std::function<void()> onCloseRequest_;
};

// A label that reports double-clicks.
class LabelWidget : public QLabel {
 public:
  explicit LabelWidget(QWidget* parent, std::function<void()> onDblClick);

 protected:
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  std::function<void()> onDblClick_;
};

// Our logo, drawn rather than loaded so the program needs no picture files:
// a rounded plate with the product's name, scaled to the control.
class LogoWidget : public QWidget {
 public:
  explicit LogoWidget(QWidget* parent);
  void SetPicture(const QString& picture) { picture_ = picture; update(); }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QString picture_;
};

// A sunken panel that, like its designed counterpart, shows its caption
// centred above its background.
class PanelWidget : public QFrame {
 public:
  explicit PanelWidget(QWidget* parent);
  void SetCaption(const QString& caption) { caption_ = caption; update(); }
  const QString& Caption() const { return caption_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QString caption_;
};

// The status bar: a row of sunken panels of fixed widths along the bottom of
// its parent; the last panel takes what width remains.
class StatusBarWidget : public QWidget {
 public:
  explicit StatusBarWidget(QWidget* parent);
  // Lays the panels out over the given width and sets their texts.
  void Apply(const std::vector<TStatusPanel>& panels, int width, int height);
  const std::vector<QLabel*>& Panels() const { return labels_; }

 private:
  std::vector<QLabel*> labels_;
};

}  // namespace kestovane::qt
