// The port choice each window keeps across runs of the program: read when
// the window is created, written when it closes.
#pragma once

#include <cstdint>
#include <optional>

namespace kestovane {

// The stored port index of a settings root, or nothing when none is stored.
std::optional<int16_t> StoredPortChoice(uint8_t root);

// The window's close: the port it has open is closed, and the selected port
// becomes the stored choice of its root.
void ClosePortAndStoreChoice(uint8_t root);

}  // namespace kestovane
