// LmUpdate --product-version: the id is compared as text.
#include <gtest/gtest.h>

#include "LmUpdateRun.h"

namespace {

INSTANTIATE_TEST_SUITE_P(
    ProductVersion, LmUpdateCommandTest,
    testing::Values(CommandCase{"Installed", {"--product-version", "1000"}, 0, "1.0.0.0\n"},
                    CommandCase{
                        "LeadingZeroMatchesNothing", {"--product-version", "01000"}, 0, "0\n"},
                    CommandCase{"Unknown", {"--product-version", "2000"}, 0, "0\n"},
                    CommandCase{"MissingValue", {"--product-version"}, 255, kTryHelp}),
    commandCaseName);

}  // namespace
