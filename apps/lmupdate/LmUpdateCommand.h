#pragma once

#include "CmdLine.h"
#include "LmUpdateCore.h"
#include "String.h"

// What an action handler gets: the parsed command line, the action's name
// (the option without dashes) and value, and the global options.
struct ActionRequest {
    const CmdLine& options;
    String name;
    String value;
    String downloadDir;  // empty unless --download-dir was given
};

// Runs one action; its result is the process exit status (a negative code
// is seen by the shell as 256 + code).
using ActionHandler = int (*)(const ActionRequest& request);

// One action of the command. Actions that read the inventory get the
// process-wide store bound to it first, actions that talk to the update
// servers get the network settings loaded.
struct ActionSpec {
    const char* name;
    bool readsInventory;
    bool talksToServers;
    ActionHandler handler;
};

// The LmUpdate command: parses the arguments, checks the global options,
// prepares the core and dispatches to exactly one action.
class LmUpdateCommand {
public:
    LmUpdateCommand(int argc, const char* const* argv) : cmd_(argc, argv) {}

    int run();

    static void usage();

private:
    int runAction(const ActionSpec& action);
    // The only action given; null (after printing why) when there is none,
    // several, or an option nobody knows.
    const ActionSpec* selectAction() const;
    bool checkDownloadDir(String& downloadDir) const;
    // Applies --log-format; false (after saying why) for an unknown value.
    bool chooseLogFormat() const;

    CmdLine cmd_;
};
