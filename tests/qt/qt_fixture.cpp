#include "qt_fixture.h"

#include <QApplication>

namespace kestovane::test {

namespace {

// One QApplication for the whole program, as Qt allows no more; offscreen
// unless the caller chose a platform.
class QtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "test_qt";
    static char* argv[] = {name, nullptr};
    app_ = new QApplication(argc, argv);
  }
  void TearDown() override {
    delete app_;
    app_ = nullptr;
  }

 private:
  QApplication* app_ = nullptr;
};

[[maybe_unused]] ::testing::Environment* const kQtEnvironment =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

}  // namespace

SampleForm::SampleForm() : TForm("SampleForm", 320, 200, 40, 60) {
  SetCaption("Sample");
  SetHint("A window for tests");

  go = Add<TButton>("Go", this, TRect{8, 8, 75, 25});
  go->SetCaption("&Go");

  title = Add<TLabel>("Title", this, TRect{10, 40, 300, 30});
  title->SetCaption("Ready");
  title->SetAlignment(TAlignment::taCenter);
  title->SetFont({.name = "Times", .height = -24, .style = fsBold, .color = clRed});
  title->SetTransparent(false);
  title->SetColor(clWhite);

  logo = Add<TImage>("Logo", this, TRect{200, 0, 110, 36});
  frame = Add<TBevel>("Frame", this, TRect{6, 36, 308, 38});

  box = Add<TPanel>("Box", this, TRect{8, 80, 200, 60});
  box->SetColor(clSilver);
  inner = Add<TButton>("Inner", box, TRect{10, 12, 60, 25});
  inner->SetCaption("Inner");

  progress = Add<TProgressBar>("Progress", this, TRect{8, 150, 300, 16});
  status = Add<TStatusBar>("Status", this, 19, std::vector<int>{50, 130, 100});

  ports = Add<TComboBox>("Ports", this, TRect{220, 80, 90, 21});
  lines = Add<TListBox>("Lines", this, TRect{220, 104, 90, 40});

  menu = Add<TMenuItem>("Menu", this, "&Change port");
}

void QtRendererTest::SetUp() {
  Application->Reset();
  Application->SetRenderer(&renderer);
}

void QtRendererTest::TearDown() { Application->Reset(); }

SampleForm* QtRendererTest::MakeSample() {
  SampleForm* form = nullptr;
  Application->CreateForm(form);
  Sync();
  return form;
}

}  // namespace kestovane::test
