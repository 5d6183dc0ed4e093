// Which operator window drives the program, chosen once from the build's
// catalogue label, and the texts that name a build.
#pragma once

#include <cstdint>
#include <string>

namespace kestovane {

enum class Personality { Updater, Upgrade, Loader };

// Decided once at start-up, before the first window exists.
extern Personality CurrentPersonality;
// 0 at start; only the Loader window's creation sets it.
extern uint8_t LoaderVariant;
// The label the build carries, or nullptr when it carries none. Start-up
// takes it from the firmware set; tests may point it elsewhere.
extern const char* CatalogueLabel;

inline constexpr const char* kDefaultCatalogueLabel = "RUM15.4 00.04";

// The build's label, or the default label when the build carries none.
std::string GetCatalogueLabel();

// The personality for a stored label (nullptr: no label).
Personality ChoosePersonality(const char* label);

// The Loader window's variant for a label: 1 wins over 2, 0 when neither.
uint8_t LoaderVariantFor(const std::string& label);

const char* VersionText(Personality p);
std::string PersonalityTitle(Personality p);

// Date and time of the build: "May 27 2020" and "17:05:05".
const char* BuildDate();
const char* BuildTime();

}  // namespace kestovane
