#include "protocol/exchange.h"

namespace kestovane {

uint8_t abortRequested = 0;

}  // namespace kestovane
