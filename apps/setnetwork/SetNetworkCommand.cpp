#include "SetNetworkCommand.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <memory>
#include <optional>

#include "Budget.h"
#include "Exception.h"
#include "FileLock.h"
#include "HostValidator.h"
#include "InstallRoot.h"
#include "LmNetConfig.h"
#include "SigningKeyLocation.h"
#include "SystemLog.h"
#include "Utils.h"
#include "io/File.h"
#include "xml/XMLFactory.h"

namespace {

constexpr const char kLockFile[] = "tmp/network.lock";
constexpr int kDefaultTimeout = 180;

using namespace SetNetworkStatus;

// Values are printed as bytes, never interpreted.
void print(const String& text) {
    std::fwrite(text.data(), 1, static_cast<size_t>(text.length()), stdout);
}

void printLine(const String& text) {
    print(text);
    std::fputc('\n', stdout);
}

bool isSetMode(const CmdLine& cmdLine) {
    return cmdLine.hasOption("S") || cmdLine.hasOption("set");
}

// Reads a decimal number; false when the text is not one.
bool readDecimal(const String& text, int& number) {
    try {
        number = parseNumber(text, 10);
        return true;
    } catch (const Exception&) {
        return false;
    }
}

// Each check handles one option: false (after printing why) rejects it.
bool checkServer(const CmdLine& cmdLine, NetworkSettings& options) {
    String value;
    if (!cmdLine.getOption("server", value)) {
        return true;
    }
    if (value.isEmpty()) {
        printLine("LmUpdate: no server host is specified!");
        return false;
    }
    Vector<String> hosts;
    value.split(",", hosts);
    for (const String& given : hosts) {
        String host = HostValidator::withBrackets(given);
        if (!HostValidator::isValid(host)) {
            printLine("LmUpdate: invalid server host: '" + given + "'");
            return false;
        }
        options.servers.add(LmServer(host));
    }
    return true;
}

// The proxy's port has an option of its own, so the host takes none. An
// empty value removes the proxy host.
bool checkProxyHost(const CmdLine& cmdLine, NetworkSettings& options) {
    String value;
    if (!cmdLine.getOption("proxyserver", value)) {
        return true;
    }
    String host = HostValidator::withBrackets(value);
    if (!host.isEmpty() && !HostValidator::isValid(host, false)) {
        printLine("LmUpdate: invalid proxyserver: '" + value + "'");
        return false;
    }
    options.proxyHost = host;
    return true;
}

// system, none, or an existing file or directory, stored as its absolute
// real path.
bool checkTlsVerify(const CmdLine& cmdLine) {
    TlsVerifyOption& option = tlsVerifyOption();
    option.given = cmdLine.getOption("tls-verify", option.value);
    if (!option.given) {
        return true;
    }
    const String& value = option.value;
    option.location = CertLocation();
    if (value.isEmpty()) {
        printLine("LmUpdate: no verify mode is specified!");
        return false;
    }
    if (value == "none") {
        option.location.mode = CertLocation::Mode::kNone;
        return true;
    }
    if (value == "system") {
        return true;
    }
    char resolved[PATH_MAX];
    if (::realpath(value.c_str(), resolved) == nullptr) {
        printLine("LmUpdate: invalid verify value: '" + value + "'");
        return false;
    }
    option.location.mode = CertLocation::Mode::kPath;
    option.location.file = resolved;
    return true;
}

// "--budget -5" reads as --budget without a value and an option "5": a
// negative number, not a missing one.
bool negativeBudget(const CmdLine& cmdLine) {
    const Vector<String>& names = cmdLine.getNames();
    for (int i = 0; i + 1 < names.size(); ++i) {
        if (names[i] == "budget") {
            const String& next = names[i + 1];
            return !next.isEmpty() &&
                   next.view().find_first_not_of("0123456789") == std::string_view::npos;
        }
    }
    return false;
}

// A number of MiB per day, read strictly, or off.
bool checkBudget(const CmdLine& cmdLine) {
    BudgetOption& option = budgetOption();
    String value;
    option.given = cmdLine.getOption("budget", value);
    if (!option.given) {
        return true;
    }
    if (value.isEmpty() && !negativeBudget(cmdLine)) {
        printLine("LmUpdate: no budget is specified!");
        return false;
    }
    std::optional<int> mibPerDay = value == "off" ? std::optional<int>(0) : parseBudget(value);
    if (!mibPerDay) {
        printLine("LmUpdate: invalid budget is specified!");
        return false;
    }
    option.mibPerDay = *mibPerDay;
    return true;
}

// An option that takes one of two words; `label` names it in messages.
struct Choice {
    const char* option;
    const char* label;
    const char* words[2];
    bool ignoreCase;
};

constexpr Choice kTypeChoice{"type", "protocol type", {"http", "https"}, true};
constexpr Choice kProxyUsageChoice{"isUsingProxy", "isUsingProxy", {"1", "0"}, false};

bool checkChoice(const CmdLine& cmdLine, const Choice& choice, String& field) {
    String value;
    if (!cmdLine.getOption(choice.option, value)) {
        return true;
    }
    if (value.isEmpty()) {
        printLine(String("LmUpdate: no ") + choice.label + " is specified!");
        return false;
    }
    for (const char* word : choice.words) {
        if (choice.ignoreCase ? value.equalsIgnoreCase(word) : value == word) {
            field = value;  // as typed, case kept
            return true;
        }
    }
    printLine(String("LmUpdate: unsupported ") + choice.label + ": '" + value + "'");
    return false;
}

// Options that take any value, also an empty one.
void takeFreeText(const CmdLine& cmdLine, const char* name, String& field) {
    String value;
    if (cmdLine.getOption(name, value)) {
        field = value;
    }
}

bool checkProxyPort(const CmdLine& cmdLine, NetworkSettings& options) {
    String value;
    if (!cmdLine.getOption("proxyport", value) || value.isEmpty()) {
        return true;
    }
    int port = 0;
    // Beyond the port range would be stored as a text that reads back as
    // another port.
    if (!readDecimal(value, port) || port < 0 || port > 65535) {
        printLine("LmUpdate: invalid proxyport is specified!");
        return false;
    }
    options.proxyPort = port;
    return true;
}

bool checkTimeout(const CmdLine& cmdLine, NetworkSettings& options) {
    String value;
    if (!cmdLine.getOption("timeout", value)) {
        return true;
    }
    if (value.isEmpty()) {
        printLine("LmUpdate: no connection timeout is specified!");
        return false;
    }
    int seconds = 0;
    if (!readDecimal(value, seconds) || seconds < 0) {
        printLine("LmUpdate: invalid connection timeout is specified!");
        return false;
    }
    options.timeout = seconds;
    return true;
}

String orDefault(const String& value, const char* fallback) {
    return value.isEmpty() ? String(fallback) : value;
}

String joined(const Vector<LmServer>& servers) {
    String text;
    for (int i = 0; i < servers.size(); ++i) {
        if (i > 0) {
            text.append(',');
        }
        text.append(servers[i]);
    }
    return text;
}

// Why storeSettings stored nothing: no server to store, or a document
// without the element that holds the settings.
String nothingStoredReason(const NetworkSettings& settings) {
    if (settings.servers.isEmpty()) {
        return "no update server is configured";
    }
    return "no server list in " + LmNetConfig::getInstance().getPath();
}

// Stores the record: kOk after printing message, or kFileError
// when nothing was stored.
int storeAndReport(const NetworkSettings& settings, const char* message) {
    LmNetConfig& config = LmNetConfig::getInstance();
    if (config.storeSettings(settings) == 0) {
        printLine("LmUpdate: network settings are not changed: " + nothingStoredReason(settings));
        return kFileError;
    }
    if (!config.lastSaveSucceeded()) {
        printLine("");  // the failure message ends without a newline
        return kFileError;
    }
    printLine(message);
    return kOk;
}

String settingsPath() {
    return installPath(LmNetConfig::kSettingsFile);
}

// Loads the settings file when it is there and not empty; false for a
// missing, empty or unparsable file. An I/O error goes to the caller.
bool loadSettingsIfUsable() {
    String path = settingsPath();
    File file(path);
    if (!file.exists() || file.length() == 0) {
        return false;
    }
    return LmNetConfig::getInstance().load(path.c_str()) != 0;
}

// The status of a setter of the settings store: kOk when it wrote the
// file, else kFileError.
int savedStatus(int stored) {
    if (stored == 0 || !LmNetConfig::getInstance().lastSaveSucceeded()) {
        printLine("");  // the failure message ends without a newline
        return kFileError;
    }
    return kOk;
}

// The settings kept outside the ServerList, each stored when given: kOk, or
// kFileError after a save failed.
int applySeparateSettings() {
    LmNetConfig& config = LmNetConfig::getInstance();
    const TlsVerifyOption& verify = tlsVerifyOption();
    if (verify.given && savedStatus(config.setVerification(verify.location)) != kOk) {
        return kFileError;
    }
    const BudgetOption& budget = budgetOption();
    if (budget.given && savedStatus(config.setBudget(budget.mibPerDay)) != kOk) {
        return kFileError;
    }
    return kOk;
}

// Whether only settings kept outside the ServerList are given with -S.
bool onlySeparateSettings(const CmdLine& cmdLine) {
    int given = (tlsVerifyOption().given ? 1 : 0) + (budgetOption().given ? 1 : 0);
    return given > 0 && cmdLine.getOptionCount() == 1 + given;
}

// The settings kept outside the ServerList put into the document for the
// save of the others, so that the file changes once: kOk, or kFileError
// when one cannot be stored (nothing is saved then).
int changeSeparateSettings() {
    LmNetConfig& config = LmNetConfig::getInstance();
    const TlsVerifyOption& verify = tlsVerifyOption();
    const BudgetOption& budget = budgetOption();
    if ((verify.given && !config.changeVerification(verify.location)) ||
        (budget.given && !config.changeBudget(budget.mibPerDay))) {
        return savedStatus(0);
    }
    return kOk;
}

// --tls-verify and --budget alone change only themselves; with other
// options those are stored as always, in the same save.
int storeOptions(const CmdLine& cmdLine) {
    if (onlySeparateSettings(cmdLine)) {
        int status = applySeparateSettings();
        if (status == kOk) {
            printLine("LmUpdate: network settings are changed");
        }
        return status;
    }
    int status = changeSeparateSettings();
    return status != kOk ? status : applySettings(false);
}

void warnUnauthenticated(const char* setting) {
    SystemLog::show(
        String("LmUpdate: warning: updates are not authenticated: no signing key and ") + setting,
        LogPriority::kWarning);
}

// Without a signing key nothing but the channel vouches for a package, so
// a setting that gives up the channel's check is pointed out on standard
// error (standard output and the status stay those of the store).
void warnIfUnauthenticated(const CmdLine& cmdLine) {
    if (!SigningKeyLocation::path().isEmpty()) {
        return;
    }
    String type;
    if (cmdLine.getOption("type", type) && type.equalsIgnoreCase("http")) {
        warnUnauthenticated("--type http");
    }
    const TlsVerifyOption& verify = tlsVerifyOption();
    if (verify.given && verify.location.mode == CertLocation::Mode::kNone) {
        warnUnauthenticated("--tls-verify none");
    }
}

int applyOptions(const CmdLine& cmdLine) {
    int status = storeOptions(cmdLine);
    if (status == kOk) {
        warnIfUnauthenticated(cmdLine);
    }
    return status;
}

int setMode(const CmdLine& cmdLine, bool loaded) {
    if (!checkOptions(cmdLine)) {
        return kOk;
    }
    if (loaded) {
        return applyOptions(cmdLine);
    }
    DefaultSettings created = createDefaultSettingsFile();
    if (created == DefaultSettings::kNotWritten) {
        return kFileError;
    }
    if (created == DefaultSettings::kNoTree) {
        return kOk;
    }
    try {
        if (LmNetConfig::getInstance().load(settingsPath().c_str()) == 0) {
            return kOk;
        }
    } catch (const IOException&) {
        return kNoSettings;
    }
    return applyOptions(cmdLine);
}

}  // namespace

