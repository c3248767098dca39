#include "RunProgram.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>

extern char** environ;

namespace {

// A pipe whose ends close themselves.
struct Pipe {
    int fd[2] = {-1, -1};
    Pipe() {
        if (::pipe2(fd, O_CLOEXEC) != 0) {
            fd[0] = fd[1] = -1;
        }
    }
    ~Pipe() {
        closeEnd(0);
        closeEnd(1);
    }
    void closeEnd(int end) {
        if (fd[end] >= 0) {
            ::close(fd[end]);
            fd[end] = -1;
        }
    }
};

std::vector<std::string> childEnvironment(const std::vector<std::string>& changes) {
    std::map<std::string, std::string> vars;
    for (char** entry = environ; *entry; ++entry) {
        std::string text(*entry);
        auto eq = text.find('=');
        vars[text.substr(0, eq)] = text;
    }
    for (const auto& change : changes) {
        auto eq = change.find('=');
        if (eq == std::string::npos) {
            vars.erase(change);
        } else {
            vars[change.substr(0, eq)] = change;
        }
    }
    std::vector<std::string> out;
    for (auto& [name, text] : vars) {
        out.push_back(text);
    }
    return out;
}

// The command that runs a built executable on this machine (qemu-arm for a
// cross-build), as words; empty when the executables run natively.
std::vector<std::string> emulatorWords() {
    std::vector<std::string> words;
    std::string text = LM_TEST_EMULATOR;
    for (size_t at = 0; at < text.size();) {
        size_t end = std::min(text.find(' ', at), text.size());
        if (end > at) {
            words.push_back(text.substr(at, end - at));
        }
        at = end + 1;
    }
    return words;
}

bool isBuiltExecutable(const std::string& program) {
    const std::string built = LM_BINARY_DIR "/";
    return program.compare(0, built.size(), built) == 0;
}

std::vector<char*> pointers(std::vector<std::string>& texts) {
    std::vector<char*> out;
    for (auto& text : texts) {
        out.push_back(text.data());
    }
    out.push_back(nullptr);
    return out;
}

// In the child after fork: only async-signal-safe calls until exec.
[[noreturn]] void execChild(Pipe& in, Pipe& out, Pipe& err, const std::string& workingDir,
                            char** argv, char** envp) {
    ::dup2(in.fd[0], 0);
    ::dup2(out.fd[1], 1);
    ::dup2(err.fd[1], 2);
    if (!workingDir.empty() && ::chdir(workingDir.c_str()) != 0) {
        ::_exit(126);
    }
    ::execve(argv[0], argv, envp);
    static const char message[] = "runProgram: exec failed\n";
    [[maybe_unused]] auto ignored = ::write(2, message, sizeof message - 1);
    ::_exit(127);
}

void decodeStatus(int status, ProgramResult& result) {
    if (WIFEXITED(status)) {
        result.exitStatus = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.signal = WTERMSIG(status);
    }
}

// Feeds stdin and drains stdout/stderr until both close, or the child has
// exited and its pipes hold nothing more (a background grandchild may keep
// them open), or the deadline passes. Returns false on the deadline.
bool pump(pid_t pid, Pipe& in, Pipe& out, Pipe& err, const std::string& input,
          ProgramResult& result, std::chrono::steady_clock::time_point deadline, bool& reaped) {
    size_t written = 0;
    if (input.empty()) {
        in.closeEnd(1);
    } else {
        ::fcntl(in.fd[1], F_SETFL, O_NONBLOCK);
    }
    while (out.fd[0] >= 0 || err.fd[0] >= 0) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return false;
        }
        pollfd fds[3] = {{out.fd[0], POLLIN, 0}, {err.fd[0], POLLIN, 0}, {in.fd[1], POLLOUT, 0}};
        int ready = ::poll(fds, 3, static_cast<int>(std::min<long>(left.count(), 100)));
        if (ready < 0 && errno != EINTR) {
            return false;
        }
        if (ready == 0) {
            if (reaped) {
                return true;
            }
            int status = 0;
            if (::waitpid(pid, &status, WNOHANG) == pid) {
                decodeStatus(status, result);
                reaped = true;
            }
            continue;
        }
        Pipe* sources[2] = {&out, &err};
        std::string* sinks[2] = {&result.out, &result.err};
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd >= 0 && (fds[i].revents & (POLLIN | POLLHUP | POLLERR))) {
                char buffer[65536];
                ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
                if (n > 0) {
                    sinks[i]->append(buffer, static_cast<size_t>(n));
                } else if (n == 0 || errno != EINTR) {
                    sources[i]->closeEnd(0);
                }
            }
        }
        if (fds[2].fd >= 0 && (fds[2].revents & (POLLOUT | POLLERR | POLLHUP))) {
            ssize_t n = ::write(in.fd[1], input.data() + written, input.size() - written);
            if (n > 0) {
                written += static_cast<size_t>(n);
            }
            if ((n < 0 && errno != EAGAIN && errno != EINTR) || written == input.size()) {
                in.closeEnd(1);
            }
        }
    }
    return true;
}

