#pragma once

#include "CertLocation.h"
#include "CmdLine.h"
#include "NetworkSettings.h"

// The SetNetwork command: shows the network settings (-S) or merges the
// options given into them (-S with options). Every step prints to standard
// output only.

// The options checked by checkOptions, kept for the whole process.
NetworkSettings& commandOptions();

// --tls-verify as checked: whether given, the value as typed and the check
// it stands for.
struct TlsVerifyOption {
    bool given = false;
    String value;
    CertLocation location;
};
TlsVerifyOption& tlsVerifyOption();

// Parses the command line; with "S"/"set" the result of checkOptions, with
// "h"/"help" prints the usage (true); false when neither is given.
bool parseCommandLine(CmdLine& cmdLine);
void usage();
// Validates every option in a fixed order and fills commandOptions(); the
// first rejected value prints its message and gives false.
bool checkOptions(const CmdLine& cmdLine);
// Prints the loaded settings; 0.
int printSettings();
// Stores the options over the loaded settings (servers and time-out are
// carried over when not given); 0, or 1 after saying why nothing was
// stored or the file could not be saved.
int applySettings(bool resetToDefaults);
// Writes the default settings document: 0, -1 when no tree could be made,
// -2 after printing why the file could not be written.
int createDefaultSettingsFile();

// The whole command under tmp/network.lock; the process exit status is
// the result's low byte (0, 1, 10, or -1 for 255).
int setNetwork(int argc, const char* const* argv);