const int kSetNetworkStatuses[] = {kOk, kFileError, kNoSettings, kBadCommandLine};
const int kSetNetworkStatusCount = static_cast<int>(std::size(kSetNetworkStatuses));

NetworkSettings& commandOptions() {
    static NetworkSettings options;
    return options;
}

TlsVerifyOption& tlsVerifyOption() {
    static TlsVerifyOption option;
    return option;
}

BudgetOption& budgetOption() {
    static BudgetOption option;
    return option;
}

bool parseCommandLine(CmdLine& cmdLine) {
    cmdLine.parse();
    if (isSetMode(cmdLine)) {
        return checkOptions(cmdLine);
    }
    if (cmdLine.hasOption("h") || cmdLine.hasOption("help")) {
        usage();
        return true;
    }
    return false;
}

void usage() {
    static const char* const kLines[] = {
        "Usage: SetNetwork [options...]",
        "-S/--set:                     Set network settings",
        "  --server <host1,host2,...>  Host names of update servers",
        "  --type <https/http>         Protocol type <Default type is https>",
        "  --isUsingProxy <1 yes/0 no> isUsingProxy <Default type is 0>",
        "  --proxyserver <proxyserver> proxy server",
        "  --proxyport <proxyport>     proxy port",
        "  --proxyuser <user>          Specify proxy user",
        "  --proxypass <password>      Specify proxy password",
        "  --timeout <seconds>         Maximum timeout allowed for connection",
        "  --tls-verify <system|none|path> Certificate check of update servers",
        "  --budget <MiB per day|off>  Daily byte budget for metered links",
        "-h/--help:                  This help text",
    };
    for (const char* line : kLines) {
        printLine(line);
    }
}

