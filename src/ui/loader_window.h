// The Loader window: FW, HW and BS read-outs, one message line, Update FW and
// Abort.
#pragma once

#include "platform/forms.h"

namespace kestovane {

class TForm6 : public TForm {
 public:
  TForm6();
  void Created() override;

  void clearLabel();
  void Button1Click();
  void Button2Click();
  void ChangePort1Click();
  void FormClose();

  TButton* Button1;
  TButton* Button2;
  TImage* Image1;
  TBevel* Bevel1;
  TLabel* Label2;
  TLabel* Label3;
  TLabel* Label4;
  TLabel* Label5;
  TLabel* Label6;
  TLabel* Label7;
  TLabel* Label1;
  TProgressBar* ProgressBar1;
  TStatusBar* StatusBar1;
  TMenuItem* ChangePort1;
};

extern TForm6* Form6;

}  // namespace kestovane
