#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "RunProgram.h"
#include "TempRoot.h"

inline constexpr char kSettings[] = "conf/network.xml";
inline constexpr char kTryHelp[] = "try 'SetNetwork --help' for more information\n";
inline constexpr char kChanged[] = "LmUpdate: network settings are changed\n";
inline constexpr char kDeclaration[] = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";

// The arguments for a test listing, each after a blank; empty ones and
// those with blanks in quotes.
inline std::string commandLine(const std::vector<std::string>& args) {
    std::string text;
    for (const std::string& arg : args) {
        text += arg.empty() || arg.find(' ') != std::string::npos ? " '" + arg + "'" : " " + arg;
    }
    return text;
}

// Drives the built SetNetwork in a fresh installation root with conf/ and
// tmp/.
class SetNetworkFixture : public testing::Test {
protected:
    SetNetworkFixture() { root_.makeStandardDirs(); }

    // The command writes to standard output only, but for its warnings.
    ProgramResult run(const std::vector<std::string>& args, const std::string& warnings = "") {
        RunOptions options;
        options.env = {root_.registerDirEnv()};
        ProgramResult result = runProgram(setNetworkExe(), args, options);
        EXPECT_EQ(result.err, warnings) << commandLine(args);
        return result;
    }
    void writeSettings(const std::string& document) { root_.write(kSettings, document); }
    std::string settings() const { return root_.read(kSettings); }
    bool hasSettings() const { return root_.exists(kSettings); }

    TempRoot root_;
};

// The settings document with one ServerList line and its servers.
inline std::string settingsDocument(const std::string& serverListTag,
                                    const std::vector<std::string>& hosts,
                                    const std::string& after = "") {
    std::string doc = std::string(kDeclaration) + "<LmNetClientSettings>\n" + serverListTag + "\n";
    for (const std::string& host : hosts) {
        doc += "<Server host=\"" + host + "\"/>\n";
    }
    return doc + "</ServerList>\n" + after + "</LmNetClientSettings>\n";
}
