// What the bootloader reported beside the chosen image's codes, the colour
// that tells a plain image from a keyed one, and the two image warnings.
#pragma once

#include <cstdint>

namespace kestovane {

void ShowIdentity();
// plain: the low byte of the selected image's plain field.
void ShowImageKind(uint8_t plain);
void ShowNoImageWarning();
void ShowTooBigWarning();

}  // namespace kestovane
