#include <gtest/gtest.h>

#include <cstring>

#include "app/feedback.h"
#include "app/identity_display.h"
#include "catalogue/catalogue.h"
#include "protocol/reply_parser.h"
#include "support/program.h"
#include "ui/loader_window.h"
#include "ui/updater_window.h"
#include "ui/upgrade_window.h"

namespace kestovane {
namespace {

constexpr const char* kUpdater = "PLAIN 1.0";
constexpr const char* kUpgrade = "VEX 1C 01.05.00.02";
constexpr const char* kLoader = "G. 1.0";

void Reported(uint8_t version, uint8_t print, uint8_t prep, bool seen, const char* info = "") {
  Identity = DeviceIdentity{};
  Identity.bootloaderVersion = version;
  Identity.printCode = print;
  Identity.preparationCode = prep;
  Identity.identitySeen = seen ? 1 : 0;
  std::strncpy(Identity.infoText, info, sizeof Identity.infoText - 1);
  SelectedImage = SelectedImageCopy{};
  SelectedImage.printCode = 16;
  SelectedImage.preparationCode = 0x04;
}

TEST(IdentityDisplay, UpdaterShowsTheDevicesCodesWhenItSentAnIdentityRecord) {
  testing::StartProgram(kUpdater);
  Reported(0x0A, 14, 0x21, true);
  const int repaints = Form1->Label3->RepaintCount();
  ShowIdentity();
  EXPECT_EQ(Form1->Label3->Caption(), "BIOS:0a - ZEH_R03 - Preparation21");
  EXPECT_TRUE(Form1->Label3->Visible());
  EXPECT_EQ(Form1->Label3->Color(), clBtnFace);
  EXPECT_EQ(Form1->Label3->Font().color, clBlack);
  EXPECT_GT(Form1->Label3->RepaintCount(), repaints);
}

TEST(IdentityDisplay, UpdaterShowsTheImagesCodesWithoutAnIdentityRecord) {
  testing::StartProgram(kUpdater);
  Reported(0, 2, 0, false);
  ShowIdentity();
  EXPECT_EQ(Form1->Label3->Caption(), "BIOS:00 - KTW_R0x - Preparation04");
}

struct InfoCase {
  uint8_t version;
  bool shown;
};

class InfoLine : public ::testing::TestWithParam<InfoCase> {};

TEST_P(InfoLine, IsShownOnlyForVersions8To31) {
  testing::StartProgram(kUpdater);
  Reported(GetParam().version, 14, 0x21, true, "BOOT 2.4");
  ShowIdentity();
  EXPECT_EQ(Form1->Label4->Visible(), GetParam().shown);
  if (GetParam().shown) {
    EXPECT_EQ(Form1->Label4->Caption(), "BOOT 2.4");
  }
}

INSTANTIATE_TEST_SUITE_P(Versions, InfoLine,
                         ::testing::Values(InfoCase{7, false}, InfoCase{8, true}, InfoCase{31, true},
                                           InfoCase{32, false}));

TEST(IdentityDisplay, AnErasedInfoTextShowsEmptyAndStaysEmpty) {
  testing::StartProgram(kUpdater);
  Reported(9, 14, 0x21, true, "\xFF\xFF\xFF");
  ShowIdentity();
  EXPECT_EQ(Form1->Label4->Caption(), "");
  EXPECT_EQ(Identity.infoText[0], 0);
}

TEST(IdentityDisplay, LoaderFillsItsReadoutsOnlyAfterAnIdentityRecord) {
  testing::StartProgram(kLoader);
  Form6->Label6->SetCaption("-");
  Reported(0x0A, 14, 0x21, false);
  ShowIdentity();
  EXPECT_EQ(Form6->Label6->Caption(), "-");
  Reported(0x0A, 14, 0x21, true);
  ShowIdentity();
  EXPECT_EQ(Form6->Label6->Caption(), "KTW_R0x - 0x21");  // the image's board, the device's preparation
  EXPECT_EQ(Form6->Label7->Caption(), "0x0a");
}

TEST(IdentityDisplay, ImageKindColoursThePanelOrTheLabelLine) {
  testing::StartProgram(kUpgrade);
  ShowImageKind(1);
  EXPECT_EQ(Form5->Panel1->Color(), clSilver);
  ShowImageKind(0);
  EXPECT_EQ(Form5->Panel1->Color(), clBtnFace);
  testing::StartProgram(kUpdater);
  ShowImageKind(1);
  EXPECT_EQ(Form1->Label1->Color(), clSilver);
}

TEST(ImageWarnings, UpdaterShowsTheWarningMarksThePanelAndRedrawsTheIdentity) {
  testing::StartProgram(kUpdater);
  Reported(9, 14, 0x21, true);
  ShowBusy();
  ShowTooBigWarning();
  EXPECT_EQ(Form1->Label2->Caption(), " Hex too Big !! ");
  EXPECT_EQ(Form1->Label2->Color(), clRed);
  EXPECT_EQ(Form1->StatusBar1->PanelText(2), "Warning");
  EXPECT_EQ(Form1->Label3->Caption(), "BIOS:09 - ZEH_R03 - Preparation21");
  EXPECT_TRUE(Form1->Button1->Visible());
}

TEST(ImageWarnings, LoaderShowsTheWarningAsItsResult) {
  testing::StartProgram(kLoader);
  ShowNoImageWarning();
  EXPECT_EQ(Form6->Label1->Caption(), " No Hex inside !! ");
  EXPECT_EQ(Form6->Label1->Font().color, clRed);
}

TEST(ImageWarnings, UpgradeWindowSaysItAndGivesStartBack) {
  testing::StartProgram(kUpgrade);
  ShowBusy();
  ShowNoImageWarning();
  EXPECT_EQ(Form5->StatusBar1->PanelText(1), " No Hex inside !! ");
  EXPECT_TRUE(Form5->Button1->Visible());
  EXPECT_FALSE(Form5->Button2->Visible());
}

}  // namespace
}  // namespace kestovane
