#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "DebugLog.h"
#include "FileLog.h"
#include "Log.h"
#include "NameValuePairs.h"
#include "RotationFileLog.h"
#include "TempRoot.h"
#include "io/StringOutputStream.h"

namespace {
const std::string kStamp = "[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\t";

// Puts the process-wide switches back to their start values.
class LogTest : public ::testing::Test {
protected:
    void SetUp() override { restoreDefaults(); }
    void TearDown() override {
        restoreDefaults();
        for (const std::string& path : lockFiles_) {
            unlink(path.c_str());
        }
    }
    static void restoreDefaults() {
        Log::enableLogging();
        Log::setRotationMode(0);
        Log::setMaxLogSize(0);
        Log::setRotatedFileCount(4);
        Log::setDebugEnabled(false);
    }
    // A log file name unique to this test, whose lock files in /tmp are
    // removed afterwards.
    std::string logPath(const std::string& name = "app.log") {
        std::string base =
            "lmlogtest-" + std::to_string(getpid()) + "-" + std::to_string(counter_++) + "-" + name;
        lockFiles_.push_back("/tmp/" + base + ".lock");
        lockFiles_.push_back("/tmp/" + base + ".rlock");
        return root_.file(base);
    }
    std::string read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    bool exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

    TempRoot root_;
    std::vector<std::string> lockFiles_;
    int counter_ = 0;
};

NameValuePairs samplePairs() {
    NameValuePairs pairs;
    pairs.append("host", TypedValue(String("a\tb")));
    pairs.append("port", TypedValue(String("80")));
    return pairs;
}

TEST_F(LogTest, PlainLogAddsOneNewlineAndIgnoresLevel) {
    StringOutputStream out;
    Log log(&out);
    log.write("one");
    log.write("two\n");
    log.log("three", 2);
    EXPECT_EQ(out.getString(), "one\ntwo\nthree\n");

    Log::disableLogging();
    log.write("hidden");
    EXPECT_EQ(out.getString(), "one\ntwo\nthree\n");
}

TEST_F(LogTest, PlainLogFormatsPairsAsLines) {
    StringOutputStream out;
    Log log(&out);
    log.logPairs(samplePairs());
    EXPECT_EQ(out.getString(), "host=a\tb\nport=80\n==\n");
}

TEST_F(LogTest, FileLogLineFormats) {
    struct Case {
        int level;
        const char* word;
    };
    std::string path = logPath();
    FileLog log{String(path)};
    std::string expected;
    for (Case c : {Case{0, "info"}, Case{1, "warning"}, Case{2, "error"}, Case{3, "debug"},
                   Case{7, "info"}}) {
        log.log("message", c.level);
        expected += kStamp + c.word + "\tmessage\n";
    }
    log.write("plain\n");
    expected += kStamp + "plain\n";
    log.logPairs(samplePairs());
    expected += kStamp + "a b\t80\n";
    EXPECT_TRUE(std::regex_match(read(path), std::regex(expected))) << read(path);
}

TEST_F(LogTest, FileLogWithoutNameWritesToStandardError) {
    FileLog log;
    testing::internal::CaptureStderr();
    log.log("to stderr", 1);
    Log::disableLogging();
    log.log("not even to stderr", 1);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(std::regex_match(err, std::regex(kStamp + "warning\tto stderr\n"))) << err;
    EXPECT_FALSE(log.open(String()));
}

TEST_F(LogTest, FileLogResetStartsAnEmptyFile) {
    std::string path = logPath();
    FileLog log{String(path)};
    log.write("old");
    log.reset();
    log.write("new");
    std::string text = read(path);
    EXPECT_EQ(text.find("old"), std::string::npos);
    EXPECT_NE(text.find("new"), std::string::npos);
}

TEST_F(LogTest, UnwritableFileLosesLinesQuietly) {
    FileLog log;
    EXPECT_FALSE(log.open(String(root_.file("no/such/dir/x.log"))));
    testing::internal::CaptureStderr();
    EXPECT_NO_THROW(log.write("lost"));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_FALSE(exists(root_.file("no")));
}

TEST_F(LogTest, ProcessLogAccessors) {
    EXPECT_NE(&Log::getInstance(), static_cast<Log*>(&Log::getDebugLog()));
    Log::setDebugEnabled(true);
    EXPECT_EQ(&Log::getInstance(), static_cast<Log*>(&Log::getDebugLog()));
    EXPECT_NE(&Log::getLog(), static_cast<Log*>(&Log::getRotationLog()));
    Log::setRotationMode(1);
    EXPECT_EQ(&Log::getLog(), static_cast<Log*>(&Log::getRotationLog()));
    Log::setRotatedFileCount(0);
    EXPECT_EQ(Log::getRotatedFileCount(), 4);
    Log::setMaxLogSize(16);
    EXPECT_EQ(Log::getMaxLogSize(), 16);
}

TEST_F(LogTest, DebugLogCollectsProcessLogLines) {
    std::string path = logPath("debug.log");
    Log::getDebugLog().open(String(path));
    Log::getInstance().log("dropped", 3);
    Log::setDebugEnabled(true);
    Log::getInstance().log("kept", 3);
    EXPECT_EQ(Log::getDebugLogName(), String(path));
    Log::getDebugLog().open(String());
    std::string text = read(path);
    EXPECT_TRUE(std::regex_match(text, std::regex(kStamp + "debug\tkept\n"))) << text;
}

// Both lock files of the log at path exist in /tmp, open to every user.
void expectLockFilesFor(const std::string& path) {
    std::string base = path.substr(path.rfind('/') + 1);
    for (const char* suffix : {".lock", ".rlock"}) {
        struct stat status {};
        ASSERT_EQ(stat(("/tmp/" + base + suffix).c_str(), &status), 0) << base << suffix;
        EXPECT_EQ(status.st_mode & 0777, 0666u) << base << suffix;
    }
}

TEST_F(LogTest, LockFilesAreSharedInTmp) {
    std::string path = logPath();
    RotationFileLog log{String(path)};
    expectLockFilesFor(path);
}

TEST_F(LogTest, OpeningAnotherFileTakesItsOwnLockFiles) {
    RotationFileLog log{String(logPath("first.log"))};
    std::string second = logPath("second.log");
    ASSERT_TRUE(log.open(String(second)));
    expectLockFilesFor(second);
}

// One line of exactly length bytes with its newline.
std::string lineOf(char c, size_t length) {
    return std::string(length - 1, c);
}

TEST_F(LogTest, SixRotationsKeepTheNewestFour) {
    Log::setMaxLogSize(1);
    std::string path = logPath();
    RotationFileLog log{String(path)};
    for (int batch = 1; batch <= 7; ++batch) {
        Log& plain = log;
        plain.Log::write(String(lineOf(static_cast<char>('0' + batch), 1100)));
    }
    EXPECT_EQ(read(path), lineOf('7', 1100) + "\n");
    for (int suffix = 1; suffix <= 4; ++suffix) {
        EXPECT_EQ(read(path + "." + std::to_string(suffix)),
                  lineOf(static_cast<char>('7' - suffix), 1100) + "\n")
            << suffix;
    }
    EXPECT_FALSE(exists(path + ".5"));
    EXPECT_FALSE(exists(path + ".0"));
}

TEST_F(LogTest, FileOfExactlyTheLimitIsRenamedOneWriteLater) {
    Log::setMaxLogSize(1);
    std::string path = logPath();
    RotationFileLog log{String(path)};
    Log& plain = log;
    plain.Log::write(String(lineOf('a', 1024)));
    plain.Log::write(String("b"));
    EXPECT_FALSE(exists(path + ".1"));
    plain.Log::write(String("c"));
    EXPECT_EQ(read(path + ".1"), lineOf('a', 1024) + "\nb\n");
    EXPECT_EQ(read(path), "c\n");
}

TEST_F(LogTest, NextRotatedName) {
    std::string path = logPath();
    RotationFileLog log{String(path)};
    EXPECT_EQ(log.nextRotatedName(String(path + ".0")), String(path + ".1"));
    EXPECT_EQ(log.nextRotatedName(String(path + ".3")), String(path + ".4"));
    EXPECT_EQ(log.nextRotatedName(String(path)), String(path));
    std::ofstream(path + ".4") << "oldest";
    EXPECT_EQ(log.nextRotatedName(String(path + ".4")), String(path + ".4"));
    EXPECT_FALSE(exists(path + ".4"));  // dropped to make room

    DebugLog debug{String(logPath("debug.log"))};
    EXPECT_EQ(debug.nextRotatedName(String("x.99")), "x.100");
    EXPECT_EQ(debug.nextRotatedName(String("x.100")), "x.100");
}

TEST_F(LogTest, TrimAndResetRemoveOnlyTheLogsOwnFiles) {
    Log::setMaxLogSize(1);
    std::string path = logPath();
    RotationFileLog log{String(path)};
    log.write("line");
    for (int suffix = 1; suffix <= 4; ++suffix) {
        std::ofstream(path + "." + std::to_string(suffix)) << suffix;
    }
    std::ofstream(path + ".keep") << "not rotated";
    std::ofstream(path + "x") << "other file";

    log.trim(2);
    EXPECT_TRUE(exists(path + ".1") && exists(path + ".2"));
    EXPECT_FALSE(exists(path + ".3") || exists(path + ".4"));

    log.reset();
    EXPECT_FALSE(exists(path) || exists(path + ".1") || exists(path + ".2"));
    EXPECT_TRUE(exists(path + ".keep") && exists(path + "x"));
    log.write("again");
    EXPECT_NE(read(path).find("again"), std::string::npos);
}

TEST_F(LogTest, DebugLogRotatesAtItsOwnLimit) {
    Log::setMaxLogSize(64);  // the general log's limit must not hold it back
    std::string path = logPath("debug.log");
    DebugLog log{String(path)};
    log.setSizeLimit(1);
    Log& plain = log;
    plain.Log::write(String(lineOf('a', 1100)));
    plain.Log::write(String("b"));
    EXPECT_EQ(read(path + ".1"), lineOf('a', 1100) + "\n");
    EXPECT_EQ(read(path), "b\n");
}

// Children append tagged lines to one log; every line must arrive whole and
// exactly once.
void appendLines(const std::string& path, int child, int lines) {
    RotationFileLog log{String(path)};
    for (int i = 0; i < lines; ++i) {
        log.write(String("child" + std::to_string(child) + " line" + std::to_string(i) + " " +
                         std::string(static_cast<size_t>(20 + i % 40), 'x')));
    }
}

// Runs children processes, each appending lines to the log at path, and
// waits for all of them.
void appendInChildren(const std::string& path, int children, int lines) {
    std::vector<pid_t> pids;
    for (int c = 0; c < children; ++c) {
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            appendLines(path, c, lines);
            _exit(0);
        }
        pids.push_back(pid);
    }
    for (pid_t pid : pids) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
}

