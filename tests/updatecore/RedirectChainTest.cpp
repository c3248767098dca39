// Where a redirect of a download leads, and which hops are refused.
#include "download/RedirectChain.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace {

struct HopCase {
    const char* name;
    const char* from;
    const char* location;
    const char* next;     // the URL requested next; "" when the hop is refused
    const char* refusal;  // the reason kept when refused
};

void PrintTo(const HopCase& c, std::ostream* out) {
    *out << c.name;
}

class RedirectChainHopTest : public testing::TestWithParam<HopCase> {};

TEST_P(RedirectChainHopTest, ResolvesOrRefuses) {
    const HopCase& c = GetParam();
    RedirectChain chain{String(c.from)};
    bool followed = chain.follow(String(c.location));
    EXPECT_EQ(followed, std::string(c.next) != "");
    EXPECT_EQ(chain.current().str(), followed ? c.next : c.from);
    EXPECT_EQ(chain.refusal().str(), c.refusal);
}

INSTANTIATE_TEST_SUITE_P(
    Hops, RedirectChainHopTest,
    testing::Values(
        HopCase{"AbsoluteLocation", "http://a:8080/lm-download?path=p/x.zip",
                "http://mirror.example/x.zip", "http://mirror.example:80/x.zip", ""},
        HopCase{"AbsolutePathKeepsHostAndPort", "http://a:8080/lm-download?path=p/x.zip",
                "/files/x.zip", "http://a:8080/files/x.zip", ""},
        HopCase{"RelativePathBesideTheLastSegment", "http://a:8080/pkgs/old/x.zip?v=1", "new/x.zip",
                "http://a:8080/pkgs/old/new/x.zip", ""},
        HopCase{"SchemeRelativeKeepsTheScheme", "https://a/x.zip", "//cdn.example/x.zip",
                "https://cdn.example:443/x.zip", ""},
        HopCase{"Ipv6Host", "http://[::1]:81/x", "/y", "http://[::1]:81/y", ""},
        HopCase{"UpgradeToHttpsIsFollowed", "http://a/x.zip", "https://b/x.zip",
                "https://b:443/x.zip", ""},
        HopCase{"DowngradeToHttpIsRefused", "https://a/x.zip", "http://a/x.zip", "",
                "redirect from https to http"},
        HopCase{"OtherSchemeIsRefused", "http://a/x.zip", "file:///etc/passwd", "",
                "unsupported redirect"},
        HopCase{"MissingLocationIsRefused", "http://a/x.zip", "", "", "redirect without Location"},
        HopCase{"UnparsableLocationIsRefused", "http://a/x.zip", "http://a:8x/y", "",
                "malformed redirect"},
        HopCase{"LocationWithoutHostIsRefused", "http://a/x.zip", "http:///x.zip", "",
                "malformed redirect"}),
    [](const testing::TestParamInfo<HopCase>& info) { return info.param.name; });

TEST(RedirectChainTest, TheEleventhHopIsRefused) {
    RedirectChain chain{String("http://a/0")};
    for (int hop = 1; hop <= RedirectChain::kMaxHops; ++hop) {
        ASSERT_TRUE(chain.follow(String("/") + String(std::to_string(hop).c_str())));
    }
    EXPECT_FALSE(chain.follow(String("/11")));
    EXPECT_EQ(chain.refusal().str(), "too many redirects");
    EXPECT_EQ(chain.current().str(), "http://a:80/10");
}

TEST(RedirectChainTest, OnlyTheFiveRedirectStatusesAreHops) {
    for (int status : {301, 302, 303, 307, 308}) {
        EXPECT_TRUE(RedirectChain::isRedirect(status)) << status;
    }
    for (int status : {200, 206, 300, 304, 305, 404}) {
        EXPECT_FALSE(RedirectChain::isRedirect(status)) << status;
    }
}

}  // namespace
