#pragma once

#include "CertLocation.h"
#include "CmdLine.h"
#include "NetworkSettings.h"

// The SetNetwork command: shows the network settings (-S) or merges the
// options given into them (-S with options). Every step prints to standard
// output only, but for the warning on standard error that stored settings
// leave updates unauthenticated (--type http or --tls-verify none while no
// signing key is configured).

// The exit statuses of SetNetwork, each with what it means.
namespace SetNetworkStatus {
inline constexpr int kOk = 0;           // settings printed or stored, or help printed
inline constexpr int kFileError = 1;    // the settings file could not be read or written
inline constexpr int kNoSettings = 10;  // -S alone and no usable settings file
inline constexpr int kBadCommandLine = 255;
}  // namespace SetNetworkStatus

// Every status SetNetwork can end with, for the documentation to be held
// against.
extern const int kSetNetworkStatuses[];
extern const int kSetNetworkStatusCount;

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

// --budget as checked: whether given, and the MiB per day to store (0 for
// off, which removes the stored budget).
struct BudgetOption {
    bool given = false;
    int mibPerDay = 0;
};
BudgetOption& budgetOption();

// Parses the command line; with "S"/"set" the result of checkOptions, with
// "h"/"help" prints the usage (true); false when neither is given.
bool parseCommandLine(CmdLine& cmdLine);
void usage();
// Validates every option in a fixed order and fills commandOptions(); the
// first rejected value prints its message and gives false.
bool checkOptions(const CmdLine& cmdLine);
// Prints the loaded settings, the budget last when one is stored; kOk.
int printSettings();
// Stores the options over the loaded settings (servers and time-out are
// carried over when not given); kOk, or kFileError after saying why
// nothing was stored or the file could not be saved.
int applySettings(bool resetToDefaults);

// What writing the default settings document came to.
enum class DefaultSettings {
    kWritten,
    kNoTree,      // no XML tree could be made
    kNotWritten,  // the file could not be written (said why)
};
DefaultSettings createDefaultSettingsFile();

// The whole command under tmp/network.lock: a SetNetworkStatus.
int setNetwork(int argc, const char* const* argv);
