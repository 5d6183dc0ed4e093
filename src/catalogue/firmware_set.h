#pragma once
namespace kestovane {
// The label of the firmware set compiled into this build, or nullptr.
const char* BuildCatalogueLabel();
}  // namespace kestovane
