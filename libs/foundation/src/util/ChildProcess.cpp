#include "ChildProcess.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <utility>
#include <vector>

#include "SystemLog.h"

ChildProcess::ChildProcess(String program, Vector<String> arguments)
    : program_(std::move(program)), arguments_(std::move(arguments)) {}

ChildProcess::~ChildProcess() {
    reap(true);
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : program_(std::move(other.program_)),
      arguments_(std::move(other.arguments_)),
      failureLine_(std::move(other.failureLine_)),
      failureHook_(std::move(other.failureHook_)),
      failureStatus_(other.failureStatus_),
      discardStandardError_(other.discardStandardError_),
      standardOutput_(other.standardOutput_),
      pid_(std::exchange(other.pid_, -1)),
      status_(other.status_) {}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
    if (this != &other) {
        reap(true);
        program_ = std::move(other.program_);
        arguments_ = std::move(other.arguments_);
        failureLine_ = std::move(other.failureLine_);
        failureHook_ = std::move(other.failureHook_);
        failureStatus_ = other.failureStatus_;
        discardStandardError_ = other.discardStandardError_;
        standardOutput_ = other.standardOutput_;
        pid_ = std::exchange(other.pid_, -1);
        status_ = other.status_;
    }
    return *this;
}

int ChildProcess::startFailureStatus(int error) {
    return error == EACCES ? 127 : 128;
}

bool ChildProcess::start() {
    reap(true);
    // The vector is built before fork so that the child only calls exec.
    std::vector<char*> argv;
    for (String& argument : arguments_) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    status_ = -1;
    pid_t pid = fork();
    if (pid < 0) {
        return false;
    }
    if (pid == 0) {
        execInChild(argv.data());
    }
    pid_ = pid;
    return true;
}

void ChildProcess::execInChild(char* const* argv) {
    if (discardStandardError_) {
        int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (null >= 0) {
            dup2(null, STDERR_FILENO);  // the copy on 2 does not inherit close-on-exec
        }
    }
    if (standardOutput_ >= 0) {
        dup2(standardOutput_, STDOUT_FILENO);
    }
    execv(program_.c_str(), argv);
    int error = errno;
    if (!failureLine_.isEmpty()) {
        SystemLog::write(failureLine_);
    }
    if (failureHook_) {
        failureHook_(error);
    }
    // _exit: the parent's stdio buffers and atexit handlers are not ours.
    _exit(failureStatus_ >= 0 ? failureStatus_ : startFailureStatus(error));
}

int ChildProcess::wait() {
    if (pid_ > 0) {
        reap(false);
    }
    return status_;
}

void ChildProcess::reap(bool kill) {
    if (pid_ <= 0) {
        return;
    }
    if (kill) {
        ::kill(pid_, SIGKILL);
    }
    int status = 0;
    pid_t result;
    do {
        result = waitpid(pid_, &status, 0);
    } while (result < 0 && errno == EINTR);
    status_ = result == pid_ ? status : -1;
    pid_ = -1;
}

int ChildProcess::run(const String& program, const Vector<String>& arguments,
                      const String& startFailureLine) {
    ChildProcess child(program, arguments);
    child.setStartFailureLine(startFailureLine);
    if (!child.start()) {
        return -1;
    }
    return child.wait();
}