bool checkOptions(const CmdLine& cmdLine) {
    NetworkSettings& options = commandOptions();
    options.servers.removeAll();
    if (!checkServer(cmdLine, options) || !checkChoice(cmdLine, kTypeChoice, options.type) ||
        !checkChoice(cmdLine, kProxyUsageChoice, options.isUsingProxy)) {
        return false;
    }
    if (!checkProxyHost(cmdLine, options) || !checkProxyPort(cmdLine, options)) {
        return false;
    }
    takeFreeText(cmdLine, "proxyuser", options.proxyUser);
    takeFreeText(cmdLine, "proxypass", options.proxyPass);
    return checkTimeout(cmdLine, options) && checkTlsVerify(cmdLine) && checkBudget(cmdLine);
}

int printSettings() {
    NetworkSettings settings;
    LmNetConfig::getInstance().getSettings(settings);
    printLine("server:     " + joined(settings.originalServers));
    printLine("type:       " + orDefault(settings.type, "https"));
    printLine("isUsingProxy:      " + orDefault(settings.isUsingProxy, "0"));
    printLine("proxyserver:      " + settings.proxyHost);
    String port("proxyport:      ");
    if (settings.proxyPort > 0) {
        port.append("      ").append(settings.proxyPort);
    }
    printLine(port);
    printLine("proxyuser:  " + settings.proxyUser);
    printLine("proxypass:  " + settings.proxyPass);
    int timeout = settings.timeout < 1 ? kDefaultTimeout : settings.timeout;
    printLine(String("timeout:    ").append(timeout));
    int budget = LmNetConfig::getInstance().getBudget();
    if (budget > 0) {
        printLine(String("budget:     ").append(budget).append(" MiB/day"));
    }
    return kOk;
}

