// Whether the chosen image suits the apparatus the bootloader runs in, by the
// board and preparation codes the device reports and the image carries.
#pragma once

#include <cstdint>

namespace kestovane {

struct ApparatusCodes {
  uint8_t devicePrintCode;
  uint8_t devicePreparationCode;
  bool identitySeen;  // the bootloader sent an identity record
  uint8_t imagePrintCode;
  uint8_t imagePreparationCode;
};

// No side effects: the caller shows the refusal.
bool SuitsApparatus(const ApparatusCodes& codes);

}  // namespace kestovane
