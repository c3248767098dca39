#pragma once

// LmUpdate run as a program with REGISTER_DIR naming a scratch installation
// root, for the end-to-end tests of its product and command-line actions.
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
