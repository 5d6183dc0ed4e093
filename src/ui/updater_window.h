// The Updater window: the program's default face.
#pragma once

#include "platform/forms.h"

namespace kestovane {

class TForm1 : public TForm {
 public:
  TForm1();
  void Created() override;

  void Button1Click();
  void Button2Click();
  void S1Click();
  void Label1DblClick();
  void FormClose();

  TButton* Button1;
  TButton* Button2;
  TImage* Image1;
  TImage* Image2;
  TBevel* Bevel1;
  TLabel* Label1;
  TBevel* Bevel2;
  TLabel* Label3;
  TLabel* Label4;
  TLabel* Label2;
  TProgressBar* ProgressBar1;
  TStatusBar* StatusBar1;
  TMenuItem* S1;
};

extern TForm1* Form1;

}  // namespace kestovane
