// The port Setup dialog.
#pragma once

#include "platform/forms.h"

namespace kestovane {

class TForm3 : public TForm {
 public:
  TForm3();

  void FormShow();
  void Button1Click();
  void Button2Click();

  TLabel* Label1;
  TComboBox* ComboBox1;
  TComboBox* ComboBox2;
  TButton* Button1;
  TButton* Button2;
};

extern TForm3* Form3;

}  // namespace kestovane
