#pragma once

// What a front-end of the update core sees: the result codes, the entry
// operations and the steps that bind the core to an installation (download
// directory, inventory, network settings). Entry operations never throw;
// each logs and reports its own failures.

#include <concepts>
#include <cstdint>
#include <functional>

#include "LmProduct.h"
#include "ResultCode.h"
#include "String.h"

// Binding steps.

// Binds the process-wide store to the inventory; false (after printing
// why) when the file cannot be opened. An unparsable file is left for the
// action to report.
bool bindInventory();
// Loads the network settings; the actions report settings they cannot use.
void loadNetworkSettings();
// Checks a --download-dir value: false (after printing why) when it names
// nothing that exists.
bool acceptDownloadDir(const String& downloadDir);

// Writes the metrics of every reported run to path (empty: none).
void setMetricsFile(const String& path);

// Entry operations.
//
// --update, --delay install, --firmware, --ping and --verify leave a run
// report (ROOT/logs/last-run.json, docs/RUN-REPORT.md).

// Prints the last run report as a table, or with json as the document:
// kOk, or kUsageError after "LmUpdate: no run report: PATH: REASON".
int showLastRun(bool json);

// Creates the missing state files below the installation root, printing
// "created: <file>" for each. kOk or kInitFailed.
int initStateFiles();

// The default cap of the package files kept for block-delta downloads.
constexpr int kDefaultSeedCacheMiB = 256;

// One whole update run for product id (1000 is the update client itself):
// ask the servers, download, install under the install lock and the write
// lock, record installed and deferred packages. Needs the inventory bound.
// A non-empty downloadDir replaces the default download directory;
// seedCacheMiB caps the kept package files (0 empties their cache);
// retryNow fetches the product's packages that failed earlier at once.
// Results are the kUpdate... codes.
int runUpdate(int32_t id, int plainDownload, int throttleKB, int pauseSeconds,
              const String& downloadDir = String(), int seedCacheMiB = kDefaultSeedCacheMiB,
              bool retryNow = false);

// Asks the servers in turn until one answers and prints its answer: kOk,
// kPingSettings, kPingFailed or a transport code.
int pingServers();
// Verifies this appliance with the servers: kOk, kVerifySettings,
// kVerifyUnauthorized (401) or kVerifyNoAnswer.
int verifyAppliance();

// The actions on deferred ("delay") packages, kept in conf/lm-delay-packages.
//
// action is "install", "status" or "remove" (any case); any other word does
// nothing and gives 0. id 0 means every deferred package for "status" and
// "remove"; "install" needs a product id.
//   status   prints the package-list document of the deferred packages of
//            id to standard output and leaves it in action as well
//   remove   drops the deferred packages of id; removeFiles non-zero also
//            deletes their directories
//   install  runs the install-package script of the one deferred package
//            of id, then removes it, and enters it in the inventory when
//            the script exited with 0 or 1
// Results: 0 success, kDelayFailed; "install" also 1 and 2 (the script's
// exit status) and kDelayInventory.
int delayPackageAction(int32_t id, String& action, int removeFiles);

// The firmware action, in two separate command runs:
//   "get_update_info"  asks the first update server for the firmware of the
//                      product whose id is argument (empty: 0) and writes the
//                      answer verbatim to standard output;
//   "update"           reads the stored answer (shared_conf/lm-firmware-packages)
//                      and downloads and verifies the firmware whose version
//                      text is argument.
// The action word is compared ignoring case. A non-empty downloadDir replaces
// the default download directory. Results: kOk or a kFirmware... or
// transport code.
int firmwareAction(const String& action, const String& argument, int throttleKB, int pauseSeconds,
                   const String& downloadDir = String());

// Registration and listing. Listings and option errors go to standard
// output, results of changes to the system log.

// The value of a command-line option, false when it is absent.
using OptionLookup = std::function<bool(const String& name, String& value)>;

// Fills product from the options id, name and, when full, desc, lang-code,
// oem, serialno, parent, path, version, version-status and version-desc.
// An option with an empty value counts as missing. False after printing the
// reason when a required option is missing or the id is not a number.
bool parseProductArgs(const OptionLookup& options, LmProduct& product, bool full);

// The same for any command-line parser offering getOption (CmdLine).
template <class Options>
requires requires(const Options& options, String& value) {
    { options.getOption(String(), value) } -> std::convertible_to<bool>;
}
bool parseProductArgs(const Options& options, LmProduct& product, bool full) {
    return parseProductArgs(OptionLookup([&options](const String& name, String& value) {
                                return options.getOption(name, value);
                            }),
                            product, full);
}

// Adds the product, replacing an entry of the same id. kOk or
// kRegisterFailed.
int registerAction(const LmProduct& product);
// Removes the entry of product.info.id. kOk or kDeregisterFailed.
int deregisterAction(const LmProduct& product);
// What a listing shows of each product.
enum class ListForm {
    kListing,  // the product, its version and last-update records
    kIds,      // only the id, one a line; nothing when there is nothing to list
};
// Lists every product (id 0) or one. kOk or kNothingToList.
int listProducts(int32_t id, ListForm form = ListForm::kListing);
// Prints the installed version text of the product whose id, in decimal, is
// exactly idText, or "0". Always kOk.
int printProductVersion(const String& idText);
