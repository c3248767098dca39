#pragma once

#include <string>
#include <vector>

struct RunOptions {
    // "NAME=value" sets a variable on top of this process's environment;
    // a bare "NAME" removes it.
    std::vector<std::string> env{};
    std::string stdinText{};   // written to the child's standard input, then closed
    int timeoutSeconds = 60;   // then the child is killed and the test fails
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
// waits for it, collecting its output. A failure to start or a time-out is
// reported as a test failure (ADD_FAILURE) and shows in the result.
ProgramResult runProgram(const std::string& program, const std::vector<std::string>& args,
                         const RunOptions& options = {});

// Paths of the built executables.
std::string setNetworkExe();
std::string lmUpdateExe();
// A file of the source tree, e.g. sourcePath("tests/e2e/data/x.xml").
std::string sourcePath(const std::string& relative);
