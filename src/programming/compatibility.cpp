#include "programming/compatibility.h"

namespace kestovane {

namespace {

// The board must be the image's own, but images for board 0x20 also run on
// board 0x10.
bool BoardRulePasses(uint8_t device, uint8_t image) {
  return image == device || (image == 0x20 && device == 0x10);
}

// The interface an image was prepared for, by the low nibble of the device's
// preparation code against the image's code with bits 4 and 7 masked off.
bool InterfaceMatches(uint8_t d, uint8_t m) {
  switch (d) {
    case 1: return m == 1 || m == 4;
    case 2: return m == 1 || m == 2 || m == 4;
    case 5: return m == 4 || m == 5;
    default: return m == d;
  }
}

bool PreparationRulePasses(uint8_t dp, uint8_t ip) {
  if (dp == ip) return true;
  // Images marked reserved (bit 7) go on devices prepared as 3 or reserved.
  if (dp == 3 && (ip & 0x80)) return true;
  if ((dp & 0x80) && (ip & 0x80)) return true;
  const bool bit4Missing = (dp & 0x10) && !(ip & 0x10);
  return !bit4Missing && InterfaceMatches(dp & 0x0F, ip & 0x6F);
}

}  // namespace

bool SuitsApparatus(const ApparatusCodes& c) {
  // Unmarked images, and devices that did not say who they are, are not checked.
  if (c.imagePrintCode == 0 || c.imagePrintCode == 0xFF || !c.identitySeen) return true;
  return BoardRulePasses(c.devicePrintCode, c.imagePrintCode) &&
         PreparationRulePasses(c.devicePreparationCode, c.imagePreparationCode);
}

}  // namespace kestovane
