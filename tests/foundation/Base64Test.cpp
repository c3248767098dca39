#include "Base64.h"

#include <gtest/gtest.h>

#include <string>

namespace {
struct Case {
    const char* plain;
    const char* encoded;
};

// RFC 4648, section 10.
constexpr Case kVectors[] = {{"f", "Zg=="},
                             {"fo", "Zm8="},
                             {"foo", "Zm9v"},
                             {"foob", "Zm9vYg=="},
                             {"fooba", "Zm9vYmE="},
                             {"foobar", "Zm9vYmFy"},
                             {"user:pa ss", "dXNlcjpwYSBzcw=="}};

TEST(Base64Test, EncodesRfcVectors) {
    for (const Case& c : kVectors) {
        EXPECT_EQ(Base64::encode(String(c.plain)), c.encoded) << c.plain;
    }
}

TEST(Base64Test, DecodesRfcVectors) {
    for (const Case& c : kVectors) {
        EXPECT_EQ(Base64::decode(String(c.encoded)), c.plain) << c.encoded;
    }
}

// Length 0 once meant "up to the first NUL": a buffer without one was read
// past its end.
TEST(Base64Test, RawEncodingOfLengthZeroIsEmpty) {
    std::unique_ptr<char[]> out;
    const char unterminated[4] = {'f', 'o', 'o', 'b'};
    EXPECT_EQ(Base64::encode(unterminated, 0, out), 0);
    EXPECT_STREQ(out.get(), "");
    EXPECT_EQ(Base64::encode(nullptr, 0, out), 0);
    EXPECT_STREQ(out.get(), "");
    EXPECT_EQ(Base64::encode("foob", 4, out), 8);
    EXPECT_STREQ(out.get(), "Zm9vYg==");
    EXPECT_EQ(Base64::encode("\0\xff", 2, out), 4);
    EXPECT_STREQ(out.get(), "AP8=");
}

TEST(Base64Test, LongInputIsOneLineAndRoundTrips) {
    std::string text;
    for (int i = 0; i < 1000; ++i) {
        text += static_cast<char>('!' + i % 90);
    }
    String encoded = Base64::encode(String(text));
    EXPECT_EQ(encoded.indexOf('\n'), -1);
    EXPECT_EQ(encoded.length(), 1336);
    EXPECT_EQ(Base64::decode(encoded), String(text));
}

TEST(Base64Test, ShortOrEmptyInputDecodesToNothing) {
    EXPECT_EQ(Base64::decode(String("Zm9")), "");
    EXPECT_EQ(Base64::decode(String("")), "");
    EXPECT_EQ(Base64::encode(String("")), "");
}

TEST(Base64Test, IgnoresTextAfterPadding) {
    EXPECT_EQ(Base64::decode(String("Zm8=garbage")), "fo");
}
}  // namespace
