// A fresh application with a Qt renderer attached, and a small window with
// one control of each kind.
#pragma once

#include <gtest/gtest.h>

#include <QWidget>

#include "platform/forms.h"
#include "platform/qt/qt_renderer.h"

namespace kestovane::test {

class SampleForm : public TForm {
 public:
  SampleForm();

  TButton* go;
  TLabel* title;
  TImage* logo;
  TBevel* frame;
  TPanel* box;
  TButton* inner;
  TProgressBar* progress;
  TStatusBar* status;
  TComboBox* ports;
  TListBox* lines;
  TMenuItem* menu;
};

class QtRendererTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Creates the sample window and brings the widgets up.
  SampleForm* MakeSample();
  void Sync() { renderer.Sync(*Application); }

  QWidget* W(const TControl* c) const { return renderer.WidgetOf(c); }
  template <class T>
  T* W(const TControl* c) const {
    return dynamic_cast<T*>(renderer.WidgetOf(c));
  }

  QtRenderer renderer;
};

}  // namespace kestovane::test