TEST_F(LogTest, ProcessesShareOneRotatingLogWithoutLosingLines) {
    constexpr int kChildren = 4;
    constexpr int kLines = 300;
    Log::setMaxLogSize(2);
    Log::setRotatedFileCount(200);
    std::string path = logPath("shared.log");
    ASSERT_NO_FATAL_FAILURE(appendInChildren(path, kChildren, kLines));

    std::regex line(kStamp + "child([0-9]) line([0-9]+) x+");
    std::map<std::string, int> seen;
    int rotated = 0;
    for (int suffix = 0; suffix <= 201; ++suffix) {
        std::string name = suffix == 0 ? path : path + "." + std::to_string(suffix);
        if (!exists(name)) {
            continue;
        }
        rotated += suffix > 0;
        std::istringstream text(read(name));
        for (std::string entry; std::getline(text, entry);) {
            std::smatch match;
            ASSERT_TRUE(std::regex_match(entry, match, line)) << name << ": " << entry;
            ++seen[match[1].str() + "/" + match[2].str()];
        }
    }
    EXPECT_GT(rotated, 1);
    EXPECT_LE(rotated, 200);
    EXPECT_FALSE(exists(path + ".0"));
    ASSERT_EQ(seen.size(), static_cast<size_t>(kChildren * kLines));
    for (const auto& [key, count] : seen) {
        EXPECT_EQ(count, 1) << key;
    }
}

TEST_F(LogTest, ProcessesRespectTheRotatedFileCount) {
    Log::setMaxLogSize(1);
    Log::setRotatedFileCount(3);
    std::string path = logPath("small.log");
    ASSERT_NO_FATAL_FAILURE(appendInChildren(path, 3, 200));
    for (int suffix = 1; suffix <= 3; ++suffix) {
        EXPECT_TRUE(exists(path + "." + std::to_string(suffix))) << suffix;
    }
    EXPECT_FALSE(exists(path + ".4"));
    EXPECT_FALSE(exists(path + ".0"));
}

TEST_F(LogTest, WriterReopensFileRotatedByAnotherProcess) {
    Log::setMaxLogSize(8);
    std::string path = logPath();
    RotationFileLog log{String(path)};
    log.write("before");
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        RotationFileLog other{String(path)};
        other.write(String(std::string(9000, 'r')));
        other.write("rotated by child");
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(exists(path + ".1"));
    log.write("after");
    EXPECT_EQ(read(path + ".1").find("after"), std::string::npos);
    EXPECT_NE(read(path).find("after"), std::string::npos);
    EXPECT_NE(read(path).find("rotated by child"), std::string::npos);
}
}  // namespace
