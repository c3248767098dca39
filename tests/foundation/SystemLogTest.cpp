#include "SystemLog.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <ostream>
#include <string>

#include "LazyText.h"

namespace {

struct EscapeCase {
    const char* name;
    std::string line;
    std::string echoed;  // what standard error shows
};

void PrintTo(const EscapeCase& c, std::ostream* os) {
    *os << c.name;
}

class SystemLogEscapeTest : public testing::TestWithParam<EscapeCase> {};

// Server text went verbatim to the log: forged lines and terminal escapes.
TEST_P(SystemLogEscapeTest, ControlBytesAreWrittenAsHex) {
    SystemLog::setEcho(true);
    testing::internal::CaptureStderr();
    SystemLog::write(String(GetParam().line));
    std::string echoed = testing::internal::GetCapturedStderr();
    SystemLog::setEcho(false);
    EXPECT_EQ(echoed, GetParam().echoed + "\n");
}

// A line a person must see reaches standard error once, echo or not.
TEST(SystemLogTest, ShownLineIsOnStandardErrorOnce) {
    for (bool echo : {false, true}) {
        SystemLog::setEcho(echo);
        testing::internal::CaptureStderr();
        SystemLog::writeAndShow("LmUpdate: warning: shown\x01");
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "LmUpdate: warning: shown\\x01\n")
            << "echo " << echo;
    }
    SystemLog::setEcho(false);
}

// Each line on standard error, echoed or shown, carries its priority in
// the journal format, and only there.
TEST(SystemLogTest, JournalFormatPrefixesEveryStandardErrorLine) {
    struct Case {
        LogFormat format;
        LogPriority priority;
        std::string shown;
    };
    const Case cases[] = {{LogFormat::kJournal, LogPriority::kError, "<3>a\\x01\n"},
                          {LogFormat::kJournal, LogPriority::kWarning, "<4>a\\x01\n"},
                          {LogFormat::kJournal, LogPriority::kInfo, "<6>a\\x01\n"},
                          {LogFormat::kPlain, LogPriority::kError, "a\\x01\n"}};
    for (const Case& c : cases) {
        SystemLog::setFormat(c.format);
        testing::internal::CaptureStderr();
        SystemLog::writeAndShow("a\x01\n", c.priority);
        SystemLog::setEcho(true);
        SystemLog::write("a\x01", c.priority);
        SystemLog::setEcho(false);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.shown + c.shown) << c.shown;
    }
    SystemLog::setFormat(LogFormat::kPlain);
}

// JOURNAL_STREAM names the journal's stream by device and inode; only an
// exact match with the descriptor counts.
TEST(SystemLogTest, JournalStreamMustNameTheDescriptorsFile) {
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::tmpfile(), std::fclose);
    ASSERT_NE(file, nullptr);
    struct stat status = {};
    ASSERT_EQ(::fstat(::fileno(file.get()), &status), 0);
    const std::string dev = std::to_string(status.st_dev);
    const std::string ino = std::to_string(status.st_ino);
    struct Case {
        const char* name;
        std::string stream;
        bool unset;
        bool matches;
    };
    const Case cases[] = {
        {"Unset", "", true, false},
        {"Empty", "", false, false},
        {"NoColon", dev + ino, false, false},
        {"EmptyInode", dev + ":", false, false},
        {"TrailingText", dev + ":" + ino + "x", false, false},
        {"Negative", "-" + dev + ":" + ino, false, false},
        {"OtherInode", dev + ":" + std::to_string(status.st_ino + 1), false, false},
        {"OtherDevice", std::to_string(status.st_dev + 1) + ":" + ino, false, false},
        {"Matching", dev + ":" + ino, false, true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(
            SystemLog::isJournalStream(c.unset ? nullptr : c.stream.c_str(), ::fileno(file.get())),
            c.matches)
            << c.name;
    }
    EXPECT_FALSE(SystemLog::isJournalStream((dev + ":" + ino).c_str(), -1)) << "closed descriptor";
}

INSTANTIATE_TEST_SUITE_P(
    Lines, SystemLogEscapeTest,
    testing::Values(EscapeCase{"Plain", "LmUpdate: ok ~!", "LmUpdate: ok ~!"},
                    EscapeCase{"ForgedLine", "a\nLmUpdate: done", "a\\x0aLmUpdate: done"},
                    EscapeCase{"TerminalEscape", "\x1b[2J\x7f", "\\x1b[2J\\x7f"},
                    EscapeCase{"HeadLineEnds", "HTTP/1.0 200 OK\r\nA: 1\r\n",
                               "HTTP/1.0 200 OK\\x0d\\x0aA: 1"},
                    EscapeCase{"NulAndTab", std::string("a\0\tb", 4), "a\\x00\\x09b"},
                    EscapeCase{"HighBytesStay", "caf\xc3\xa9 \x80\xff", "caf\xc3\xa9 \x80\xff"},
                    EscapeCase{"OneLineEndIsDropped", "line\n", "line"}),
    [](const testing::TestParamInfo<EscapeCase>& info) { return std::string(info.param.name); });

struct ExcerptCase {
    const char* name;
    LazyText body;
    std::string excerpt;
};

void PrintTo(const ExcerptCase& c, std::ostream* os) {
    *os << c.name;
}

class SystemLogExcerptTest : public testing::TestWithParam<ExcerptCase> {};

TEST_P(SystemLogExcerptTest, ABodyIsCutAt4KiB) {
    EXPECT_EQ(SystemLog::bodyExcerpt(String(GetParam().body())), GetParam().excerpt);
}

INSTANTIATE_TEST_SUITE_P(
    Bodies, SystemLogExcerptTest,
    testing::Values(ExcerptCase{"Empty", "", ""},
                    ExcerptCase{"Exactly4KiB", std::string(4096, 'b'), std::string(4096, 'b')},
                    ExcerptCase{"OneByteMore", std::string(4097, 'b'),
                                std::string(4096, 'b') + " ... (4097 bytes)"},
                    ExcerptCase{"SixteenMiB",
                                LazyText([] { return std::string(16 * 1024 * 1024, 'b'); }),
                                std::string(4096, 'b') + " ... (16777216 bytes)"}),
    [](const testing::TestParamInfo<ExcerptCase>& info) { return std::string(info.param.name); });

}  // namespace
