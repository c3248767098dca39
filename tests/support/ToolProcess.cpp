#include "ToolProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <stdexcept>

namespace {

constexpr int kStartSeconds = 20;
constexpr int kStopSeconds = 5;

// Reads the child's "PORT <n>" line from fd, at most kStartSeconds.
int awaitPort(int fd) {
    std::string seen;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kStartSeconds);
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 200) <= 0) {
            continue;
        }
        char buffer[256];
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0) {
            break;
        }
        seen.append(buffer, static_cast<size_t>(n));
        auto at = seen.find("PORT ");
        if (at != std::string::npos && seen.find('\n', at) != std::string::npos) {
            return std::atoi(seen.c_str() + at + 5);
        }
    }
    return 0;
}

// Reaps the stopped tool as soon as it is gone (it exits within
// milliseconds of SIGTERM), or kills it after kStopSeconds.
void awaitExit(int pid) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kStopSeconds);
    while (::waitpid(pid, nullptr, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() >= deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
            return;
        }
        ::usleep(2 * 1000);
    }
}

}  // namespace

ToolProcess::ToolProcess(const std::vector<std::string>& argv, const std::string& errPath) {
    std::vector<std::string> args = argv;
    std::vector<char*> pointers;
    for (auto& arg : args) {
        pointers.push_back(arg.data());
    }
    pointers.push_back(nullptr);
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    pid_ = ::fork();
    if (pid_ == 0) {
        ::dup2(pipeFds[1], 1);
        int errFd = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (errFd >= 0) {
            ::dup2(errFd, 2);
        }
        ::execv(pointers[0], pointers.data());
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    port_ = pid_ > 0 ? awaitPort(pipeFds[0]) : 0;
    ::close(pipeFds[0]);
}

ToolProcess::~ToolProcess() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        awaitExit(pid_);
    }
}
