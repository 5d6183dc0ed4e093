// The build's firmware set, generated from the firmware manifest by the
// firmware builder (tools/fwbuild) into the build folder.
#pragma once

#include <cstdint>

namespace kestovane {

// One slot of the catalogue as the manifest binds it. The arrays behind the
// pointers are writable static storage shared by every slot that names them.
struct FirmwareBinding {
  uint8_t row;
  uint8_t column;
  uint8_t* fixTail;
  int32_t fixTailSize;
  uint8_t* image;  // in the travelling form unless `plain`
  int32_t imageSize;
  uint8_t* eeprom;
  int32_t eepromSize;
  int8_t plain;
  uint8_t printCode;
  uint8_t preparationCode;
};

extern const FirmwareBinding kFirmwareBindings[];
extern const int kFirmwareBindingCount;

// K, the constant that the frame key adds to the low byte of a frame address.
extern const uint8_t kFrameKeyConstant;

// The label the manifest gives the firmware set, or nullptr when it names none.
const char* BuildCatalogueLabel();

}  // namespace kestovane
