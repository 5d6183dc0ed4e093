#include "ui/updater_window.h"

#include <array>
#include <string_view>

#include "app/personality.h"
#include "catalogue/catalogue.h"
#include "remote/udp_listener.h"
#include "programming/programming_sequence.h"
#include "protocol/device_search.h"
#include "protocol/exchange.h"
#include "ui/port_choice.h"
#include "ui/run_guard.h"
#include "ui/serialsetup.h"
#include "serial/port_channel.h"
#include "ui/version.h"

namespace kestovane {

TForm1* Form1 = nullptr;

namespace {
constexpr TColor kFaceColour = clBtnFace;

TFont Bold(const char* name, int height) { return TFont{.name = name, .height = height, .style = fsBold, .color = clWindowText}; }
}  // namespace

TForm1::TForm1() : TForm("Form1", 511, 265, 137, 200) {
  SetColor(kFaceColour);
  MinimizeBox = true;
  MaximizeBox = false;
  Button1 = Add<TButton>("Button1", this, TRect{8, 8, 75, 25});
  Button1->SetCaption("&Update");
  Button2 = Add<TButton>("Button2", this, TRect{8, 8, 75, 25});
  Button2->SetCaption("&Stop");
  Button2->Hide();
  Image1 = Add<TImage>("Image1", this, TRect{368, 0, 137, 45});
  Image1->Picture = "logo";
  Image1->Stretch = true;
  Image1->Center = true;
  Image1->SetTransparent(true);
  Image2 = Add<TImage>("Image2", this, TRect{368, 8, 135, 25});
  Image2->Picture = "logo-small";
  Image2->Proportional = true;
  Image2->Hide();
  Bevel1 = Add<TBevel>("Bevel1", this, TRect{8, 48, 497, 50});
  Label1 = Add<TLabel>("Label1", this, TRect{10, 51, 493, 45});
  Label1->SetAlignment(TAlignment::taCenter);
  Label1->SetFont(Bold("Times", -40));
  Bevel2 = Add<TBevel>("Bevel2", this, TRect{8, 110, 497, 108});
  Label3 = Add<TLabel>("Label3", this, TRect{13, 119, 484, 29});
  Label3->SetAlignment(TAlignment::taCenter);
  Label3->SetFont(Bold("MS Sans Serif", -24));
  Label3->Hide();
  Label4 = Add<TLabel>("Label4", this, TRect{13, 156, 484, 20});
  Label4->SetAlignment(TAlignment::taCenter);
  Label4->SetFont(Bold("MS Sans Serif", -16));
  Label4->Hide();
  Label2 = Add<TLabel>("Label2", this, TRect{13, 182, 484, 29});
  Label2->SetAlignment(TAlignment::taCenter);
  Label2->SetFont(Bold("MS Sans Serif", -24));
  Label2->Hide();
  ProgressBar1 = Add<TProgressBar>("ProgressBar1", this, TRect{8, 224, 497, 16});
  StatusBar1 = Add<TStatusBar>("StatusBar1", this, 19, std::vector<int>{50, 130, 100, 50});
  StatusBar1->SetBounds({0, 265 - 19, 511, 19});
  S1 = Add<TMenuItem>("S1", this, "&Change port");

  Button1->OnClick = [this] { Button1Click(); };
  Button2->OnClick = [this] { Button2Click(); };
  S1->OnClick = [this] { S1Click(); };
  OnCloseQuery = [this] { return RunGuard::CloseQuery(this); };
  Label1->OnDblClick = [this] { Label1DblClick(); };
  OnClose = [this] { FormClose(); };
}

void TForm1::Created() {
  // In the other personalities this window exists only as a hidden target
  // for texts; it is never set up.
  if (CurrentPersonality != Personality::Updater) return;

  StartRemoteListenerIfAsked();
  const std::string label = GetCatalogueLabel();
  auto holds = [&label](std::string_view code) { return label.find(code) != std::string::npos; };

  // The logo tells the firm the firmware set belongs to.
  if (holds("QX900") || holds("PLZ")) {
    Image1->Hide();
    Image2->Hide();
  } else {
    constexpr std::array<std::string_view, 8> kFirstLogoCodes = {"QX", "ZNA", "XMV", "G.",
                                                                 "GN.", "N.", "MOSKC", "MOSKL"};
    bool first = false;
    for (auto code : kFirstLogoCodes) first = first || holds(code);
    if (!first) {
      Image1->Hide();
      Image2->Show();
    }
  }

  SetCaption(PersonalityTitle(Personality::Updater));
  SetHint(Caption());
  Application->SetTitle(label);
  Label1->SetCaption(label);

  // The port chosen in an earlier run; one below it marks that none is open
  // yet, so the first search opens it.
  SelectedPortIndex = StoredPortChoice(0).value_or(0);
  OpenedPortIndex = static_cast<int16_t>(SelectedPortIndex - 1);

  FillCatalogue();
  ShowPortLabel(StatusBar1);
}

void TForm1::Button1Click() {
  RunGuard run(this);
  if (!run.Started()) return;
  if (SearchDevice(ProgressBar1, StatusBar1) == 0) PrgMode(ProgressBar1, StatusBar1);
}

void TForm1::S1Click() {
  Label2->Hide();
  Label2->Repaint();
  Label3->Hide();
  Label3->Repaint();
  Form3->Show();
}

void TForm1::Button2Click() {
  Button2->Hide();
  abortRequested = 1;
}

void TForm1::FormClose() {
  ClosePortAndStoreChoice(0);
}

void TForm1::Label1DblClick() {
  Form4->SetCaption(Label1->Caption() + "   [ " + BuildTime() + " - " + BuildDate() + " ]");
  Form4->Show();
}

}  // namespace kestovane
