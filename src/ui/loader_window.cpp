#include "ui/loader_window.h"

#include "app/feedback.h"
#include "app/personality.h"
#include "catalogue/catalogue.h"
#include "programming/programming_sequence.h"
#include "protocol/device_search.h"
#include "protocol/exchange.h"
#include "ui/port_choice.h"
#include "ui/run_guard.h"
#include "ui/serialsetup.h"
#include "serial/port_channel.h"

namespace kestovane {

TForm6* Form6 = nullptr;

namespace {
TFont Tahoma(int height, uint8_t style = 0) {
  return TFont{.name = "Tahoma", .height = height, .style = style, .color = clWindowText};
}
}  // namespace

TForm6::TForm6() : TForm("Form6", 635, 255, 183, 150) {
  SetColor(clBtnFace);
  SetFont(Tahoma(-11));
  MinimizeBox = true;
  MaximizeBox = false;
  Button1 = Add<TButton>("Button1", this, TRect{8, 8, 161, 33});
  Button1->SetCaption("Update FW");
  Button1->SetFont(Tahoma(-11));
  Button2 = Add<TButton>("Button2", this, TRect{8, 47, 161, 33});
  Button2->SetCaption("Abort");
  Button2->SetFont(Tahoma(-11));
  Button2->SetEnabled(false);
  Image1 = Add<TImage>("Image1", this, TRect{18, 93, 137, 45});
  Image1->Picture = "logo";
  Image1->Stretch = true;
  Image1->Center = true;
  Image1->SetTransparent(true);
  Bevel1 = Add<TBevel>("Bevel1", this, TRect{187, 13, 440, 120});
  auto readoutCaption = [this](const char* name, int top, const char* text) {
    TLabel* l = Add<TLabel>(name, this, TRect{192, top, 97, 32});
    l->SetCaption(text);
    l->SetAlignment(TAlignment::taRightJustify);
    l->SetFont(Tahoma(32));
    return l;
  };
  Label2 = readoutCaption("Label2", 25, "FW :");
  Label3 = readoutCaption("Label3", 55, "HW :");
  Label4 = readoutCaption("Label4", 85, "BS :");
  Label5 = Add<TLabel>("Label5", this, TRect{287, 25, 330, 32});
  Label5->SetAlignment(TAlignment::taCenter);
  Label5->SetFont(Tahoma(32, fsBold));
  Label5->SetTransparent(true);
  Label5->SetCaption("-");
  Label6 = Add<TLabel>("Label6", this, TRect{287, 55, 330, 32});
  Label6->SetAlignment(TAlignment::taCenter);
  Label6->SetFont(Tahoma(25));
  Label6->SetCaption("-");
  Label7 = Add<TLabel>("Label7", this, TRect{287, 85, 330, 32});
  Label7->SetAlignment(TAlignment::taCenter);
  Label7->SetFont(Tahoma(25));
  Label7->SetCaption("-");
  Label1 = Add<TLabel>("Label1", this, TRect{8, 165, 617, 32});
  Label1->SetFont(Tahoma(-11));
  ProgressBar1 = Add<TProgressBar>("ProgressBar1", this, TRect{8, 203, 617, 33});
  ProgressBar1->SetSmooth(true);
  StatusBar1 = Add<TStatusBar>("StatusBar1", this, 13, std::vector<int>{50, 220, 100, 140, 20});
  StatusBar1->SetBounds({0, 255 - 13, 635, 13});
  StatusBar1->Hide();
  ChangePort1 = Add<TMenuItem>("ChangePort1", this, "&Change Port");

  Button1->OnClick = [this] { Button1Click(); };
  Button2->OnClick = [this] { Button2Click(); };
  ChangePort1->OnClick = [this] { ChangePort1Click(); };
  OnCloseQuery = [this] { return RunGuard::CloseQuery(this); };
  OnClose = [this] { FormClose(); };
}

void TForm6::clearLabel() {
  ProgressBar1->SetPosition(0);
  Label1->SetAlignment(TAlignment::taLeftJustify);
  Label1->SetFontColor(clBlack);
  Label1->SetFontStyle(fsItalic);
  Label1->SetFontHeight(25);
  Label1->SetCaption("Push 'Update FW' button and connect a device");
  Label6->SetCaption("");
  Label7->SetCaption("");
}

void TForm6::Created() {
  const std::string title = PersonalityTitle(Personality::Loader);
  SetCaption(title);
  SetHint(title);
  const std::string label = GetCatalogueLabel();
  Application->SetTitle(label);
  clearLabel();
  Label5->SetCaption(label);

  // The port chosen in an earlier run. The opened index is set apart from
  // it so the first search opens afresh; when it comes out negative (nothing
  // stored, or a stored -2 or below) the operator is asked for a port.
  if (const auto stored = StoredPortChoice(2)) {
    SelectedPortIndex = *stored;
    OpenedPortIndex = static_cast<int16_t>(SelectedPortIndex + 1);
  } else {
    SelectedPortIndex = 0;
    OpenedPortIndex = -1;
  }
  if (OpenedPortIndex < 0) Label1->SetCaption("Port not valid. Select a new port.");

  LoaderVariant = LoaderVariantFor(label);
  // Variant 1 boards come without the logo and are marked in the caption.
  if (LoaderVariant == 1) {
    Image1->Hide();
    SetCaption(Caption() + "   -(N)-");
  } else {
    Image1->Show();
  }

  FillCatalogue();
}

void TForm6::FormClose() {
  ClosePortAndStoreChoice(2);
}

void TForm6::Button1Click() {
  RunGuard run(this);
  if (!run.Started()) return;
  clearLabel();
  switch (SearchDevice(ProgressBar1, StatusBar1)) {
    case -2:
      ShowStatus("The device is not find.", clBlack);
      break;
    case -1:
      ShowStatus("Port not valid. Select a new port.", clRed);
      break;
    case 0:
      PrgMode(ProgressBar1, StatusBar1);
      break;
    default:
      break;  // stopped: the search has said so
  }
}

void TForm6::ChangePort1Click() {
  Form3->SetBorderStyle(TBorderStyle::bsToolWindow);
  Form3->SetBounds({Left(), Top(), Form3->Width(), Form3->Height()});
  Form3->Show();
  clearLabel();
}

void TForm6::Button2Click() {
  ShowIdle();
  abortRequested = 1;
  ProgressBar1->SetState(TProgressBarState::pbsError);
}

}  // namespace kestovane
