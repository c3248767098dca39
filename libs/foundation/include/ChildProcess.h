#pragma once

#include <sys/types.h>

#include <functional>

#include "String.h"
#include "Vector.h"

// One outside program run as a child process: fork, then execv of a fixed
// argument vector (argument 0 given by the caller), never through a shell.
//
// When exec fails, the child writes the start-failure line (if any) to the
// system log, runs the start-failure hook (if any), and ends with
// _exit(127) when starting was refused for lack of permission (EACCES),
// _exit(128) otherwise, or with the fixed status set by the caller.
//
// wait() returns the raw wait status, so that callers apply their own tests
// (WIFEXITED, WEXITSTATUS, WIFSIGNALED, or the status as a whole number).
// An object destroyed before its child was waited for kills and reaps the
// child: no zombie and no orphan is left behind.
class ChildProcess {
public:
    // Runs in the child after a failed exec, before it ends; gets errno.
    using StartFailureHook = std::function<void(int error)>;

    ChildProcess(String program, Vector<String> arguments);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ChildProcess(ChildProcess&& other) noexcept;
    ChildProcess& operator=(ChildProcess&& other) noexcept;

    void setStartFailureLine(String line) { failureLine_ = std::move(line); }
    void setStartFailureHook(StartFailureHook hook) { failureHook_ = std::move(hook); }
    // Replaces the 127/128 rule with a fixed exit status (e.g. 3).
    void setStartFailureStatus(int status) { failureStatus_ = status; }
    // Sends the child's standard error to /dev/null, for a probe whose
    // complaints are an expected answer rather than news for a person.
    void discardStandardError() { discardStandardError_ = true; }
    // Gives the child fd as its standard output; the caller keeps fd and
    // closes it.
    void setStandardOutput(int fd) { standardOutput_ = fd; }

    // Forks and execs; false when fork itself failed (errno is kept).
    bool start();
    // Waits for the child (retrying on EINTR) and returns its raw wait status;
    // -1 when the child was never started or cannot be waited for. A second
    // call returns the same status without waiting again.
    int wait();

    bool running() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }

    // start() then wait(): the raw wait status, or -1 when fork failed.
    static int run(const String& program, const Vector<String>& arguments,
                   const String& startFailureLine = String());

    // The exit status a child ends with when exec fails with error.
    static int startFailureStatus(int error);

private:
    [[noreturn]] void execInChild(char* const* argv);
    void reap(bool kill);

    String program_;
    Vector<String> arguments_;
    String failureLine_;
    StartFailureHook failureHook_;
    int failureStatus_ = -1;
    bool discardStandardError_ = false;
    int standardOutput_ = -1;
    pid_t pid_ = -1;
    int status_ = -1;
};
