#include "app/personality.h"

#include <array>
#include <string_view>

namespace kestovane {

Personality CurrentPersonality = Personality::Updater;
uint8_t LoaderVariant = 0;
const char* CatalogueLabel = nullptr;

namespace {

// Family codes, searched for as case-sensitive substrings in this order.
constexpr std::array<std::string_view, 9> kUpgradeCodes = {"KVO", "DRX", "HMP", "NULLO", "FQT",
                                                           "JZ7", "LWN", "TBQ", "VEX"};
// Tested before the Loader codes: "QX900" holds "QX" but is an Updater build.
constexpr std::string_view kExclusionCode = "QX900";
constexpr std::array<std::string_view, 13> kLoaderCodes = {
    "QX", "ZNA", "YUB", "PALSEN", "KRD", "XMV", "MOSKC", "MOSKL", "N.", "G.", "VANTO", "STROPEL", "GN."};
constexpr std::array<std::string_view, 6> kLoaderVariantOneCodes = {"ZNA", "PALSEN", "YUB",
                                                                    "XMV", "KRD",    "STROPEL"};

template <size_t N>
bool ContainsAny(std::string_view label, const std::array<std::string_view, N>& codes) {
  for (auto code : codes)
    if (label.find(code) != std::string_view::npos) return true;
  return false;
}

}  // namespace

std::string GetCatalogueLabel() { return CatalogueLabel ? CatalogueLabel : kDefaultCatalogueLabel; }

Personality ChoosePersonality(const char* label) {
  if (!label) return Personality::Updater;
  std::string_view l(label);
  if (ContainsAny(l, kUpgradeCodes)) return Personality::Upgrade;
  if (l.find(kExclusionCode) != std::string_view::npos) return Personality::Updater;
  if (ContainsAny(l, kLoaderCodes)) return Personality::Loader;
  return Personality::Updater;
}

uint8_t LoaderVariantFor(const std::string& label) {
  uint8_t variant = 0;
  if (label.find("VANTO") != std::string::npos) variant = 2;
  if (ContainsAny(std::string_view(label), kLoaderVariantOneCodes)) variant = 1;
  return variant;
}

const char* VersionText(Personality p) {
  switch (p) {
    case Personality::Upgrade: return "Upgrade 1.1";
    case Personality::Loader: return "Loader 1.0";
    case Personality::Updater: break;
  }
  return "Updater 2.7";
}

std::string PersonalityTitle(Personality p) {
  const std::string label = GetCatalogueLabel();
  if (p == Personality::Updater) return std::string(VersionText(p)) + " - " + label + "   [ " + BuildDate() + " ]";
  return std::string(VersionText(p)) + " -   " + label + "   - " + BuildDate();
}

}  // namespace kestovane
