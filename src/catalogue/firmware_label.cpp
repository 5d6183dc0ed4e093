#include "catalogue/firmware_set.h"
namespace kestovane {
const char* BuildCatalogueLabel() { return "VEX 1C 01.05.00.02"; }
}  // namespace kestovane
