#include "HostValidator.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace {
struct HostCase {
    std::string entry;
    bool valid;
};

void PrintTo(const HostCase& c, std::ostream* os) {
    *os << testing::PrintToString(c.entry) << (c.valid ? " valid" : " invalid");
}

class HostValidatorTest : public testing::TestWithParam<HostCase> {};

TEST_P(HostValidatorTest, Entry) {
    const HostCase& c = GetParam();
    EXPECT_EQ(HostValidator::isValid(String(c.entry.data(), static_cast<int>(c.entry.size()))),
              c.valid);
}

const std::string kLabel63(63, 'a');
// 4 labels of 63 and dots: 255 characters; minus two: 253.
const std::string kName253 = kLabel63 + "." + kLabel63 + "." + kLabel63 + "." + kLabel63.substr(2);

INSTANTIATE_TEST_SUITE_P(
    Grammar, HostValidatorTest,
    testing::Values(
        HostCase{"update.example.com", true}, HostCase{"localhost", true}, HostCase{"a-b.c0", true},
        HostCase{"UPDATE.Example.COM:8443", true}, HostCase{"127.0.0.1", true},
        HostCase{"127.0.0.1:1", true}, HostCase{"host:65535", true}, HostCase{"[::1]", true},
        HostCase{"[2001:db8::7]:443", true}, HostCase{kLabel63 + ".x", true},
        HostCase{kName253, true},
        // invalid names
        HostCase{"", false}, HostCase{std::string(64, 'a') + ".x", false},
        HostCase{kName253 + "a", false}, HostCase{"-a.b", false}, HostCase{"a-.b", false},
        HostCase{"a..b", false}, HostCase{".a", false}, HostCase{"a.b.", false},
        HostCase{"a_b.c", false}, HostCase{"h st", false}, HostCase{"1.2.3", false},
        HostCase{"256.1.1.1", false}, HostCase{"1.2.3.4.5", false},
        HostCase{std::string("a\0b", 3), false}, HostCase{std::string("1.2.3.4\0x", 9), false},
        // what a hostile answer might store
        HostCase{"user:pw@host/x?y=", false}, HostCase{"file:///etc/passwd", false},
        HostCase{"https://host", false}, HostCase{"host/path", false},
        // ports
        HostCase{"host:", false}, HostCase{"host:0", false}, HostCase{"host:65536", false},
        HostCase{"host:080", false}, HostCase{"host:+80", false}, HostCase{"host:1:2", false},
        HostCase{"host:123456", false},
        // IPv6
        HostCase{"::1", false}, HostCase{"[::1", false}, HostCase{"[::1]x", false},
        HostCase{"[::1]:", false}, HostCase{"[fe80::1%eth0]", false}, HostCase{"[host]", false},
        HostCase{"[1.2.3.4]", false}));

TEST(HostValidatorPortTest, AHostWithoutPortWhenNoneIsAllowed) {
    EXPECT_TRUE(HostValidator::isValid("proxy.example", false));
    EXPECT_TRUE(HostValidator::isValid("[::1]", false));
    EXPECT_FALSE(HostValidator::isValid("proxy.example:3128", false));
    EXPECT_FALSE(HostValidator::isValid("[::1]:3128", false));
}

TEST(HostValidatorBracketsTest, OnlyABareIpv6LiteralGetsBrackets) {
    EXPECT_EQ(HostValidator::withBrackets("2001:db8::7"), "[2001:db8::7]");
    EXPECT_EQ(HostValidator::withBrackets("::1"), "[::1]");
    EXPECT_EQ(HostValidator::withBrackets("[::1]"), "[::1]");
    EXPECT_EQ(HostValidator::withBrackets("host:80"), "host:80");
    EXPECT_EQ(HostValidator::withBrackets("127.0.0.1"), "127.0.0.1");
    // A literal followed by a NUL is no literal (the address check reads a
    // C string and would stop at the NUL).
    String withNul(std::string("c88::\0x", 8));
    EXPECT_FALSE(HostValidator::isBareIpv6(withNul));
    EXPECT_EQ(HostValidator::withBrackets(withNul), withNul);
}
}  // namespace
