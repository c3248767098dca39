#include "ChildProcess.h"

#include <fcntl.h>
#include <sys/resource.h>
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
      settings_(std::move(other.settings_)),
      pid_(std::exchange(other.pid_, -1)),
      status_(other.status_) {}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
    if (this != &other) {
        reap(true);
        program_ = std::move(other.program_);
        arguments_ = std::move(other.arguments_);
        settings_ = std::move(other.settings_);
        pid_ = std::exchange(other.pid_, -1);
        status_ = other.status_;
    }
    return *this;
}

int ChildProcess::startFailureStatus(int error) {
    return error == EACCES ? 127 : 128;
}

namespace {

// The NULL-terminated pointer vector exec takes, into texts that outlive it.
std::vector<char*> pointers(Vector<String>& texts) {
    std::vector<char*> vector;
    for (String& text : texts) {
        vector.push_back(const_cast<char*>(text.c_str()));
    }
    vector.push_back(nullptr);
    return vector;
}

// Opens /dev/null as fd (the copy made by dup2 does not inherit
// close-on-exec).
bool nullAs(int fd, int mode) {
    int null = open("/dev/null", mode | O_CLOEXEC);
    return null >= 0 && dup2(null, fd) == fd;
}

}  // namespace

bool ChildProcess::start() {
    reap(true);
    // The vectors are built before fork so that the child only calls exec.
    std::vector<char*> argv = pointers(arguments_);
    std::vector<char*> envp;
    if (settings_.environment) {
        envp = pointers(*settings_.environment);
    }
    status_ = -1;
    pid_t pid = fork();
    if (pid < 0) {
        return false;
    }
    if (pid == 0) {
        execInChild(argv.data(), settings_.environment ? envp.data() : environ);
    }
    if (settings_.ownProcessGroup) {
        setpgid(pid, pid);  // also here: a signal to the group may come before the child ran
    }
    pid_ = pid;
    return true;
}

// Only calls that are safe between fork and exec; false (errno set) when a
// setting could not be applied, so that the child never runs without it.
bool ChildProcess::prepareChild() const {
    if (settings_.newSession && setsid() < 0) {
        return false;
    }
    if (settings_.ownProcessGroup && setpgid(0, 0) != 0) {
        return false;
    }
    if (settings_.discardStandardInput && !nullAs(STDIN_FILENO, O_RDONLY)) {
        return false;
    }
    if (settings_.discardStandardError && !nullAs(STDERR_FILENO, O_WRONLY)) {
        return false;
    }
    if (settings_.standardOutput >= 0 &&
        dup2(settings_.standardOutput, STDOUT_FILENO) != STDOUT_FILENO) {
        return false;
    }
    if (settings_.fileSizeLimit) {
        struct rlimit limit = {};
        limit.rlim_cur = limit.rlim_max = static_cast<rlim_t>(*settings_.fileSizeLimit);
        return setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    return true;
}

void ChildProcess::execInChild(char* const* argv, char* const* envp) {
    if (prepareChild()) {
        execve(program_.c_str(), argv, envp);
    }
    int error = errno;
    if (!settings_.failureLine.isEmpty()) {
        SystemLog::write(settings_.failureLine, LogPriority::kError);
    }
    if (settings_.failureHook) {
        settings_.failureHook(error);
    }
    // _exit: the parent's stdio buffers and atexit handlers are not ours.
    _exit(settings_.failureStatus >= 0 ? settings_.failureStatus : startFailureStatus(error));
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
