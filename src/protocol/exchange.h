// The request and answer discipline with the bootloader: the wait loop that
// keeps the windows alive, the resends, and the result codes.
#pragma once

#include <cstdint>

namespace kestovane {

// Set by the stop buttons of the windows; cleared only by the wait that acts
// on it, so a request made outside a wait stays pending until the next one.
extern uint8_t abortRequested;

}  // namespace kestovane
