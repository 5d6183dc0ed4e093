#include "app/identity_display.h"

#include <cstdio>

#include "app/feedback.h"
#include "app/personality.h"
#include "catalogue/catalogue.h"
#include "protocol/reply_parser.h"
#include "ui/loader_window.h"
#include "ui/updater_window.h"
#include "ui/upgrade_window.h"

namespace kestovane {

namespace {

std::string Format(const char* format, auto... args) {
  char text[160];
  std::snprintf(text, sizeof text, format, args...);
  return text;
}

void ShowLine(TLabel* line, const std::string& text) {
  line->SetCaption(text);
  line->Show();
  line->SetColor(clBtnFace);
  line->SetFontColor(clBlack);
  line->Repaint();
}

void ShowUpdaterIdentity() {
  // Without an identity record the device's own codes mean nothing: show
  // the image's instead.
  const bool seen = Identity.identitySeen != 0;
  const uint8_t print = seen ? Identity.printCode : SelectedImage.printCode;
  const uint8_t preparation = seen ? Identity.preparationCode : SelectedImage.preparationCode;
  ShowLine(Form1->Label3, Format("BIOS:%02x - %s - Preparation%02x", Identity.bootloaderVersion,
                                 PrintName(print), preparation));

  if (Identity.bootloaderVersion >= 8 && Identity.bootloaderVersion <= 31) {
    // An erased description reads as 0xFF: show it as empty.
    if (static_cast<uint8_t>(Identity.infoText[0]) == 0xFF) Identity.infoText[0] = 0;
    ShowLine(Form1->Label4, Identity.infoText);
  } else {
    Form1->Label4->Hide();
  }
}

// In every window the warning is the run's result. The Upgrade window too:
// it would otherwise keep STOP shown and say nothing; there the warning goes
// where every other result goes, and START comes back.
void ShowWarning(const char* text) {
  ShowResult(text, clRed, 0);
  if (CurrentPersonality != Personality::Updater || !Form1) return;
  Form1->StatusBar1->SetPanelText(DevicePanel, "Warning");
  ShowIdentity();
}

}  // namespace

void ShowIdentity() {
  switch (CurrentPersonality) {
    case Personality::Loader:
      if (!Form6 || !Identity.identitySeen) return;
      Form6->Label6->SetCaption(Format("%s - 0x%02x", PrintName(SelectedImage.printCode), Identity.preparationCode));
      Form6->Label7->SetCaption(Format("0x%02x", Identity.bootloaderVersion));
      return;
    case Personality::Upgrade:
      return;
    case Personality::Updater:
      if (Form1) ShowUpdaterIdentity();
      return;
  }
}

void ShowImageKind(uint8_t plain) {
  const TColor colour = plain != 0 ? clSilver : clBtnFace;
  switch (CurrentPersonality) {
    case Personality::Loader:
      return;
    case Personality::Upgrade:
      if (Form5) Form5->Panel1->SetColor(colour);
      return;
    case Personality::Updater:
      if (Form1) Form1->Label1->SetColor(colour);
      return;
  }
}

void ShowNoImageWarning() { ShowWarning(" No Hex inside !! "); }
void ShowTooBigWarning() { ShowWarning(" Hex too Big !! "); }

}  // namespace kestovane
