#include "LmUpdateCommand.h"

#include <initializer_list>
#include <iterator>

#include "LmUpdateCore.h"
#include "SystemLog.h"
#include "Utils.h"

namespace {

constexpr char kTryHelp[] = "try 'LmUpdate --help' for more information";

// A decimal option: fallback when absent; false for an empty value or one
// that is not a number.
bool numberOption(const CmdLine& cmd, const char* name, int fallback, int& out) {
    String text;
    if (!cmd.getOption(name, text)) {
        out = fallback;
        return true;
    }
    return tryParseNumber(text, out) && !text.isEmpty();
}

int initAction(const ActionRequest&) {
    return initStateFiles();
}

int productAction(const ActionRequest& request, bool full, int (*action)(const LmProduct&)) {
    LmProduct product;
    if (!parseProductArgs(request.options, product, full)) {
        writeLineToStandardOutput(kTryHelp);
        return ResultCode::kUsageError;
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
        writeLineToStandardOutput(kTryHelp);
        return ResultCode::kUsageError;
    }
    return listProducts(id, request.options.hasOption("ids") ? ListForm::kIds : ListForm::kListing);
}

int productVersionAction(const ActionRequest& request) {
    if (request.value.isEmpty()) {
        writeLineToStandardOutput(kTryHelp);
        return ResultCode::kUsageError;
    }
    return printProductVersion(request.value);
}

int pingAction(const ActionRequest&) {
    return pingServers();
}

int verifyAction(const ActionRequest&) {
    return verifyAppliance();
}

int lastRunAction(const ActionRequest& request) {
    return showLastRun(request.options.hasOption("json"));
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
    int seedCacheMiB = 0;
    if (!request.options.hasOption("id") || !numberOption(request.options, "id", 0, id) ||
        !pacingOptions(request.options, throttleKB, pauseSeconds) ||
        !numberOption(request.options, "seed-cache", kDefaultSeedCacheMiB, seedCacheMiB) ||
        seedCacheMiB < 0) {
        writeLineToStandardOutput(kTryHelp);
        return ResultCode::kUsageError;
    }
    int plainDownload = request.options.hasOption("plain") ? 1 : 0;
    return runUpdate(id, plainDownload, throttleKB, pauseSeconds, request.downloadDir, seedCacheMiB,
                     request.options.hasOption("retry-now"));
}

int delayAction(const ActionRequest& request) {
    int id = 0;
    if (!isOneOf(request.value, {"install", "status", "remove"}) ||
        !numberOption(request.options, "id", 0, id)) {
        writeLineToStandardOutput(kTryHelp);
        return ResultCode::kUsageError;
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
        writeLineToStandardOutput(kTryHelp);
        return ResultCode::kUsageError;
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
    {"last-run", false, false, lastRunAction},
};

// Options of the actions and the global options.
const char* const kOtherOptions[] = {
    "download-dir",   "verbose",      "h",          "help",       "id",        "plain",
    "throttle",       "pause",        "keep-files", "arg",        "name",      "desc",
    "lang-code",      "oem",          "serialno",   "parent",     "path",      "version",
    "version-status", "version-desc", "ids",        "seed-cache", "retry-now", "json",
    "metrics-file",   "log-format",
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

}  // namespace

int LmUpdateCommand::run() {
    cmd_.parse();
    if (cmd_.hasOption("h") || cmd_.hasOption("help")) {
        usage();
        return ResultCode::kOk;
    }
    if (cmd_.hasOption("verbose")) {
        SystemLog::setEcho(true);
    }
    if (!chooseLogFormat()) {
        writeLineToStandardOutput(kTryHelp);
        return ResultCode::kUsageError;
    }
    const ActionSpec* action = selectAction();
    if (action == nullptr) {
        writeLineToStandardOutput(kTryHelp);
        return ResultCode::kUsageError;
    }
    return runAction(*action);
}

bool LmUpdateCommand::chooseLogFormat() const {
    String format;
    if (!cmd_.getOption("log-format", format)) {
        return true;
    }
    if (!isOneOf(format, {"plain", "journal"})) {
        writeLineToStandardOutput("LmUpdate: invalid log format: " + format);
        return false;
    }
    SystemLog::setFormat(format.equalsIgnoreCase("journal") ? LogFormat::kJournal
                                                            : LogFormat::kPlain);
    return true;
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
    return acceptDownloadDir(downloadDir);
}

int LmUpdateCommand::runAction(const ActionSpec& action) {
    ActionRequest request{cmd_, action.name, String(), String()};
    cmd_.getOption(action.name, request.value);
    if (!checkDownloadDir(request.downloadDir)) {
        return ResultCode::kUsageError;
    }
    String metricsFile;
    if (cmd_.getOption("metrics-file", metricsFile)) {
        setMetricsFile(metricsFile);
    }
    if (action.readsInventory && !bindInventory()) {
        return ResultCode::kInventoryUnreadable;
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
        "--last-run [--json]             Show the last run's report (--json: the document)",
        "  --id <id>                     Product id",
        "  --ids                         Print only the product ids, one a line (--list)",
        "  --plain                       Download over plain HTTP (--update)",
        "  --throttle <KiB>              Pause after every <KiB> received",
        "  --pause <seconds>             Length of each pause (0: no pacing)",
        "  --seed-cache <MiB>            Cap of the kept package files (--update; 0 empties)",
        "  --retry-now                   Fetch packages that failed earlier at once (--update)",
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
        "--metrics-file <path>           Write the run's metrics there (node_exporter textfile)",
        "--log-format <plain/journal>    Standard error lines with <N> priorities (journal)",
        "-h/--help                       This help text",
    };
    for (const char* line : kLines) {
        writeLineToStandardOutput(line);
    }
}
