// The display operations through which the engine tells the operator what is
// happening, without knowing which window is on the screen: each one writes
// into the controls of the current personality's window.
#pragma once

#include <cstdint>
#include <string>

#include "platform/forms.h"

namespace kestovane {

// Status bar panel indices shared by every writer of a window's status bar.
// DevicePanel becomes 3 when the Upgrade window is created.
extern int32_t PortPanel;
extern int32_t OperationPanel;
extern int32_t DevicePanel;
extern int32_t InfoPanel;

// The outcome of a run, or of a step that ends it; gives the start controls back.
void ShowResult(const std::string& text, TColor colour, uint8_t success);
// A status text while something runs.
void ShowStatus(const std::string& text, TColor colour);
// The controls of a running operation.
void ShowBusy();
// The controls back to idle.
void ShowIdle();
// A modal message box of the application; returns the box's result.
int32_t ShowMessageBox(const char* text, const char* caption, unsigned flags);

// Puts the panel indices back to their start values (a fresh program).
void ResetPanelIndices();

}  // namespace kestovane
