// The programming run that follows a successful device search: choose the
// image, check it suits the board, and write it in block, last, Fix and
// EEPROM frames.
#pragma once

#include <cstdint>

namespace kestovane {

class TProgressBar;
class TStatusBar;

// Block frames in a row that may go unanswered before the device counts as
// lost. A single silent block is tolerated; a run of them means nobody is
// listening any more.
inline constexpr int kMaxSilentBlocksInARow = 3;

// 0 after a failure, a refusal, or a success outside batch mode; in batch
// mode the families still pending after a success, or 1 after a special
// action for a family met again.
int8_t PrgMode(TProgressBar* progressBar, TStatusBar* statusBar);

}  // namespace kestovane
