#include "ui/version.h"

namespace kestovane {

TForm4* Form4 = nullptr;

TForm4::TForm4() : TForm("Form4", 396, 234, 320, 240) {
  SetCaption("Version ..");
  SetColor(clBtnFace);
  ListBox1 = Add<TListBox>("ListBox1", this, TRect{8, 10, 373, 184});
  ListBox1->SetFont(TFont{.name = "Courier", .height = -11, .style = 0, .color = clWindowText});
  ListBox1->SetColor(clWindow);
  ListBox1->ItemHeight = 13;
  Button1 = Add<TButton>("Button1", this, TRect{303, 204, 75, 26});
  Button1->SetCaption("&Ok");

  OnShow = [this] { FormShow(); };
  Button1->OnClick = [this] { Button1Click(); };
}

}  // namespace kestovane
