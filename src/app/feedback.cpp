#include "app/feedback.h"

#include "app/personality.h"
#include "ui/loader_window.h"
#include "ui/updater_window.h"
#include "ui/upgrade_window.h"

namespace kestovane {

int32_t PortPanel = 0;
int32_t OperationPanel = 1;
int32_t DevicePanel = 2;
int32_t InfoPanel = 3;

void ResetPanelIndices() {
  PortPanel = 0;
  OperationPanel = 1;
  DevicePanel = 2;
  InfoPanel = 3;
}

// Each operation writes only into the window of the personality; a window
// that does not exist (a test without it, or before creation) is skipped.

namespace {

// Start and stop lie on the same spot: one of them is shown at a time.
void GiveStartBack(TButton* start, TButton* stop) {
  stop->Hide();
  start->Show();
  start->SetFocus();
}

}  // namespace

void ShowResult(const std::string& text, TColor colour, uint8_t /*success: no display depends on it*/) {
  switch (CurrentPersonality) {
    case Personality::Loader:
      if (!Form6) return;
      Form6->Button1->SetEnabled(true);
      Form6->Button2->SetEnabled(false);
      Form6->Label1->SetFontStyle(fsBold);
      Form6->Label1->SetFontHeight(32);
      Form6->Label1->SetAlignment(TAlignment::taCenter);
      Form6->Label1->SetFontColor(colour);
      Form6->Label1->SetCaption(text);
      Form6->Label1->Repaint();
      return;
    case Personality::Upgrade:
      if (!Form5) return;
      GiveStartBack(Form5->Button1, Form5->Button2);
      Form5->StatusBar1->SetPanelText(OperationPanel, text);
      return;
    case Personality::Updater:
      if (!Form1) return;
      Form1->Label2->SetTransparent(false);
      Form1->Label2->SetCaption(text);
      Form1->Label2->Show();
      Form1->Label2->SetColor(colour);
      Form1->Label2->SetFontColor(clWhite);
      Form1->S1->SetEnabled(true);
      GiveStartBack(Form1->Button1, Form1->Button2);
      return;
  }
}

void ShowStatus(const std::string& text, TColor colour) {
  switch (CurrentPersonality) {
    case Personality::Loader: {
      if (!Form6) return;
      TLabel* line = Form6->Label1;
      line->SetFontColor(colour == clBtnFace ? clBlack : colour);
      // A black line is an ordinary status; a coloured one must stand out.
      if (line->Font().color == clBlack) {
        line->SetFontStyle(0);
        line->SetFontHeight(25);
      } else {
        line->SetFontStyle(fsBold);
        line->SetFontHeight(32);
      }
      line->SetAlignment(TAlignment::taLeftJustify);
      line->SetCaption(text);
      return;
    }
    case Personality::Upgrade:
      if (!Form5) return;
      Form5->StatusBar1->SetPanelText(OperationPanel, text);
      return;
    case Personality::Updater:
      if (!Form1) return;
      Form1->Label2->SetCaption(text);
      Form1->Label2->Show();
      Form1->Label2->SetColor(colour);
      Form1->Label2->SetFontColor(clBlack);
      return;
  }
}

void ShowBusy() {
  switch (CurrentPersonality) {
    case Personality::Loader:
      if (!Form6) return;
      Form6->Button1->SetEnabled(false);
      Form6->Button2->SetEnabled(true);
      return;
    case Personality::Upgrade:
      if (!Form5) return;
      Form5->StatusBar1->SetPanelText(DevicePanel, " ");
      Form5->Button2->Show();
      Form5->Button1->Hide();
      return;
    case Personality::Updater:
      if (!Form1) return;
      Form1->Button2->Show();
      Form1->Button1->Hide();
      return;
  }
}

void ShowIdle() {
  switch (CurrentPersonality) {
    case Personality::Loader:
      if (!Form6) return;
      Form6->Button1->SetEnabled(true);
      Form6->Button2->SetEnabled(false);
      Form6->Button1->SetFocus();
      return;
    case Personality::Upgrade:
      if (Form5) GiveStartBack(Form5->Button1, Form5->Button2);
      return;
    case Personality::Updater:
      if (Form1) GiveStartBack(Form1->Button1, Form1->Button2);
      return;
  }
}

int32_t ShowMessageBox(const char* text, const char* caption, unsigned flags) {
  return Application->MessageBox(text ? text : "", caption ? caption : "", flags);
}

}  // namespace kestovane
