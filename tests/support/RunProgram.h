#pragma once

#include <string>
#include <vector>

struct RunOptions {
    // "NAME=value" sets a variable on top of this process's environment;
    // a bare "NAME" removes it.
    std::vector<std::string> env{};
    std::string stdinText{};   // written to the child's standard input, then closed
    int timeoutSeconds = 60;   // then the child is killed and the test fails (scaled)
    std::string workingDir{};  // empty: this process's
};

struct ProgramResult {
    int exitStatus = -1;  // exit status, or -1 when killed by a signal
    int signal = 0;       // the terminating signal, 0 when it exited
    bool timedOut = false;
    std::string out;  // standard output
    std::string err;  // standard error
};

// Runs program (a path, not searched in PATH) with args (argv[1..]) and
// waits for it, collecting its output. A built executable (below the build
// directory) starts through LM_TEST_EMULATOR when the tests were built with
// one; children see that command in their environment as LM_TEST_EMULATOR.
// The time-out is scaledSeconds(options.timeoutSeconds). A failure to start or a time-out is
// reported as a test failure (ADD_FAILURE) and shows in the result.
ProgramResult runProgram(const std::string& program, const std::vector<std::string>& args,
                         const RunOptions& options = {});

// The argv that runs program with args: a built executable goes through the
// emulator, if any. For tests that start processes themselves.
std::vector<std::string> commandLine(const std::string& program,
                                     const std::vector<std::string>& args);

// True when the built executables run under an emulator (a cross-build
// tested with qemu-user): much slower, and without some system calls.
bool underEmulation();

// A wall-clock allowance for the built executables: `seconds` natively,
// stretched under emulation.
int scaledSeconds(int seconds);

// Paths of the built executables.
std::string setNetworkExe();
std::string lmUpdateExe();
std::string deltaIndexExe();  // lmupdate-make-delta-index
// A file of the source tree, e.g. sourcePath("tests/e2e/data/x.xml").
std::string sourcePath(const std::string& relative);
