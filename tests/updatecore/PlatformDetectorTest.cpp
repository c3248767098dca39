#include "state/PlatformDetector.h"

#include <gtest/gtest.h>

#include <ostream>

#include "TempRoot.h"

namespace {

struct VendorCase {
    const char* name;
    const char* system;
    bool montaVista;
    bool redHat;
    const char* vendor;
};

void PrintTo(const VendorCase& c, std::ostream* os) {
    *os << c.name << " (" << c.system << (c.montaVista ? ", mvl-release" : "")
        << (c.redHat ? ", redhat-release" : "") << ")";
}

class VendorTest : public testing::TestWithParam<VendorCase> {};

TEST_P(VendorTest, DetectsVendorFromReleaseFiles) {
    const VendorCase& c = GetParam();
    TempRoot etc;
    if (c.montaVista) {
        etc.write("mvl-release", "");
    }
    if (c.redHat) {
        etc.write("redhat-release", "");
    }
    const PlatformInfo info = PlatformDetector::describe(c.system, "armv7l", "2.6.10", etc.path());
    EXPECT_EQ(info.os, c.system);
    EXPECT_EQ(info.vendor, c.vendor);
    EXPECT_EQ(info.arch, "armv7l");
    EXPECT_EQ(info.version, "2.6.10");
}

INSTANTIATE_TEST_SUITE_P(
    Platform, VendorTest,
    testing::Values(VendorCase{"BothFilesMontaVistaWins", "Linux", true, true, "MontaVista"},
                    VendorCase{"LowerCaseSystemName", "linux", true, false, "MontaVista"},
                    VendorCase{"RedHat", "LINUX", false, true, "RedHat"},
                    VendorCase{"NoReleaseFile", "Linux", false, false, ""},
                    VendorCase{"OtherSystemIgnoresFiles", "FreeBSD", true, true, ""}),
    [](const testing::TestParamInfo<VendorCase>& info) { return info.param.name; });

TEST(PlatformDetectorTest, DetectsRunningSystem) {
    const PlatformInfo info = PlatformDetector::detect();
    EXPECT_EQ(info.os, "Linux");
    EXPECT_FALSE(info.arch.isEmpty());
    EXPECT_FALSE(info.version.isEmpty());
}

}  // namespace
