#include "ui/serialsetup.h"

#include <string>

namespace kestovane {

TForm3* Form3 = nullptr;

TForm3::TForm3() : TForm("Form3", 240, 96, 300, 250) {
  SetCaption("Setup");
  SetBorderStyle(TBorderStyle::bsDialog);
  SetColor(clBtnFace);
  Label1 = Add<TLabel>("Label1", this, TRect{8, 12, 40, 13});
  Label1->SetCaption("Port :");
  ComboBox1 = Add<TComboBox>("ComboBox1", this, TRect{8, 30, 224, 21});
  ComboBox2 = Add<TComboBox>("ComboBox2", this, TRect{8, 30, 224, 21});
  ComboBox2->Hide();
  // The designed items; the port lists replace them at every showing.
  for (int i = 1; i <= 12; ++i) {
    ComboBox1->Items().Add("COM" + std::to_string(i));
    ComboBox2->Items().Add("COM" + std::to_string(i));
  }
  Button1 = Add<TButton>("Button1", this, TRect{76, 62, 75, 25});
  Button1->SetCaption("&Ok");
  Button2 = Add<TButton>("Button2", this, TRect{157, 62, 75, 25});
  Button2->SetCaption("&Cancel");
  Button2->OnClick = [this] { Button2Click(); };
}

// Nothing is chosen until the port list exists: Cancel leaves the selection
// as it is and closes.
void TForm3::Button2Click() { Close(); }

}  // namespace kestovane
