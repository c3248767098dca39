#include "state/WriteLock.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "ChildProcess.h"
#include "InstallRoot.h"
#include "SystemLog.h"
#include "Utils.h"
#include "report/Report.h"

namespace {

constexpr int kUnlockTimeout = 600;
// What the lock functions give when the script did not run to its end.
constexpr int kNotRun = -1;
// Exit status of the child when perl cannot be started.
constexpr int kStartFailureStatus = 3;

int runLockScript(const char* action, int pid, int timeout) {
    Vector<String> arguments(0, 20);
    arguments.add("write_lock.pl");
    arguments.add(installPath("bin/write_lock.pl"));
    arguments.add("--action");
    arguments.add(action);
    arguments.add("--pid");
    arguments.add(decimalText(pid));
    arguments.add("--timeout");
    arguments.add(decimalText(timeout));

    ChildProcess child("/usr/bin/perl", arguments);
    child.setStartFailureHook([](int error) {
        SystemLog::write(String("write lock failed").append(error), LogPriority::kError);
    });
    child.setStartFailureStatus(kStartFailureStatus);
    if (!child.start()) {
        SystemLog::write(String("write lock failed").append(errno), LogPriority::kError);
        return kNotRun;
    }
    const int status = child.wait();
    if (status == -1) {
        SystemLog::write(String("write lock failed").append(errno), LogPriority::kError);
        return kNotRun;
    }
    if (WIFSIGNALED(status)) {
        return status;
    }
    SystemLog::write(String("lock exit code: ").append(WEXITSTATUS(status)));
    return status;
}

}  // namespace

int lockWrite(int pid, int timeout) {
    return runLockScript("LOCK", pid, timeout);
}

int tryLockWrite(int pid, int timeout) {
    return runLockScript("TRYLOCK", pid, timeout);
}

int unlockWrite(int pid) {
    return runLockScript("UNLOCK", pid, kUnlockTimeout);
}

WriteLock::WriteLock() : held_(lockWrite(getpid(), kTimeoutSeconds) == 0) {}

WriteLock::~WriteLock() {
    if (held_) {
        unlockWrite(getpid());
    }
}
