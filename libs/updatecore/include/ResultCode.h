#pragma once

// The result codes of the entry operations, named by operation. A value
// stands under several names, each with its operation's meaning (-2 is the
// inventory for an update run, the settings for ping). A negative code is
// seen by the shell as 256 + code.
namespace ResultCode {
inline constexpr int kOk = 0;

// Any action.
inline constexpr int kUsageError = 255;         // bad command line
inline constexpr int kInventoryUnreadable = 1;  // binding the inventory failed
inline constexpr int kInitFailed = 1;           // a state file could not be created
inline constexpr int kNetworkTimeout = -9;      // the process ends on a network time-out

// An update run.
inline constexpr int kUpdateInstalled = 2;
inline constexpr int kUpdateSelfUpdated = 1;
inline constexpr int kUpdateNothing = 0;
inline constexpr int kUpdateInventory = -2;
inline constexpr int kUpdateServerFailed = -5;
inline constexpr int kUpdateInstallFailed = -6;
inline constexpr int kUpdateUnauthorized = -8;
inline constexpr int kUpdateWriteLock = -12;
// The install lock was refused (another user's file or directory on its path).
inline constexpr int kUpdateInstallLock = -12;
// A path whose owner decides what the run executes or writes (the download
// directory's parents, the root's bin/, the signing key) could be changed
// by another user.
inline constexpr int kUpdateUnsafePath = -12;
// The daily byte budget held a download back (what was fetched is
// installed); a scheduled run counts it as success.
inline constexpr int kUpdateBudgetReached = -29;

// Deferred packages.
inline constexpr int kDelayFailed = -1;
inline constexpr int kDelayInventory = -2;

// Firmware.
inline constexpr int kFirmwareBadRequest = -1;
inline constexpr int kFirmwareSettings = -2;
inline constexpr int kFirmwareProtocol = -5;
inline constexpr int kFirmwareUnauthorized = -8;
inline constexpr int kFirmwareNoConnection = -9;
inline constexpr int kFirmwareDigest = -14;
inline constexpr int kFirmwareNoSessionId = -15;
inline constexpr int kFirmwareNotFound = -17;
inline constexpr int kFirmwareBudgetReached = -29;

// Registration and listing.
inline constexpr int kRegisterFailed = -3;
inline constexpr int kDeregisterFailed = -4;
inline constexpr int kNothingToList = -1;

// Ping (the transport codes also end firmware requests).
inline constexpr int kPingSettings = -2;
inline constexpr int kPingFailed = -9;
inline constexpr int kInvalidHost = -20;
inline constexpr int kProxyFailed = -21;
inline constexpr int kConnectRefused = -22;
inline constexpr int kConnectTimeout = -23;
inline constexpr int kReadFailed = -24;
inline constexpr int kReadTimeout = -25;
inline constexpr int kWriteFailed = -26;
inline constexpr int kWriteTimeout = -27;
inline constexpr int kConnectFailed = -28;

// Verify.
inline constexpr int kVerifySettings = -2;
inline constexpr int kVerifyUnauthorized = -8;
inline constexpr int kVerifyNoAnswer = -9;
}  // namespace ResultCode

// Every result an action can end with, for the documentation to be held
// against. action is the option without dashes ("delay install" for a
// word of it); "any" and "inventory" stand for every action and every
// action that reads the inventory.
struct ActionResult {
    const char* action;
    int code;
};
extern const ActionResult kActionResults[];
extern const int kActionResultCount;
