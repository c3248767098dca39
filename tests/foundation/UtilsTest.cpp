#include "Utils.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <optional>
#include <ostream>
#include <regex>
#include <string>

#include "Exception.h"
#include "TempRoot.h"

namespace {
struct NumberCase {
    const char* name;
    std::string text;
    int base;
    int expected;
};

void PrintTo(const NumberCase& c, std::ostream* os) {
    *os << testing::PrintToString(c.text) << " base " << c.base << " -> " << c.expected;
}

class ParseNumberTest : public ::testing::TestWithParam<NumberCase> {};

TEST_P(ParseNumberTest, ReadsValue) {
    const NumberCase& c = GetParam();
    EXPECT_EQ(parseNumber(c.text.data(), static_cast<int>(c.text.size()), c.base), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ParseNumberTest,
    ::testing::Values(NumberCase{"Empty", "", 10, 0}, NumberCase{"Decimal", "1234", 10, 1234},
                      NumberCase{"StopsBeforeNonHex", "12x", 10, 12},
                      NumberCase{"BlanksAndNulsSkipped", std::string(" \0 42", 5), 10, 42},
                      NumberCase{"BlankEndsNumber", "1 2", 10, 1},
                      NumberCase{"HexMixedCase", "fF", 16, 255}, NumberCase{"Octal", "777", 8, 511},
                      NumberCase{"WrapsLikeInt32", "4294967297", 10, 1},
                      NumberCase{"WrapsToNegative", "80000000", 16, INT32_MIN}),
    [](const auto& info) { return info.param.name; });

struct FittingCase {
    const char* name;
    const char* text;
    std::optional<int32_t> expected;
};

void PrintTo(const FittingCase& c, std::ostream* os) {
    *os << '"' << c.text << '"';
}

class ParseFittingNumberTest : public ::testing::TestWithParam<FittingCase> {};

// Sizes and ids from servers once wrapped: 4294967544 became 248.
TEST_P(ParseFittingNumberTest, RefusesWhatWouldWrap) {
    EXPECT_EQ(parseFittingNumber(String(GetParam().text)), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ParseFittingNumberTest,
    ::testing::Values(FittingCase{"Zero", "0", 0}, FittingCase{"Largest", "2147483647", INT32_MAX},
                      FittingCase{"OnePast", "2147483648", std::nullopt},
                      FittingCase{"SizeThatWrappedTo248", "4294967544", std::nullopt},
                      FittingCase{"IdThatWrapped", "99999999999", std::nullopt},
                      FittingCase{"LeadingZeros", "0000000000002147483647", INT32_MAX},
                      FittingCase{"StopsAtAWord", "500 error", 500},
                      FittingCase{"HugeBeforeAWord", "99999999999999999999 x", std::nullopt}),
    [](const auto& info) { return info.param.name; });

struct BadNumberCase {
    const char* name;
    const char* text;
    int base;
    const char* message;
};

void PrintTo(const BadNumberCase& c, std::ostream* os) {
    *os << '"' << c.text << "\" base " << c.base << " -> " << c.message;
}

class ParseBadNumberTest : public ::testing::TestWithParam<BadNumberCase> {};

TEST_P(ParseBadNumberTest, Raises) {
    const BadNumberCase& c = GetParam();
    try {
        parseNumber(String(c.text), c.base);
        FAIL() << "no exception";
    } catch (const Exception& e) {
        EXPECT_EQ(e.getMessage(), c.message);
        EXPECT_EQ(e.getFile(), "Utils");
    }
    if (c.base == 10) {
        int out = 7;
        String failure;
        EXPECT_FALSE(tryParseNumber(String(c.text), out, &failure));
        EXPECT_EQ(out, 7) << "left unchanged";
        EXPECT_EQ(failure, c.message);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ParseBadNumberTest,
    ::testing::Values(BadNumberCase{"HexDigitInDecimal", "1a", 10, "invalid dec number"},
                      BadNumberCase{"LetterInHex", "g", 16, "invalid hex number"},
                      BadNumberCase{"EightInOctal", "18", 8, "invalid oct number"},
                      BadNumberCase{"Minus", "-1", 10, "invalid dec number"},
                      BadNumberCase{"UnknownBase", "1", 2, "invalid number base"}),
    [](const auto& info) { return info.param.name; });

TEST(TryParseNumberTest, ReadsADecimalText) {
    int out = 0;
    EXPECT_TRUE(tryParseNumber("1234", out));
    EXPECT_EQ(out, 1234);
    EXPECT_FALSE(tryParseNumber("12a", out)) << "no failure text asked for";
    EXPECT_EQ(out, 1234);
}

TEST(ReplaceAllTest, ReplacesEveryOccurrenceAndNothingElse) {
    EXPECT_EQ(replaceAll("1.2.3", '.', '_'), "1_2_3");
    EXPECT_EQ(replaceAll("$root$conf", '$', '/'), "/root/conf");
    EXPECT_EQ(replaceAll("plain", '.', '_'), "plain");
    EXPECT_EQ(replaceAll("", '.', '_'), "");
}

TEST(SplitTest, DropsEmptyPieces) {
    Vector<String> out;
    out.add("stale");
    split(",a,,b,", ",", out);
    ASSERT_EQ(out.size(), 2);
    EXPECT_EQ(out[0], "a");
    EXPECT_EQ(out[1], "b");
}

TEST(GetTokenTest, SkipsTokens) {
    struct Case {
        int n;
        const char* expected;  // null: no token
    };
    for (Case c : {Case{0, "one"}, Case{1, "two"}, Case{2, "three"}, Case{3, nullptr}}) {
        auto token = getToken("  one \t two  three ", c.n, " \t");
        if (c.expected == nullptr) {
            EXPECT_EQ(token, nullptr) << c.n;
        } else {
            ASSERT_NE(token, nullptr) << c.n;
            EXPECT_STREQ(token.get(), c.expected);
        }
    }
}

TEST(ContainsBytesTest, FindsPatternAcrossNuls) {
    const char buffer[] = {'a', '\0', 'b', 'c', '\0'};
    EXPECT_TRUE(containsBytes(buffer, 5, "\0b", 2));
    EXPECT_TRUE(containsBytes(buffer, 5, "c\0", 2));
    EXPECT_FALSE(containsBytes(buffer, 4, "c\0", 2));
    EXPECT_FALSE(containsBytes(buffer, 5, "ba", 2));
}

TEST(IsNumberTest, DigitsAndAllowedCharacters) {
    EXPECT_TRUE(isNumber("0123"));
    EXPECT_TRUE(isNumber("1.2.3", "."));
    EXPECT_FALSE(isNumber(""));
    EXPECT_FALSE(isNumber("1.2"));
    EXPECT_FALSE(isNumber("12a", "."));
}

TEST(FormatStringTest, FormatsAndCutsAt4095) {
    EXPECT_EQ(formatString("%s-%d", "x", 42), "x-42");
    std::string big(5000, 'y');
    EXPECT_EQ(formatString("%s", big.c_str()).length(), 4095);
}

TEST(TimeTest, Formats) {
    EXPECT_TRUE(
        std::regex_match(currentTime().str(), std::regex("[0-2][0-9]:[0-5][0-9]:[0-6][0-9]")));
    EXPECT_TRUE(std::regex_match(currentDate().str(), std::regex("[0-9]{4}-[01][0-9]-[0-3][0-9]")));
}

TEST(CreateTempFileTest, CreatesUniqueFilesWithoutDoubleSlash) {
    TempRoot root;
    for (const std::string& dir : {root.path(), root.path() + "/"}) {
        String first;
        String second;
        int fd1 = createTempFile("pre", String(dir), first);
        int fd2 = createTempFile("pre", String(dir), second);
        ASSERT_GE(fd1, 0);
        ASSERT_GE(fd2, 0);
        EXPECT_NE(first, second);
        EXPECT_EQ(first.str().rfind(root.path() + "/pre", 0), 0u) << first;
        EXPECT_EQ(first.indexOf("//"), -1);
        EXPECT_EQ(first.length(), static_cast<int>(root.path().size()) + 10);
        EXPECT_TRUE(fcntl(fd1, F_GETFD) & FD_CLOEXEC);
        close(fd1);
        close(fd2);
    }
    String path;
    EXPECT_EQ(createTempFile("x", String(root.path() + "/missing"), path), -1);
}

TEST(CreateTempFileTest, DefaultsToTmp) {
    String path;
    int fd = createTempFile("lmutils", path);
    ASSERT_GE(fd, 0);
    EXPECT_TRUE(path.startsWith("/tmp/lmutils"));
    close(fd);
    unlink(path.c_str());
}
}  // namespace
