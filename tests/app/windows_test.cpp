#include <gtest/gtest.h>

#include "app/feedback.h"
#include "app/personality.h"
#include "catalogue/catalogue.h"
#include "support/program.h"
#include "ui/loader_window.h"
#include "ui/updater_window.h"
#include "ui/upgrade_window.h"
#include "ui/version.h"

namespace kestovane {
namespace {

struct LogoCase {
  const char* label;
  bool image1, image2;
};

std::ostream& operator<<(std::ostream& os, const LogoCase& c) { return os << (c.label ? c.label : "(none)"); }

class UpdaterLogo : public ::testing::TestWithParam<LogoCase> {};

TEST_P(UpdaterLogo, IsChosenFromTheLabel) {
  testing::StartProgram(GetParam().label);
  ASSERT_EQ(CurrentPersonality, Personality::Updater);
  EXPECT_EQ(Form1->Image1->Visible(), GetParam().image1);
  EXPECT_EQ(Form1->Image2->Visible(), GetParam().image2);
}

INSTANTIATE_TEST_SUITE_P(Labels, UpdaterLogo,
                         ::testing::Values(LogoCase{"QX900 1.0", false, false},
                                           LogoCase{"PLZ 1.0", false, false},
                                           LogoCase{"QX900 ZNA", false, false},
                                           LogoCase{"PLAIN 1.0", false, true},
                                           LogoCase{nullptr, false, true}));

TEST(UpdaterWindow, SetsUpTitleAndLabelLineInTheUpdaterPersonality) {
  testing::StartProgram(nullptr);
  EXPECT_EQ(Form1->Caption(), std::string("Updater 2.7 - RUM15.4 00.04   [ ") + BuildDate() + " ]");
  EXPECT_EQ(Form1->Hint(), Form1->Caption());
  EXPECT_EQ(Form1->Label1->Caption(), "RUM15.4 00.04");
  EXPECT_EQ(Application->Title(), "RUM15.4 00.04");
  EXPECT_EQ(Application->MainForm(), Form1);
}

TEST(UpdaterWindow, DoubleClickOnTheLabelLineOpensTheVersionWindow) {
  testing::StartProgram(nullptr);
  Form1->Show();
  Application->PostDblClick(Form1->Label1);
  Application->ProcessMessages();
  EXPECT_TRUE(Form4->Visible());
  EXPECT_EQ(Form4->Caption(), std::string("RUM15.4 00.04   [ ") + BuildTime() + " - " + BuildDate() + " ]");
}

TEST(UpgradeWindow, WithoutDLQRunsOneDeviceAndHidesTheBatchBar) {
  testing::StartProgram("VEX 1C 01.05.00.02");
  EXPECT_EQ(BatchMode, 0);
  EXPECT_FALSE(Form5->ProgressBar2->Visible());
  EXPECT_EQ(Form5->ProgressBar1->Width(), 617);
  EXPECT_EQ(DevicePanel, 3);
  EXPECT_EQ(Form5->StatusBar1->PanelCount(), 5);
}

TEST(UpgradeWindow, FillsTheCatalogueWithThisBuildsFirmwareSet) {
  ImageCatalogue[kGenericRow][6].imageSize = 0;
  testing::StartProgram("VEX 1C 01.05.00.02");
  EXPECT_EQ(ImageCatalogue[kGenericRow][6].imageSize, 30968);
  EXPECT_EQ(remainingCount, 2);
}

TEST(UpgradeWindow, WithDLQShowsTheBatchBarBesideANarrowerDeviceBar) {
  testing::StartProgram("VEX DLQ 1.0");
  EXPECT_EQ(BatchMode, 1);
  EXPECT_TRUE(Form5->ProgressBar2->Visible());
  EXPECT_EQ(Form5->ProgressBar1->Width(), 454);
}

struct LoaderCase {
  const char* label;
  uint8_t variant;
  bool logo;
  bool suffix;
};

std::ostream& operator<<(std::ostream& os, const LoaderCase& c) { return os << c.label; }

class LoaderCreation : public ::testing::TestWithParam<LoaderCase> {};

TEST_P(LoaderCreation, DerivesVariantLogoAndCaption) {
  const LoaderCase& c = GetParam();
  testing::StartProgram(c.label);
  ASSERT_EQ(CurrentPersonality, Personality::Loader);
  EXPECT_EQ(LoaderVariant, c.variant);
  EXPECT_EQ(Form6->Image1->Visible(), c.logo);
  const std::string title = PersonalityTitle(Personality::Loader);
  EXPECT_EQ(Form6->Caption(), c.suffix ? title + "   -(N)-" : title);
  EXPECT_EQ(Form6->Hint(), title);
  EXPECT_EQ(Form6->Label5->Caption(), c.label);
}

INSTANTIATE_TEST_SUITE_P(Labels, LoaderCreation,
                         ::testing::Values(LoaderCase{"KRD 1.0", 1, false, true},
                                           LoaderCase{"VANTO 2", 2, true, false},
                                           LoaderCase{"G. 3", 0, true, false}));

TEST(LoaderWindow, ClearLabelGivesThePromptInItalicsAndEmptiesTheReadouts) {
  testing::StartProgram("G. 3");
  Form6->Label6->SetCaption("x");
  Form6->ProgressBar1->SetPosition(40);
  Form6->clearLabel();
  EXPECT_EQ(Form6->Label1->Caption(), "Push 'Update FW' button and connect a device");
  EXPECT_EQ(Form6->Label1->Font().style, fsItalic);
  EXPECT_EQ(Form6->Label1->Font().height, 25);
  EXPECT_EQ(Form6->Label1->Font().color, clBlack);
  EXPECT_EQ(Form6->Label6->Caption(), "");
  EXPECT_EQ(Form6->Label7->Caption(), "");
  EXPECT_EQ(Form6->ProgressBar1->Position(), 0);
}

TEST(LoaderWindow, AbortGivesTheButtonsBackAndTurnsTheBarRed) {
  testing::StartProgram("G. 3");
  ShowBusy();
  Form6->Button2Click();
  EXPECT_TRUE(Form6->Button1->Enabled());
  EXPECT_FALSE(Form6->Button2->Enabled());
  EXPECT_EQ(Form6->ProgressBar1->State(), TProgressBarState::pbsError);
}

}  // namespace
}  // namespace kestovane
