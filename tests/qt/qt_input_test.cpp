// The operator's input reaches the handlers only through the application's
// queue; message boxes; the event loop's waits.
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QListWidget>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QTimer>
#include <thread>

#include "qt_fixture.h"

namespace kestovane::test {
namespace {

TEST_F(QtRendererTest, ButtonClickIsDeliveredByProcessMessages) {
  SampleForm* form = MakeSample();
  form->Show();
  Sync();
  int clicks = 0;
  form->go->OnClick = [&] { ++clicks; };
  form->inner->OnClick = [&] { clicks += 10; };

  W<QPushButton>(form->go)->click();
  EXPECT_EQ(clicks, 0) << "the handler runs on our loop, not inside Qt's";
  Application->ProcessMessages();
  EXPECT_EQ(clicks, 1);

  W<QPushButton>(form->inner)->click();
  Application->ProcessMessages();
  EXPECT_EQ(clicks, 11) << "a button inside a panel clicks too";

  form->go->SetEnabled(false);
  Sync();
  W<QPushButton>(form->go)->click();
  Application->ProcessMessages();
  EXPECT_EQ(clicks, 11) << "a disabled button does not click";
}

TEST_F(QtRendererTest, MenuItemTriggersItsClick) {
  SampleForm* form = MakeSample();
  form->Show();
  Sync();
  int clicks = 0;
  form->menu->OnClick = [&] { ++clicks; };
  renderer.ActionOf(form->menu)->trigger();
  Application->ProcessMessages();
  EXPECT_EQ(clicks, 1);
}

TEST_F(QtRendererTest, LabelDoubleClickIsDelivered) {
  SampleForm* form = MakeSample();
  form->Show();
  Sync();
  int clicks = 0;
  form->title->OnDblClick = [&] { ++clicks; };
  QWidget* label = W(form->title);
  QMouseEvent dbl(QEvent::MouseButtonDblClick, QPointF(5, 5), label->mapToGlobal(QPointF(5, 5)), Qt::LeftButton,
                  Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(label, &dbl);
  Application->ProcessMessages();
  EXPECT_EQ(clicks, 1);
}

TEST_F(QtRendererTest, OperatorChoiceInListsSetsTheIndex) {
  SampleForm* form = MakeSample();
  for (const char* s : {"COM1", "COM2", "COM3"}) form->ports->Items().Add(s);
  for (const char* s : {"a", "b"}) form->lines->Items().Add(s);
  Sync();

  auto* combo = W<QComboBox>(form->ports);
  combo->setCurrentIndex(2);
  emit combo->activated(2);
  W<QListWidget>(form->lines)->setCurrentRow(1);
  EXPECT_EQ(form->ports->ItemIndex(), -1) << "set on our loop";
  Application->ProcessMessages();
  EXPECT_EQ(form->ports->ItemIndex(), 2);
  EXPECT_EQ(form->lines->ItemIndex(), 1);
}

TEST_F(QtRendererTest, WindowManagerCloseRunsTheFormsClose) {
  SampleForm* form = MakeSample();
  form->Show();
  Sync();
  int closes = 0;
  form->OnClose = [&] { ++closes; };
  QWidget* window = renderer.WindowOf(form);

  EXPECT_FALSE(window->close()) << "Qt does not close it by itself";
  EXPECT_TRUE(window->isVisible());
  EXPECT_EQ(closes, 0);
  Application->ProcessMessages();
  EXPECT_EQ(closes, 1);
  EXPECT_FALSE(form->Visible());
  EXPECT_FALSE(window->isVisible());
  EXPECT_TRUE(Application->Terminated()) << "it was the main window";
}

TEST_F(QtRendererTest, RunEndsWhenTheMainWindowIsClosed) {
  SampleForm* form = MakeSample();
  int clicks = 0;
  form->go->OnClick = [&] {
    ++clicks;
    // Close through the window manager, as the operator would.
    QTimer::singleShot(0, renderer.WindowOf(form), [this, form] { renderer.WindowOf(form)->close(); });
  };
  QTimer::singleShot(0, W(form->go), [this, form] { W<QPushButton>(form->go)->click(); });
  Application->Run();
  EXPECT_EQ(clicks, 1);
  EXPECT_FALSE(form->Visible());
}

TEST_F(QtRendererTest, WaitingPollReturnsForAPostFromAnotherThread) {
  MakeSample();
  std::thread poster([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    Application->Post([] {});
  });
  renderer.Poll(*Application, -1);
  poster.join();
  EXPECT_TRUE(Application->HasPendingInput());
}

TEST_F(QtRendererTest, PollWithATimeReturnsWithoutInput) {
  MakeSample();
  renderer.Poll(*Application, 0);
  renderer.Poll(*Application, 10);
  EXPECT_FALSE(Application->HasPendingInput());
}

// Answers the next modal box and notes what it showed.
struct BoxSeen {
  QString title, text;
  bool onTop = false;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  int buttons = 0;
};

void AnswerNextBox(BoxSeen& seen) {
  QTimer::singleShot(0, [&seen] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    seen.title = box->windowTitle();
    seen.text = box->text();
    seen.onTop = box->windowFlags().testFlag(Qt::WindowStaysOnTopHint);
    seen.icon = box->icon();
    seen.buttons = static_cast<int>(box->buttons().size());
    box->button(QMessageBox::Ok)->click();
  });
}

TEST_F(QtRendererTest, MessageBoxShowsCaptionTextAndOneOkButton) {
  struct Case {
    unsigned flags;
    bool onTop;
  };
  for (const Case c : {Case{.flags = MB_OK, .onTop = false}, Case{.flags = MB_TOPMOST, .onTop = true}}) {
    BoxSeen seen;
    AnswerNextBox(seen);
    EXPECT_EQ(Application->MessageBox("Already in progress", "Kestovane", c.flags), IDOK);
    EXPECT_EQ(seen.title, "Kestovane");
    EXPECT_EQ(seen.text, "Already in progress");
    EXPECT_EQ(seen.onTop, c.onTop);
    EXPECT_EQ(seen.buttons, 1);
  }
}

TEST_F(QtRendererTest, ErrorsAreShownTitledWithTheApplication) {
  Application->SetTitle("Kestovane updater");
  MakeSample();
  BoxSeen seen;
  AnswerNextBox(seen);
  Application->ShowException(Exception("Port busy"));
  EXPECT_EQ(seen.title, "Kestovane updater");
  EXPECT_EQ(seen.text, "Port busy");
  EXPECT_EQ(seen.icon, QMessageBox::Critical);
}

}  // namespace
}  // namespace kestovane::test
