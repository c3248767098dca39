#include <gtest/gtest.h>
#include <sys/wait.h>

#include <string>

#include "SystemLog.h"
#include "TempRoot.h"
#include "state/LmUpdateStore.h"
#include "state/WriteLock.h"

namespace {

// Records its program path and arguments, then exits with the code kept in
// tmp/lock-exit, or kills itself when that file says "KILL".
const char kLockScript[] = R"(
my ($root) = $0 =~ m{^(.*)/bin/[^/]+$};
open(my $log, '>>', "$root/tmp/lock-args") or die "log: $!";
print $log join('|', $0, @ARGV), "\n";
close $log;
my $code = 0;
if (open(my $in, '<', "$root/tmp/lock-exit")) { $code = <$in>; chomp $code; }
kill('KILL', $$) if $code eq 'KILL';
exit $code;
)";

class WriteLockTest : public testing::Test {
protected:
    void SetUp() override {
        processRoot().clear();
        processRoot().makeStandardDirs();
        processRoot().write("bin/write_lock.pl", kLockScript, 0755);
        SystemLog::setEcho(true);
    }
    void TearDown() override { SystemLog::setEcho(false); }

    static std::string args() { return processRoot().read("tmp/lock-args"); }
    static std::string script() { return processRoot().file("bin/write_lock.pl"); }
};

TEST_F(WriteLockTest, PassesTheFixedArgumentList) {
    EXPECT_EQ(lockWrite(1234, 30), 0);
    EXPECT_EQ(tryLockWrite(77, 0), 0);
    EXPECT_EQ(unlockWrite(1234), 0);
    EXPECT_EQ(args(), script() + "|--action|LOCK|--pid|1234|--timeout|30\n" + script() +
                          "|--action|TRYLOCK|--pid|77|--timeout|0\n" + script() +
                          "|--action|UNLOCK|--pid|1234|--timeout|600\n");
}

TEST_F(WriteLockTest, ExitCodeBecomesWaitStatusAndIsLogged) {
    processRoot().write("tmp/lock-exit", "2\n");
    testing::internal::CaptureStderr();
    const int status = lockWrite(1, 5);
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_EQ(status, 512);
    EXPECT_NE(log.find("lock exit code: 2"), std::string::npos) << log;
}

TEST_F(WriteLockTest, SuccessIsLoggedWithCodeZero) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(unlockWrite(1), 0);
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("lock exit code: 0"), std::string::npos) << log;
}

TEST_F(WriteLockTest, SignalIsReturnedWithoutLogging) {
    processRoot().write("tmp/lock-exit", "KILL\n");
    testing::internal::CaptureStderr();
    const int status = tryLockWrite(1, 5);
    const std::string log = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGKILL);
    EXPECT_EQ(log.find("lock exit code"), std::string::npos) << log;
}

TEST_F(WriteLockTest, MissingScriptIsANonZeroLoggedStatus) {
    processRoot().remove("bin/write_lock.pl");
    testing::internal::CaptureStderr();
    const int status = lockWrite(1, 5);
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(status, 0);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_NE(log.find("lock exit code: " + std::to_string(WEXITSTATUS(status))), std::string::npos)
        << log;
}

}  // namespace
