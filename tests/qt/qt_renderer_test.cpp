// The widgets mirror the controls: geometry, texts, colours, visibility.
#include <QAction>
#include <QComboBox>
#include <QEvent>
#include <QFontInfo>
#include <QFrame>
#include <QLabel>
#include <QListWidget>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>

#include "platform/qt/qt_style.h"
#include "qt_fixture.h"

namespace kestovane::test {
namespace {

TEST_F(QtRendererTest, WindowHasTheDesignedClientSizePositionAndLook) {
  SampleForm* form = MakeSample();
  QWidget* window = renderer.WindowOf(form);
  QWidget* client = renderer.ClientOf(form);
  ASSERT_NE(window, nullptr);
  ASSERT_NE(client, nullptr);
  auto* menuBar = window->findChild<QMenuBar*>();
  ASSERT_NE(menuBar, nullptr);

  // The menu bar sits above a client area of the designed size.
  EXPECT_GT(menuBar->height(), 10);
  EXPECT_EQ(client->geometry(), QRect(0, menuBar->height(), 320, 200));
  EXPECT_EQ(menuBar->geometry().top(), 0);
  EXPECT_EQ(window->size(), QSize(320, 200 + menuBar->height()));
  EXPECT_EQ(window->minimumSize(), window->maximumSize()) << "a single border cannot be resized";
  EXPECT_EQ(window->pos(), QPoint(40, 60));
  EXPECT_EQ(window->windowTitle(), "Sample");
  EXPECT_EQ(window->toolTip(), "A window for tests");
  EXPECT_EQ(client->palette().color(QPalette::Window), QColor(0xf0, 0xf0, 0xf0));
  EXPECT_TRUE(window->isWindow());

  EXPECT_FALSE(window->isVisible()) << "a form is hidden until shown";
  form->Show();
  Sync();
  EXPECT_TRUE(window->isVisible());
  form->Hide();
  Sync();
  EXPECT_FALSE(window->isVisible());
}

TEST_F(QtRendererTest, WindowWithoutMenuHasNoMenuBar) {
  struct Plain : TForm {
    Plain() : TForm("Plain", 100, 50, 0, 0) { SetBorderStyle(TBorderStyle::bsToolWindow); }
  };
  Plain* form = nullptr;
  Application->CreateForm(form);
  Sync();
  QWidget* window = renderer.WindowOf(form);
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(window->findChild<QMenuBar*>(), nullptr);
  EXPECT_EQ(window->size(), QSize(100, 50));
  EXPECT_EQ(window->windowType(), Qt::Tool);
}

TEST_F(QtRendererTest, SizeableWindowIsNotFixed) {
  struct Free : TForm {
    Free() : TForm("Free", 100, 50, 0, 0) { SetBorderStyle(TBorderStyle::bsSizeable); }
  };
  Free* form = nullptr;
  Application->CreateForm(form);
  Sync();
  QWidget* window = renderer.WindowOf(form);
  EXPECT_EQ(window->size(), QSize(100, 50));
  EXPECT_NE(window->minimumSize(), window->maximumSize());
}

TEST_F(QtRendererTest, ControlsSitAtTheirBoundsInsideTheirParent) {
  SampleForm* form = MakeSample();
  struct Case {
    const TControl* control;
    QRect bounds;
    const TControl* parent;
  };
  const Case cases[] = {
      {.control = form->go, .bounds = {8, 8, 75, 25}, .parent = form},
      {.control = form->title, .bounds = {10, 40, 300, 30}, .parent = form},
      {.control = form->logo, .bounds = {200, 0, 110, 36}, .parent = form},
      {.control = form->frame, .bounds = {6, 36, 308, 38}, .parent = form},
      {.control = form->box, .bounds = {8, 80, 200, 60}, .parent = form},
      {.control = form->inner, .bounds = {10, 12, 60, 25}, .parent = form->box},
      {.control = form->progress, .bounds = {8, 150, 300, 16}, .parent = form},
      {.control = form->ports, .bounds = {220, 80, 90, 21}, .parent = form},
      {.control = form->lines, .bounds = {220, 104, 90, 40}, .parent = form},
  };
  for (const auto& c : cases) {
    QWidget* w = W(c.control);
    ASSERT_NE(w, nullptr) << c.control->Name();
    EXPECT_EQ(w->geometry(), c.bounds) << c.control->Name();
    QWidget* parent = c.parent == form ? renderer.ClientOf(form) : W(c.parent);
    EXPECT_EQ(w->parentWidget(), parent) << c.control->Name();
    EXPECT_TRUE(w->isVisibleTo(renderer.WindowOf(form))) << c.control->Name();
  }
}

TEST_F(QtRendererTest, DrawnControlsLieBeneathWindowedOnes) {
  // The bevel and label come after the button they overlap, yet stay
  // beneath it, and keep their own order among themselves.
  struct Stack : TForm {
    Stack() : TForm("Stack", 100, 60, 0, 0) {
      button = Add<TButton>("B", this, TRect{0, 0, 50, 20});
      bevel = Add<TBevel>("V", this, TRect{0, 0, 100, 60});
      label = Add<TLabel>("L", this, TRect{2, 2, 96, 56});
    }
    TButton* button;
    TBevel* bevel;
    TLabel* label;
  };
  Stack* form = nullptr;
  Application->CreateForm(form);
  Sync();
  const QObjectList& order = renderer.ClientOf(form)->children();
  EXPECT_LT(order.indexOf(W(form->bevel)), order.indexOf(W(form->label)));
  EXPECT_LT(order.indexOf(W(form->label)), order.indexOf(W(form->button)));
  EXPECT_TRUE(W(form->bevel)->testAttribute(Qt::WA_TransparentForMouseEvents));
}

TEST_F(QtRendererTest, LabelShowsItsTextFontAndColours) {
  SampleForm* form = MakeSample();
  auto* label = W<QLabel>(form->title);
  ASSERT_NE(label, nullptr);
  EXPECT_EQ(label->text(), "Ready");
  EXPECT_EQ(label->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
  EXPECT_EQ(label->font().pixelSize(), 24);
  EXPECT_TRUE(label->font().bold());
  EXPECT_EQ(QFontInfo(label->font()).styleHint(), QFont::Serif);
  EXPECT_EQ(label->palette().color(QPalette::WindowText), QColor(255, 0, 0));
  EXPECT_EQ(label->palette().color(QPalette::Window), QColor(255, 255, 255));
  EXPECT_TRUE(label->autoFillBackground()) << "an opaque label paints its colour";

  form->title->SetTransparent(true);
  Sync();
  EXPECT_FALSE(label->autoFillBackground());
}

TEST_F(QtRendererTest, ButtonsMenusAndPanelsShowTheirState) {
  SampleForm* form = MakeSample();
  auto* go = W<QPushButton>(form->go);
  ASSERT_NE(go, nullptr);
  EXPECT_EQ(go->text(), "&Go");
  EXPECT_TRUE(go->isEnabled());

  QAction* menu = renderer.ActionOf(form->menu);
  ASSERT_NE(menu, nullptr);
  EXPECT_EQ(menu->text(), "&Change port");
  EXPECT_TRUE(menu->isEnabled());

  auto* box = W<QFrame>(form->box);
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(box->frameShadow(), QFrame::Sunken);
  EXPECT_TRUE(box->autoFillBackground());
  EXPECT_EQ(box->palette().color(QPalette::Window), QColor(0xc0, 0xc0, 0xc0));
  EXPECT_EQ(W<QFrame>(form->frame)->frameShadow(), QFrame::Sunken);

  form->go->SetEnabled(false);
  form->menu->SetEnabled(false);
  form->box->SetColor(clGreen);
  Sync();
  EXPECT_FALSE(go->isEnabled());
  EXPECT_FALSE(menu->isEnabled());
  EXPECT_EQ(box->palette().color(QPalette::Window), QColor(0, 0x80, 0));
}

TEST_F(QtRendererTest, ChangesAfterTheFirstSyncShowUpAtTheNext) {
  SampleForm* form = MakeSample();
  form->Show();
  form->title->SetCaption(" Program Ok ");
  form->title->SetFontColor(clGreen);
  form->go->Hide();
  form->go->SetLeft(20);
  form->inner->SetCaption("&Stop");
  form->SetCaption("Other");
  form->box->Hide();

  // Nothing moves until the sync.
  EXPECT_EQ(W<QLabel>(form->title)->text(), "Ready");
  Sync();
  EXPECT_EQ(W<QLabel>(form->title)->text(), " Program Ok ");
  EXPECT_EQ(W(form->title)->palette().color(QPalette::WindowText), QColor(0, 0x80, 0));
  EXPECT_FALSE(W(form->go)->isVisible());
  EXPECT_EQ(W(form->go)->x(), 20);
  EXPECT_EQ(W<QPushButton>(form->inner)->text(), "&Stop");
  EXPECT_EQ(renderer.WindowOf(form)->windowTitle(), "Other");
  EXPECT_FALSE(W(form->inner)->isVisible()) << "a hidden panel hides what it holds";
}

TEST_F(QtRendererTest, SyncLeavesUntouchedControlsAlone) {
  SampleForm* form = MakeSample();
  auto* label = W<QLabel>(form->title);
  label->setText("drawn elsewhere");
  Sync();
  EXPECT_EQ(label->text(), "drawn elsewhere") << "nothing changed: the sync does nothing";
  form->go->SetCaption("Again");
  Sync();
  EXPECT_EQ(label->text(), "drawn elsewhere") << "only the changed control is redone";
  EXPECT_EQ(W<QPushButton>(form->go)->text(), "Again");
}

TEST_F(QtRendererTest, RepaintBringsTheWidgetsUpToDateWithoutDeliveringInput) {
  SampleForm* form = MakeSample();
  int clicks = 0;
  form->go->OnClick = [&] { ++clicks; };
  Application->PostClick(form->go);
  form->title->SetCaption("Writing");
  form->title->Repaint();
  EXPECT_EQ(W<QLabel>(form->title)->text(), "Writing");
  EXPECT_EQ(clicks, 0);
  EXPECT_TRUE(Application->HasPendingInput());
}

TEST_F(QtRendererTest, RepaintPaintsAShownWindowAtOnce) {
  SampleForm* form = MakeSample();
  form->Show();
  Sync();
  Application->ProcessMessages();  // the first showing is painted

  struct PaintCounter : QObject {
    int paints = 0;
    bool eventFilter(QObject*, QEvent* e) override {
      if (e->type() == QEvent::Paint) ++paints;
      return false;
    }
  } counter;
  W(form->title)->installEventFilter(&counter);
  form->title->SetCaption("Writing");
  form->title->Repaint();
  EXPECT_GT(counter.paints, 0) << "painted before Repaint returns, with no pumping";
  W(form->title)->removeEventFilter(&counter);
}

TEST_F(QtRendererTest, StatusBarLaysItsPanelsAlongTheBottom) {
  SampleForm* form = MakeSample();
  form->status->SetPanelText(1, "Try 3");
  Sync();
  QWidget* bar = W(form->status);
  ASSERT_NE(bar, nullptr);
  EXPECT_EQ(bar->geometry(), QRect(0, 200 - 19, 320, 19));
  const auto panels = bar->findChildren<QLabel*>(Qt::FindDirectChildrenOnly);
  ASSERT_EQ(panels.size(), 3);
  EXPECT_EQ(panels[0]->geometry(), QRect(0, 0, 50, 19));
  EXPECT_EQ(panels[1]->geometry(), QRect(50, 0, 130, 19));
  EXPECT_EQ(panels[2]->geometry(), QRect(180, 0, 140, 19)) << "the last panel takes the rest";
  EXPECT_EQ(panels[1]->text(), "Try 3");
  EXPECT_EQ(panels[1]->frameShadow(), QFrame::Sunken);

  form->status->Hide();
  Sync();
  EXPECT_FALSE(bar->isVisibleTo(renderer.WindowOf(form)));
}

TEST_F(QtRendererTest, ProgressBarShowsRangePositionAndState) {
  SampleForm* form = MakeSample();
  auto* bar = W<QProgressBar>(form->progress);
  ASSERT_NE(bar, nullptr);
  EXPECT_FALSE(bar->isTextVisible());
  const QColor normal = bar->palette().color(QPalette::Highlight);

  form->progress->SetMax(400);
  form->progress->SetPosition(123);
  Sync();
  EXPECT_EQ(bar->minimum(), 0);
  EXPECT_EQ(bar->maximum(), 400);
  EXPECT_EQ(bar->value(), 123);

  struct Case {
    TProgressBarState state;
    QColor highlight;
  };
  const Case cases[] = {
      {.state = TProgressBarState::pbsError, .highlight = QColor(0xd0, 0x20, 0x20)},
      {.state = TProgressBarState::pbsPaused, .highlight = QColor(0xe0, 0xc0, 0x00)},
      {.state = TProgressBarState::pbsNormal, .highlight = normal},
  };
  for (const auto& c : cases) {
    form->progress->SetState(c.state);
    Sync();
    EXPECT_EQ(bar->palette().color(QPalette::Highlight), c.highlight) << static_cast<int>(c.state);
  }
}

TEST_F(QtRendererTest, ListsShowTheirItemsAndIndex) {
  SampleForm* form = MakeSample();
  for (const char* s : {"COM1", "COM2", "COM3"}) form->ports->Items().Add(s);
  form->ports->SetItemIndex(1);
  form->lines->Items().Add("Device - Print          - Preparation");
  form->lines->Items().Add("-------------------------------------");
  Sync();

  auto* combo = W<QComboBox>(form->ports);
  ASSERT_NE(combo, nullptr);
  ASSERT_EQ(combo->count(), 3);
  EXPECT_EQ(combo->itemText(2), "COM3");
  EXPECT_EQ(combo->currentIndex(), 1);

  auto* list = W<QListWidget>(form->lines);
  ASSERT_NE(list, nullptr);
  ASSERT_EQ(list->count(), 2);
  EXPECT_EQ(list->item(0)->text(), "Device - Print          - Preparation");
  EXPECT_TRUE(QFontInfo(list->font()).fixedPitch()) << "columns line up";

  form->ports->Items().Clear();
  form->ports->Items().Add("ttyUSB0");
  form->ports->SetItemIndex(0);
  form->lines->Items().Clear();
  Sync();
  ASSERT_EQ(combo->count(), 1);
  EXPECT_EQ(combo->itemText(0), "ttyUSB0");
  EXPECT_EQ(combo->currentIndex(), 0);
  EXPECT_EQ(list->count(), 0);
  EXPECT_FALSE(Application->HasPendingInput()) << "our own changes are not the operator's";
}

TEST_F(QtRendererTest, ActiveControlHasTheFocus) {
  SampleForm* form = MakeSample();
  form->inner->SetFocus();
  Sync();
  EXPECT_EQ(renderer.WindowOf(form)->focusWidget(), W(form->inner));
  form->go->SetFocus();
  Sync();
  EXPECT_EQ(renderer.WindowOf(form)->focusWidget(), W(form->go));
}

TEST_F(QtRendererTest, WindowsOfAResetApplicationGo) {
  SampleForm* form = MakeSample();
  ASSERT_NE(renderer.WindowOf(form), nullptr);
  Application->Reset();
  Application->SetRenderer(&renderer);
  Sync();
  EXPECT_EQ(renderer.WindowOf(form), nullptr);
}

}  // namespace
}  // namespace kestovane::test
