#include "ui/upgrade_window.h"

#include "app/feedback.h"
#include "app/personality.h"
#include "catalogue/catalogue.h"
#include "remote/udp_listener.h"
#include "programming/batch.h"
#include "protocol/exchange.h"
#include "ui/port_choice.h"
#include "ui/run_guard.h"
#include "ui/serialsetup.h"
#include "serial/port_channel.h"

namespace kestovane {

TForm5* Form5 = nullptr;
uint8_t BatchMode = 0;

TForm5::TForm5() : TForm("Form5", 630, 181, 274, 100) {
  SetColor(clBtnFace);
  Panel1 = Add<TPanel>("Panel1", this, TRect{8, 8, 614, 113});
  const TFont big{.name = "MS Sans Serif", .height = -33, .style = fsBold, .color = clWindowText};
  Button1 = Add<TButton>("Button1", Panel1, TRect{175, 25, 249, 65});
  Button1->SetCaption("START");
  Button1->SetFont(big);
  Button2 = Add<TButton>("Button2", Panel1, TRect{175, 25, 249, 65});
  Button2->SetCaption("STOP");
  Button2->SetFont(big);
  Button2->Hide();
  ProgressBar1 = Add<TProgressBar>("ProgressBar1", this, TRect{5, 128, 617, 17});
  ProgressBar1->SetSmooth(true);
  ProgressBar2 = Add<TProgressBar>("ProgressBar2", this, TRect{464, 128, 158, 17});
  ProgressBar2->SetSmooth(true);
  ProgressBar2->Hide();
  StatusBar1 = Add<TStatusBar>("StatusBar1", this, 29, std::vector<int>{50, 220, 100, 140, 20});
  StatusBar1->SetBounds({0, 181 - 29, 630, 29});
  SerialPort1 = Add<TMenuItem>("SerialPort1", this, "Serial Port");

  Button1->OnClick = [this] { Button1Click(); };
  Button2->OnClick = [this] { Button2Click(); };
  SerialPort1->OnClick = [this] { SerialPort1Click(); };
  OnCloseQuery = [this] { return RunGuard::CloseQuery(this); };
  OnClose = [this] { FormClose(); };
}

void TForm5::Created() {
  StartRemoteListenerIfAsked();
  SetCaption(PersonalityTitle(Personality::Upgrade));
  SetHint(Caption());
  const std::string label = GetCatalogueLabel();
  Application->SetTitle(label);

  // The port chosen in an earlier run; one below it marks that none is open
  // yet, so the first search opens it.
  SelectedPortIndex = StoredPortChoice(1).value_or(0);
  OpenedPortIndex = static_cast<int16_t>(SelectedPortIndex - 1);

  FillCatalogue();
  ShowPortLabel(StatusBar1);

  // Device texts share the wide panel with the info texts in this window.
  DevicePanel = 3;

  BatchMode = label.find("DLQ") != std::string::npos ? 1 : 0;
  if (BatchMode == 1) {
    ProgressBar1->SetWidth(ProgressBar1->Width() - ProgressBar2->Width() - 5);
    ProgressBar2->Show();
  }
}

void TForm5::FormClose() {
  ClosePortAndStoreChoice(1);
}

void TForm5::SerialPort1Click() { Form3->Show(); }

void TForm5::Button1Click() {
  RunGuard run(this);
  if (!run.Started()) return;
  RunBatch(ProgressBar1, StatusBar1, ProgressBar2);
}

void TForm5::Button2Click() {
  ShowIdle();
  abortRequested = 1;
}

}  // namespace kestovane