void waitChild(pid_t pid, ProgramResult& result) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    decodeStatus(status, result);
}

}  // namespace

ProgramResult runProgram(const std::string& program, const std::vector<std::string>& args,
                         const RunOptions& options) {
    ProgramResult result;
    std::vector<std::string> argvTexts = commandLine(program, args);
    // Scripts a test runs (the demo) start built executables themselves.
    std::vector<std::string> changes;
    if (underEmulation()) {
        changes.push_back("LM_TEST_EMULATOR=" LM_TEST_EMULATOR);
    }
    changes.insert(changes.end(), options.env.begin(), options.env.end());
    std::vector<std::string> envTexts = childEnvironment(changes);
    auto argv = pointers(argvTexts);
    auto envp = pointers(envTexts);
    Pipe in, out, err;
    // A child that exits before reading its input must not kill us.
    ::signal(SIGPIPE, SIG_IGN);
    int timeoutSeconds = scaledSeconds(options.timeoutSeconds);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    pid_t pid = ::fork();
    if (pid < 0) {
        ADD_FAILURE() << "fork: " << std::strerror(errno);
        return result;
    }
    if (pid == 0) {
        execChild(in, out, err, options.workingDir, argv.data(), envp.data());
    }
    in.closeEnd(0);
    out.closeEnd(1);
    err.closeEnd(1);
    bool reaped = false;
    if (!pump(pid, in, out, err, options.stdinText, result, deadline, reaped)) {
        if (!reaped) {
            ::kill(pid, SIGKILL);
        }
        result.timedOut = true;
        ADD_FAILURE() << program << " did not finish within " << timeoutSeconds
                      << " s; killed. Output so far:\n"
                      << result.out << "\nstderr:\n"
                      << result.err;
    }
    if (!reaped) {
        waitChild(pid, result);
    }
    if (result.exitStatus == 127 &&
        result.err.find("runProgram: exec failed") != std::string::npos) {
        ADD_FAILURE() << "cannot run " << program;
    }
    return result;
}

std::vector<std::string> commandLine(const std::string& program,
                                     const std::vector<std::string>& args) {
    std::vector<std::string> words;
    if (isBuiltExecutable(program)) {
        words = emulatorWords();
    }
    words.push_back(program);
    words.insert(words.end(), args.begin(), args.end());
    return words;
}

bool underEmulation() {
    return !emulatorWords().empty();
}

int scaledSeconds(int seconds) {
    return underEmulation() ? seconds * LM_TEST_TIME_SCALE : seconds;
}

std::string setNetworkExe() {
    return LM_BINARY_DIR "/bin/SetNetwork";
}

std::string lmUpdateExe() {
    return LM_BINARY_DIR "/bin/LmUpdate";
}

std::string deltaIndexExe() {
    return LM_BINARY_DIR "/bin/lmupdate-make-delta-index";
}

std::string sourcePath(const std::string& relative) {
    return LM_SOURCE_DIR "/" + relative;
}
