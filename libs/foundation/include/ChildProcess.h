#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <optional>

#include "String.h"
#include "Vector.h"

// One outside program run as a child process: fork, then execv of a fixed
// argument vector (argument 0 given by the caller), never through a shell.
//
// When preparing the child (the settings below) or exec fails, the child writes the start-failure
// line (if any) to the system log, runs the start-failure hook (if any), and ends with _exit(127)
// when starting was refused for lack of permission (EACCES), _exit(128) otherwise, or with the
// fixed status set by the caller.
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

    void setStartFailureLine(String line) { settings_.failureLine = std::move(line); }
    void setStartFailureHook(StartFailureHook hook) { settings_.failureHook = std::move(hook); }
    // Replaces the 127/128 rule with a fixed exit status (e.g. 3).
    void setStartFailureStatus(int status) { settings_.failureStatus = status; }
    // Sends the child's standard error to /dev/null, for a probe whose
    // complaints are an expected answer rather than news for a person.
    void discardStandardError() { settings_.discardStandardError = true; }
    // Gives the child /dev/null as its standard input: nothing it asks can
    // wait for an answer.
    void discardStandardInput() { settings_.discardStandardInput = true; }
    // Gives the child fd as its standard output; the caller keeps fd and
    // closes it.
    void setStandardOutput(int fd) { settings_.standardOutput = fd; }
    // Starts the child in a session (and process group) of its own: a stop
    // signal meant for our group, such as a terminal's Ctrl-C, does not
    // reach it, and it has no controlling terminal to prompt on.
    void startNewSession() { settings_.newSession = true; }
    // Starts the child in a process group of its own, still in our session:
    // a signal sent to our group (a service stop, Ctrl-C) reaches us, not
    // it, so that we decide when it ends.
    void startOwnProcessGroup() { settings_.ownProcessGroup = true; }
    // No file the child writes may grow beyond bytes (RLIMIT_FSIZE).
    void setFileSizeLimit(uint64_t bytes) { settings_.fileSizeLimit = bytes; }
    // The child's whole environment ("NAME=value" entries) instead of ours.
    void setEnvironment(Vector<String> entries) { settings_.environment = std::move(entries); }

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
    // How the child is started, all set before start().
    struct Settings {
        String failureLine;
        StartFailureHook failureHook;
        int failureStatus = -1;
        bool discardStandardError = false;
        bool discardStandardInput = false;
        int standardOutput = -1;
        bool newSession = false;
        bool ownProcessGroup = false;
        std::optional<uint64_t> fileSizeLimit;
        std::optional<Vector<String>> environment;
    };

    bool prepareChild() const;
    [[noreturn]] void execInChild(char* const* argv, char* const* envp);
    void reap(bool kill);

    String program_;
    Vector<String> arguments_;
    Settings settings_;
    pid_t pid_ = -1;
    int status_ = -1;
};
