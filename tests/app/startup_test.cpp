#include <gtest/gtest.h>

#include <stdexcept>

#include "app/personality.h"
#include "app/startup.h"
#include "platform/instance_lock.h"
#include "support/program.h"
#include "ui/loader_window.h"
#include "ui/serialsetup.h"
#include "ui/updater_window.h"
#include "ui/upgrade_window.h"
#include "ui/version.h"

namespace kestovane {
namespace {

class Startup : public ::testing::Test {
 protected:
  void SetUp() override { testing::ResetProgram(); }
};

TEST_F(Startup, RunsThisBuildAsUpgradeUntilTheMainWindowCloses) {
  bool mainWasShown = false;
  Application->Post([&] {
    mainWasShown = Application->MainForm()->Visible();
    Application->MainForm()->Close();
  });
  char name[] = "kestovane";
  char* argv[] = {name, nullptr};
  EXPECT_EQ(RunProgram(1, argv, nullptr), 0);

  EXPECT_EQ(CurrentPersonality, Personality::Upgrade);
  ASSERT_NE(Form5, nullptr);
  EXPECT_EQ(Application->MainForm(), Form5);
  EXPECT_TRUE(mainWasShown);
  EXPECT_EQ(Form5->Caption(), std::string("Upgrade 1.1 -   VEX 1C 01.05.00.02   - ") + BuildDate());
  EXPECT_EQ(Application->Title(), "VEX 1C 01.05.00.02");
  // The shared windows exist, hidden, and the Updater window was not set up.
  EXPECT_EQ(Application->Forms(), (std::vector<TForm*>{Form5, Form1, Form3, Form4}));
  EXPECT_FALSE(Form1->Visible());
  EXPECT_FALSE(Form3->Visible());
  EXPECT_EQ(Form1->Caption(), "");
  EXPECT_TRUE(Application->ShownErrors().empty());
}

TEST_F(Startup, ASecondCopySaysAlreadyInProgressAndCreatesNoWindow) {
  InstanceLock first;
  ASSERT_EQ(first.Acquire(kInstanceMutexName), InstanceLock::Result::Acquired);

  char name[] = "kestovane";
  char* argv[] = {name, nullptr};
  EXPECT_EQ(RunProgram(1, argv, nullptr), 0);

  ASSERT_EQ(Application->ShownBoxes().size(), 1u);
  const auto& box = Application->ShownBoxes()[0];
  EXPECT_EQ(box.text, "Already in progress");
  EXPECT_EQ(box.caption, PersonalityTitle(Personality::Updater));
  EXPECT_EQ(box.flags, MB_TOPMOST);
  EXPECT_TRUE(Application->Forms().empty());
  EXPECT_FALSE(Application->Initialized());
  EXPECT_TRUE(first.Held());
}

TEST_F(Startup, TheLockIsFreeAgainOnceTheFirstCopyEnds) {
  {
    InstanceLock first;
    ASSERT_EQ(first.Acquire(kInstanceMutexName), InstanceLock::Result::Acquired);
  }
  InstanceLock second;
  EXPECT_EQ(second.Acquire(kInstanceMutexName), InstanceLock::Result::Acquired);
}

TEST_F(Startup, AnErrorInAHandlerIsShownAndTheLoopGoesOn) {
  testing::StartProgram("VEX 1C 01.05.00.02");
  bool later = false;
  Application->Post([] { throw Exception("Disk full"); });
  Application->Post([] { throw std::runtime_error("not ours"); });
  Application->Post([&] { later = true; });
  Application->ProcessMessages();
  EXPECT_EQ(Application->ShownErrors(), (std::vector<std::string>{"Disk full", "not ours"}));
  EXPECT_TRUE(later);
}

TEST_F(Startup, ClicksReachOnlyVisibleEnabledControlsAndNestedPumpsDeliverThem) {
  testing::StartProgram("VEX 1C 01.05.00.02");
  Form5->Show();
  int starts = 0, stops = 0;
  Form5->Button1->OnClick = [&] {
    ++starts;
    Form5->Button1->Hide();
    Form5->Button2->Show();
    // A run pumps messages from inside its handler: a Stop click arrives here.
    Application->PostClick(Form5->Button2);
    Application->ProcessMessages();
  };
  Form5->Button2->OnClick = [&] { ++stops; };
  Application->PostClick(Form5->Button2);  // hidden: dropped
  Application->PostClick(Form5->Button1);
  Application->ProcessMessages();
  EXPECT_EQ(starts, 1);
  EXPECT_EQ(stops, 1);
}

TEST_F(Startup, ClosingAWindowThatIsNotMainHidesIt) {
  testing::StartProgram("VEX 1C 01.05.00.02");
  Form4->Show();
  Application->PostClose(Form4);
  Application->ProcessMessages();
  EXPECT_FALSE(Form4->Visible());
  EXPECT_FALSE(Application->Terminated());
}

}  // namespace
}  // namespace kestovane