int applySettings(bool resetToDefaults) {
    NetworkSettings current;
    LmNetConfig::getInstance().getSettings(current);
    if (resetToDefaults) {
        current.user = current.pass = current.proxyHost = String();
        current.proxyPass = current.proxyUser = String();
        current.isUsingProxy = "0";
        current.type = "https";
        current.timeout = kDefaultTimeout;
        return storeAndReport(current,
                              "LmUpdate: network settings are changed to default settings");
    }
    // Only the servers and the time-out survive when not given; every other
    // setting comes from the command line or its default.
    NetworkSettings& options = commandOptions();
    if (options.servers.isEmpty()) {
        options.servers = current.servers;
    }
    if (options.timeout < 1) {
        options.timeout = current.timeout >= 1 ? current.timeout : kDefaultTimeout;
    }
    return storeAndReport(options, "LmUpdate: network settings are changed");
}

DefaultSettings createDefaultSettingsFile() {
    std::unique_ptr<XMLTree> tree = newXMLTree();
    if (!tree) {
        return DefaultSettings::kNoTree;
    }
    tree->createNode("LmNetClientSettings");
    tree->createNode("/ServerList");
    tree->setAttribute("/ServerList", "type", "https");
    tree->setAttribute("/ServerList", "isUsingProxy", "0");
    tree->setAttribute("/ServerList", "proxy", "");
    tree->setAttribute("/ServerList", "proxyuser", "");
    tree->setAttribute("/ServerList", "timeout", String().append(kDefaultTimeout));
    tree->addNode("/ServerList", "Server");
    tree->setAttribute("/ServerList/Server", "host", "");
    try {
        LmNetConfig::writeDocument(settingsPath(), *tree);
    } catch (const IOException& e) {
        printLine("LmUpdate: cannot create network settings file: " + e.getMessage());
        return DefaultSettings::kNotWritten;
    }
    return DefaultSettings::kWritten;
}

int setNetwork(int argc, const char* const* argv) {
    File(installRoot()).mkdirs();
    FileLock lock(installPath(kLockFile));
    lock.lock();  // a lock file that cannot be opened means: run unlocked
    CmdLine cmdLine(argc, argv);
    if (!parseCommandLine(cmdLine)) {
        printLine("try 'SetNetwork --help' for more information");
        return kBadCommandLine;
    }
    bool loaded = false;
    try {
        loaded = loadSettingsIfUsable();
    } catch (const IOException& e) {
        print(e.getMessage());
        return kFileError;
    }
    if (!isSetMode(cmdLine)) {
        return kOk;  // help
    }
    if (cmdLine.getOptionCount() == 1) {
        return loaded ? printSettings() : kNoSettings;
    }
    return setMode(cmdLine, loaded);
}
