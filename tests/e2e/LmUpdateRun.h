#pragma once

// LmUpdate run as a program with REGISTER_DIR naming a scratch installation
// root, for the end-to-end tests of its product and command-line actions.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "RunProgram.h"
#include "TempRoot.h"

// The line every command-line error ends with.
inline const std::string kTryHelp = "try 'LmUpdate --help' for more information\n";

inline ProgramResult runLmUpdate(const TempRoot& root, const std::vector<std::string>& args) {
    RunOptions options;
    options.env = {root.registerDirEnv()};
    return runProgram(lmUpdateExe(), args, options);
}

// A root made by LmUpdate --init, with the commands run in it.
class InitializedRootTest : public testing::Test {
protected:
    void SetUp() override {
        root_.makeStandardDirs();
        ASSERT_EQ(run({"--init"}).exitStatus, 0);
    }

    ProgramResult run(const std::vector<std::string>& args) const {
        return runLmUpdate(root_, args);
    }

    TempRoot root_;
};

// One command line with the exit status and standard output it must give.
struct CommandCase {
    const char* name;
    std::vector<std::string> args;
    int exitStatus;
    std::string out;
};

inline void PrintTo(const CommandCase& c, std::ostream* os) {
    *os << c.name << ":";
    for (const std::string& arg : c.args) {
        *os << " " << arg;
    }
}

inline std::string commandCaseName(const testing::TestParamInfo<CommandCase>& info) {
    return info.param.name;
}

// Runs each CommandCase in a fresh initialised root (the test itself is in
// LmUpdateCommandLineTest.cpp; other files add their own case tables).
class LmUpdateCommandTest : public InitializedRootTest,
                            public testing::WithParamInterface<CommandCase> {};
