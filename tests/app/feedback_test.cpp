#include <gtest/gtest.h>

#include <functional>

#include "app/feedback.h"
#include "app/personality.h"
#include "support/program.h"
#include "ui/loader_window.h"
#include "ui/updater_window.h"
#include "ui/upgrade_window.h"

namespace kestovane {
namespace {

constexpr const char* kUpdater = "PLAIN 1.0";
constexpr const char* kUpgrade = "VEX 1C 01.05.00.02";
constexpr const char* kLoader = "G. 1.0";

// One operation in one window, and what the window must show afterwards.
struct FeedbackCase {
  const char* name;
  const char* label;
  std::function<void()> operation;
  std::function<void()> expect;
};

class Feedback : public ::testing::TestWithParam<FeedbackCase> {};

TEST_P(Feedback, WritesTheControlsOfThePersonalitysWindow) {
  testing::StartProgram(GetParam().label);
  GetParam().operation();
  GetParam().expect();
}

void ExpectStartShown(TButton* start, TButton* stop) {
  EXPECT_TRUE(start->Visible());
  EXPECT_FALSE(stop->Visible());
  EXPECT_TRUE(start->Focused());
}

const FeedbackCase kCases[] = {
    {"UpdaterResultGreen", kUpdater, [] { ShowBusy(); ShowResult(" Program Ok ", clGreen, 1); },
     [] {
       TLabel* l = Form1->Label2;
       EXPECT_EQ(l->Caption(), " Program Ok ");
       EXPECT_TRUE(l->Visible());
       EXPECT_FALSE(l->Transparent());
       EXPECT_EQ(l->Color(), clGreen);
       EXPECT_EQ(l->Font().color, clWhite);
       EXPECT_TRUE(Form1->S1->Enabled());
       ExpectStartShown(Form1->Button1, Form1->Button2);
     }},
    {"UpdaterResultRed", kUpdater, [] { ShowResult(" not Response ", clRed, 0); },
     [] {
       EXPECT_EQ(Form1->Label2->Color(), clRed);
       EXPECT_EQ(Form1->Label2->Font().color, clWhite);
     }},
    {"UpdaterStatus", kUpdater, [] { ShowStatus(" Programming... ", clBtnFace); },
     [] {
       EXPECT_EQ(Form1->Label2->Caption(), " Programming... ");
       EXPECT_TRUE(Form1->Label2->Visible());
       EXPECT_EQ(Form1->Label2->Color(), clBtnFace);
       EXPECT_EQ(Form1->Label2->Font().color, clBlack);
     }},
    {"UpdaterBusy", kUpdater, [] { ShowBusy(); },
     [] {
       EXPECT_TRUE(Form1->Button2->Visible());
       EXPECT_FALSE(Form1->Button1->Visible());
     }},
    {"UpdaterIdle", kUpdater, [] { ShowBusy(); ShowIdle(); },
     [] { ExpectStartShown(Form1->Button1, Form1->Button2); }},
    {"UpgradeResult", kUpgrade, [] { ShowBusy(); ShowResult(" CHK Error !! ", clRed, 0); },
     [] {
       EXPECT_EQ(Form5->StatusBar1->PanelText(1), " CHK Error !! ");
       EXPECT_EQ(Form5->Panel1->Color(), clBtnFace);  // never a colour here
       ExpectStartShown(Form5->Button1, Form5->Button2);
     }},
    {"UpgradeStatus", kUpgrade, [] { ShowStatus(" Programming... ", clBtnFace); },
     [] { EXPECT_EQ(Form5->StatusBar1->PanelText(1), " Programming... "); }},
    {"UpgradeBusy", kUpgrade,
     [] {
       Form5->StatusBar1->SetPanelText(3, "254 - dsPIC");
       ShowBusy();
     },
     [] {
       EXPECT_EQ(Form5->StatusBar1->PanelText(3), " ");  // DevicePanel is 3 here
       EXPECT_EQ(Form5->StatusBar1->PanelText(2), "");
       EXPECT_TRUE(Form5->Button2->Visible());
       EXPECT_FALSE(Form5->Button1->Visible());
     }},
    {"UpgradeIdle", kUpgrade, [] { ShowBusy(); ShowIdle(); },
     [] { ExpectStartShown(Form5->Button1, Form5->Button2); }},
    {"LoaderResult", kLoader, [] { ShowBusy(); ShowResult(" User Abort !! ", clRed, 0); },
     [] {
       TLabel* l = Form6->Label1;
       EXPECT_EQ(l->Caption(), " User Abort !! ");
       EXPECT_EQ(l->Font().style, fsBold);
       EXPECT_EQ(l->Font().height, 32);
       EXPECT_EQ(l->Font().color, clRed);
       EXPECT_EQ(l->Alignment(), TAlignment::taCenter);
       EXPECT_GE(l->RepaintCount(), 1);
       EXPECT_TRUE(Form6->Button1->Enabled());
       EXPECT_FALSE(Form6->Button2->Enabled());
     }},
    {"LoaderStatusButtonFace", kLoader, [] { ShowStatus(" Programming... ", clBtnFace); },
     [] {
       TLabel* l = Form6->Label1;
       EXPECT_EQ(l->Font().color, clBlack);
       EXPECT_EQ(l->Font().style, 0);
       EXPECT_EQ(l->Font().height, 25);
       EXPECT_EQ(l->Alignment(), TAlignment::taLeftJustify);
       EXPECT_EQ(l->Caption(), " Programming... ");
     }},
    {"LoaderStatusRed", kLoader, [] { ShowStatus("Port not valid. Select a new port.", clRed); },
     [] {
       TLabel* l = Form6->Label1;
       EXPECT_EQ(l->Font().color, clRed);
       EXPECT_EQ(l->Font().style, fsBold);
       EXPECT_EQ(l->Font().height, 32);
       EXPECT_EQ(l->Alignment(), TAlignment::taLeftJustify);
     }},
    {"LoaderBusy", kLoader, [] { ShowBusy(); },
     [] {
       EXPECT_FALSE(Form6->Button1->Enabled());
       EXPECT_TRUE(Form6->Button2->Enabled());
     }},
    {"LoaderIdle", kLoader, [] { ShowBusy(); ShowIdle(); },
     [] {
       EXPECT_TRUE(Form6->Button1->Enabled());
       EXPECT_FALSE(Form6->Button2->Enabled());
       EXPECT_TRUE(Form6->Button1->Focused());
     }},
    {"MessageBox", kUpgrade,
     [] { EXPECT_EQ(ShowMessageBox("Unable to configure the serial port", nullptr, MB_OK), IDOK); },
     [] {
       ASSERT_EQ(Application->ShownBoxes().size(), 1u);
       EXPECT_EQ(Application->ShownBoxes()[0].text, "Unable to configure the serial port");
       EXPECT_EQ(Application->ShownBoxes()[0].caption, "");
     }},
};

INSTANTIATE_TEST_SUITE_P(OperationsByWindow, Feedback, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(FeedbackUpdater, StopDuringARunHidesStopAndRequestsTheAbort) {
  testing::StartProgram(kUpdater);
  ShowBusy();
  Form1->Button2Click();
  EXPECT_FALSE(Form1->Button2->Visible());
}

}  // namespace
}  // namespace kestovane
