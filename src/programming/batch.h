// One START press in batch mode programs every pending family of the
// catalogue in turn; a family met again after it was done gets a pause or
// the special-mode commands instead.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kestovane {

class TProgressBar;
class TStatusBar;

// The fixed access text of the special-mode command sequence.
inline constexpr char kSpecialAccessText[] = "T7r2Qm9Kx4Vb8Ne";
inline constexpr int kPauseMarkerSleepMs = 1000;
inline constexpr int kSpecialFramePauseMs = 300;

// The action of a special marker: 1 a plain pause, 2 the access and
// command-4 frames. Any other marker does nothing.
void RunSpecialAction(uint8_t specialMarker);

// The START loop: search and program while images are pending.
void RunBatch(TProgressBar* deviceProgress, TStatusBar* statusBar, TProgressBar* batchProgress);

// A special-mode frame: command, length, payload, then the 16-bit sum of all
// of these, high byte first. Returns the frame's length.
size_t BuildSpecialFrame(uint8_t command, const uint8_t* payload, uint8_t length, uint8_t* out);

}  // namespace kestovane
