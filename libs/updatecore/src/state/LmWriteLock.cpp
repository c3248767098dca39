// The cross-process write lock, kept by an outside perl script.
#include <sys/wait.h>

#include <cerrno>

#include "ChildProcess.h"
#include "InstallRoot.h"
#include "LmUpdateCore.h"
#include "SystemLog.h"
#include "report/CoreHelpers.h"
#include "state/LmUpdateStore.h"

namespace {

constexpr int kUnlockTimeout = 600;
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
    child.setStartFailureHook(
        [](int error) { SystemLog::write(String("write lock failed").append(error)); });
    child.setStartFailureStatus(kStartFailureStatus);
    if (!child.start()) {
        SystemLog::write(String("write lock failed").append(errno));
        return ResultCode::kFailed;
    }
    const int status = child.wait();
    if (status == -1) {
        SystemLog::write(String("write lock failed").append(errno));
        return ResultCode::kFailed;
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
