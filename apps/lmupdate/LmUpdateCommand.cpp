#include "LmUpdateCommand.h"

#include <unistd.h>

#include <cstdio>
#include <initializer_list>
#include <iterator>

#include "DelayPackageActions.h"
#include "Exception.h"
#include "FirmwareSession.h"
#include "InstallRoot.h"
#include "LmNetConfig.h"
#include "LmUpdateClient.h"
#include "LmUpdateStore.h"
#include "RegistrationActions.h"
#include "SystemLog.h"
#include "UpdateRun.h"
#include "Utils.h"
#include "io/File.h"

namespace {

constexpr char kTryHelp[] = "try 'LmUpdate --help' for more information";

void printLine(const String& text) {
    std::fwrite(text.data(), 1, static_cast<size_t>(text.length()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

// A decimal option: fallback when absent; false for an empty value or one
// that is not a number.
bool numberOption(const CmdLine& cmd, const char* name, int fallback, int& out) {
    String text;
    if (!cmd.getOption(name, text)) {
        out = fallback;
        return true;
    }
    try {
        out = parseNumber(text, 10);
        return !text.isEmpty();
    } catch (const Exception&) {
        return false;
    }
}

// Creates one state file when it is missing; false when that failed.
bool createIfMissing(const char* relative, int (*create)()) {
    if (File(installPath(relative)).exists()) {
        return true;
    }
    if (create() != 0) {
        return false;
    }
    printLine(String("created: ") + relative);
    return true;
}

int initAction(const ActionRequest&) {
    File(installPath("conf")).mkdirs();
    bool ok = createIfMissing(kInventoryFile, createDefaultInventory);
    ok = createIfMissing(kPartialFilesFile, createPartialFilesFile) && ok;
    ok = createIfMissing(kDelayPackagesFile, createDelayPackagesFile) && ok;
    return ok ? 0 : 1;
}

int productAction(const ActionRequest& request, bool full, int (*action)(const LmProduct&)) {
    LmProduct product;
    if (!parseProductArgs(request.options, product, full)) {
        printLine(kTryHelp);
        return kUsageError;
    }
    return action(product);
}

int registerProductAction(const ActionRequest& request) {
    return productAction(request, true, registerAction);
}

int deregisterProductAction(const ActionRequest& request) {
    return productAction(request, false, deregisterAction);
}

int listAction(const ActionRequest& request) {
    int id = 0;
    if (!numberOption(request.options, "id", 0, id)) {
        printLine(kTryHelp);
        return kUsageError;
    }
    return listProducts(id);
}

int productVersionAction(const ActionRequest& request) {
    if (request.value.isEmpty()) {
        printLine(kTryHelp);
        return kUsageError;
    }
    return printProductVersion(request.value);
}

// A session of its own for one server action, downloading where asked.
int sessionAction(const ActionRequest& request, int (LmUpdateClient::*action)()) {
    LmUpdateClient client;
    if (!request.downloadDir.isEmpty()) {
        client.setDownloadDir(request.downloadDir);
    }
    return (client.*action)();
}

int pingAction(const ActionRequest& request) {
    return sessionAction(request, &LmUpdateClient::ping);
}

int verifyAction(const ActionRequest& request) {
    return sessionAction(request, &LmUpdateClient::verify);
}

// The pacing options shared by --update and --firmware.
bool pacingOptions(const CmdLine& cmd, int& throttleKB, int& pauseSeconds) {
    return numberOption(cmd, "throttle", 0, throttleKB) &&
           numberOption(cmd, "pause", 0, pauseSeconds);
}

// True when word is one of the listed action words (ignoring case).
bool isOneOf(const String& word, std::initializer_list<const char*> words) {
    for (const char* candidate : words) {
        if (word.equalsIgnoreCase(candidate)) {
            return true;
        }
    }
    return false;
}

int updateAction(const ActionRequest& request) {
    int id = 0;
    int throttleKB = 0;
    int pauseSeconds = 0;
    if (!request.options.hasOption("id") || !numberOption(request.options, "id", 0, id) ||
        !pacingOptions(request.options, throttleKB, pauseSeconds)) {
        printLine(kTryHelp);
        return kUsageError;
    }
    int plainDownload = request.options.hasOption("plain") ? 1 : 0;
    return runUpdate(id, plainDownload, throttleKB, pauseSeconds, request.downloadDir);
}

int delayAction(const ActionRequest& request) {
    int id = 0;
    if (!isOneOf(request.value, {"install", "status", "remove"}) ||
        !numberOption(request.options, "id", 0, id)) {
        printLine(kTryHelp);
        return kUsageError;
    }
    String action = request.value;
    int removeFiles = request.options.hasOption("keep-files") ? 0 : 1;
    return delayPackageAction(id, action, removeFiles);
}

int firmwareCommandAction(const ActionRequest& request) {
    int throttleKB = 0;
    int pauseSeconds = 0;
    if (!isOneOf(request.value, {"get_update_info", "update"}) ||
        !pacingOptions(request.options, throttleKB, pauseSeconds)) {
        printLine(kTryHelp);
        return kUsageError;
    }
    String argument;
    request.options.getOption("arg", argument);
    return firmwareAction(request.value, argument, throttleKB, pauseSeconds, request.downloadDir);
}

const ActionSpec kActions[] = {
    // name, reads the inventory, talks to servers, handler
    {"init", false, false, initAction},
    {"update", true, true, updateAction},
    {"delay", true, false, delayAction},
    {"firmware", true, true, firmwareCommandAction},
    {"register", true, false, registerProductAction},
    {"deregister", true, false, deregisterProductAction},
    {"list", true, false, listAction},
    {"product-version", true, false, productVersionAction},
    {"ping", false, true, pingAction},
    {"verify", true, true, verifyAction},
};

// Options of the actions and the global options.
const char* const kOtherOptions[] = {
    "download-dir",   "verbose",      "h",          "help",   "id",   "plain",
    "throttle",       "pause",        "keep-files", "arg",    "name", "desc",
    "lang-code",      "oem",          "serialno",   "parent", "path", "version",
    "version-status", "version-desc",
};

const ActionSpec* findAction(const String& name) {
    for (const ActionSpec& action : kActions) {
        if (name == action.name) {
            return &action;
        }
    }
    return nullptr;
}

bool isKnownOption(const String& name) {
    if (findAction(name) != nullptr) {
        return true;
    }
    for (const char* option : kOtherOptions) {
        if (name == option) {
            return true;
        }
    }
    return false;
}

// Binds the process-wide store to the inventory; false (after printing
// why) when the file cannot be opened. An unparsable file is left for the
// action to report.
bool bindInventory() {
    try {
        LmUpdateStore::instance().load(installPath(kInventoryFile));
        return true;
    } catch (const Exception& e) {
        printLine("LmUpdate: cannot read inventory: " + e.getMessage());
        return false;
    }
}

// The core reports settings it cannot use; nothing to do here.
void loadNetworkSettings() {
    try {
        LmNetConfig::getInstance().load(installPath("conf/network.xml").c_str());
    } catch (const Exception&) {
    }
}

}  // namespace

int LmUpdateCommand::run() {
    cmd_.parse();
    if (cmd_.hasOption("h") || cmd_.hasOption("help")) {
        usage();
        return 0;
    }
    if (cmd_.hasOption("verbose")) {
        SystemLog::setEcho(true);
    }
    const ActionSpec* action = selectAction();
    if (action == nullptr) {
        printLine(kTryHelp);
        return kUsageError;
    }
    return runAction(*action);
}

const ActionSpec* LmUpdateCommand::selectAction() const {
    const ActionSpec* selected = nullptr;
    for (const String& name : cmd_.getNames()) {
        if (!isKnownOption(name)) {
            return nullptr;
        }
        const ActionSpec* action = findAction(name);
        if (action != nullptr) {
            if (selected != nullptr) {
                return nullptr;
            }
            selected = action;
        }
    }
    return selected;
}

bool LmUpdateCommand::checkDownloadDir(String& downloadDir) const {
    if (!cmd_.getOption("download-dir", downloadDir)) {
        return true;
    }
    if (downloadDir.isEmpty() || !File(downloadDir).exists()) {
        printLine("LmUpdate: invalid download directory: " + downloadDir);
        return false;
    }
    return true;
}

int LmUpdateCommand::runAction(const ActionSpec& action) {
    ActionRequest request{cmd_, action.name, String(), String()};
    cmd_.getOption(action.name, request.value);
    if (!checkDownloadDir(request.downloadDir)) {
        return kUsageError;
    }
    if (action.readsInventory && !bindInventory()) {
        return 1;
    }
    if (action.talksToServers) {
        loadNetworkSettings();
    }
    return action.handler(request);
}

void LmUpdateCommand::usage() {
    static const char* const kLines[] = {
        "Usage: LmUpdate <action> [options...]",
        "--init                          Create missing inventory and state files",
        "--update                        Update the product given by --id",
        "--delay <install/status/remove> Install, show or remove the deferred packages",
        "--firmware <get_update_info/update> Ask for, or download, firmware",
        "--register                      Register a product (product options below)",
        "--deregister                    Deregister the product given by --id and --name",
        "--list                          List the installed products (one with --id)",
        "--product-version <id>          Print the installed version of a product",
        "--ping                          Check that an update server answers",
        "--verify                        Verify this appliance with the update server",
        "  --id <id>                     Product id",
        "  --plain                       Download over plain HTTP (--update)",
        "  --throttle <KiB>              Pause after every <KiB> received",
        "  --pause <seconds>             Length of each pause (0: no pacing)",
        "  --keep-files                  Keep the package files (--delay remove)",
        "  --arg <text>                  Product id or firmware version (--firmware)",
        "  --name <name>                 Product name (--register, --deregister)",
        "  --path <dir>                  Install path of the product (--register)",
        "  --version <version>           Product version (--register)",
        "  --version-status <word>       Release status of the version (--register)",
        "  --version-desc <text>         Release description of the version (--register)",
        "  --desc <text>                 Product description (--register)",
        "  --lang-code <code>            Language code (--register)",
        "  --oem <tag>                   OEM tag (--register)",
        "  --serialno <serial>           Serial number (--register)",
        "  --parent <ids>                Parent product ids, a,b,... (--register)",
        "--download-dir <path>           Existing directory for the downloads",
        "--verbose                       Copy the system log lines to standard error",
        "-h/--help                       This help text",
    };
    for (const char* line : kLines) {
        printLine(line);
    }
}
