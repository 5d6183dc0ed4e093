// The first half of every update run: reopen the selected port, clear what
// an earlier run left, and knock on the bootloader until it answers.
#pragma once

#include <cstdint>

namespace kestovane {

class TProgressBar;
class TStatusBar;

// Results of the search.
inline constexpr int16_t kDeviceFound = 0;
inline constexpr int16_t kPortNotUsable = -1;
inline constexpr int16_t kDeviceNotFound = -2;
inline constexpr int16_t kSearchStopped = -3;

inline constexpr int kSearchTries = 100;
inline constexpr int kHandshakeWaitMs = 100;

// Handshake bytes by personality.
inline constexpr uint8_t kHandshakeUpdater = 0xC2;
inline constexpr uint8_t kHandshakeUpgrade = 0xC5;
inline constexpr uint8_t kHandshakeLoaderVariant1 = 0xC6;
inline constexpr uint8_t kHandshakeLoaderVariant2 = 0xC5;

// The handshake byte of the current personality and Loader variant.
uint8_t HandshakeByte();

// kDeviceFound with the identity committed, kPortNotUsable, kDeviceNotFound
// after 100 unanswered tries, or kSearchStopped. The bars are the calling
// window's.
int16_t SearchDevice(TProgressBar* progressBar, TStatusBar* statusBar);

}  // namespace kestovane
