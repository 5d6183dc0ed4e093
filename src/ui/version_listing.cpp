// Placeholder until the catalogue listing lands: the window shows its fixed
// heading lines only.
#include "ui/version.h"

namespace kestovane {

void TForm4::FormShow() {
  ListBox1->Items().Clear();
  ListCatalogue();
}

void TForm4::Button1Click() { Close(); }

void TForm4::ListCatalogue() {
  ListBox1->Items().Add("Device - Print          - Preparation");
  ListBox1->Items().Add("-------------------------------------");
}

void TForm4::FormatListingRow(int, const char*, uint8_t, uint8_t) {}

}  // namespace kestovane
