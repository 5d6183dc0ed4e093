// The Version window: lists the firmware images this build carries.
#pragma once

#include <cstdint>

#include "platform/forms.h"

namespace kestovane {

class TForm4 : public TForm {
 public:
  TForm4();

  void FormShow();
  void Button1Click();
  void ListCatalogue();
  void FormatListingRow(int rowIndex, const char* deviceText, uint8_t printCode, uint8_t preparationCode);

  TListBox* ListBox1;
  TButton* Button1;
};

extern TForm4* Form4;

}  // namespace kestovane
