// The Upgrade window: one START button that programs a device, or every
// pending image of the catalogue in batch mode.
#pragma once

#include <cstdint>

#include "platform/forms.h"

namespace kestovane {

// Set by the Upgrade window's creation only: 1 when the label holds "DLQ".
extern uint8_t BatchMode;

class TForm5 : public TForm {
 public:
  TForm5();
  void Created() override;

  void SerialPort1Click();
  void Button1Click();
  void Button2Click();
  void FormClose();

  TPanel* Panel1;
  TButton* Button1;
  TButton* Button2;
  TProgressBar* ProgressBar1;
  TProgressBar* ProgressBar2;
  TStatusBar* StatusBar1;
  TMenuItem* SerialPort1;
};

extern TForm5* Form5;

}  // namespace kestovane
