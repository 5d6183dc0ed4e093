#include <gtest/gtest.h>

#include "app/personality.h"
#include "support/program.h"

namespace kestovane {
namespace {

struct LabelCase {
  const char* label;  // nullptr: the build carries no label
  Personality personality;
  uint8_t loaderVariant;
};

std::ostream& operator<<(std::ostream& os, const LabelCase& c) { return os << (c.label ? c.label : "(none)"); }

class PersonalityChoice : public ::testing::TestWithParam<LabelCase> {};

TEST_P(PersonalityChoice, FollowsTheFamilyCodesOfTheLabel) {
  const LabelCase& c = GetParam();
  EXPECT_EQ(ChoosePersonality(c.label), c.personality);
  EXPECT_EQ(LoaderVariantFor(c.label ? c.label : ""), c.loaderVariant);
}

INSTANTIATE_TEST_SUITE_P(
    Labels, PersonalityChoice,
    ::testing::Values(
        LabelCase{"VEX 1C 01.05.00.02", Personality::Upgrade, 0},  // this build
        LabelCase{nullptr, Personality::Updater, 0},
        LabelCase{"", Personality::Updater, 0},
        LabelCase{"VEX G. 1.0", Personality::Upgrade, 0},           // Upgrade wins over Loader
        LabelCase{"QX900 2.1", Personality::Updater, 0},            // exclusion before "QX"
        LabelCase{"QX 2.1", Personality::Loader, 0},
        LabelCase{"vex 1c", Personality::Updater, 0},               // case-sensitive
        LabelCase{"GN. 3", Personality::Loader, 0},
        LabelCase{"VANTO XMV", Personality::Loader, 1},             // 1 wins over 2
        LabelCase{"VANTO 1", Personality::Loader, 2},
        LabelCase{"KRD 7", Personality::Loader, 1},
        LabelCase{"STROPEL", Personality::Loader, 1},
        LabelCase{"NULLO QX900", Personality::Upgrade, 0},
        LabelCase{"PLAIN 1.0", Personality::Updater, 0}));

TEST(PersonalityTitle, HasTheExactSeparatorsOfEachPersonality) {
  testing::ResetProgram();
  CatalogueLabel = "VEX 1C 01.05.00.02";
  const std::string date = BuildDate();
  EXPECT_EQ(PersonalityTitle(Personality::Upgrade), "Upgrade 1.1 -   VEX 1C 01.05.00.02   - " + date);
  EXPECT_EQ(PersonalityTitle(Personality::Loader), "Loader 1.0 -   VEX 1C 01.05.00.02   - " + date);
  EXPECT_EQ(PersonalityTitle(Personality::Updater), "Updater 2.7 - VEX 1C 01.05.00.02   [ " + date + " ]");
}

TEST(PersonalityTitle, UsesTheDefaultLabelWhenTheBuildCarriesNone) {
  testing::ResetProgram();
  EXPECT_EQ(GetCatalogueLabel(), "RUM15.4 00.04");
  EXPECT_EQ(PersonalityTitle(Personality::Updater), std::string("Updater 2.7 - RUM15.4 00.04   [ ") + BuildDate() + " ]");
}

TEST(BuildStamp, ReadsLikeMonthDayYearAndClockTime) {
  const std::string date = BuildDate(), time = BuildTime();
  ASSERT_EQ(date.size(), 11u);  // "May 27 2020"
  EXPECT_EQ(date[3], ' ');
  ASSERT_EQ(time.size(), 8u);   // "17:05:05"
  EXPECT_EQ(time[2], ':');
  EXPECT_EQ(time[5], ':');
}

}  // namespace
}  // namespace kestovane
