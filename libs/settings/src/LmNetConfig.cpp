#include "LmNetConfig.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "Base64.h"
#include "Budget.h"
#include "Exception.h"
#include "Utils.h"
#include "io/AtomicFileWriter.h"
#include "io/File.h"
#include "io/FileInputStream.h"
#include "xml/XMLFactory.h"
#include "xml/XMLNode.h"

namespace {

constexpr const char kSource[] = "LmNetConfig";
constexpr const char kServerList[] = "/ServerList";
constexpr const char kServerVerify[] = "/ServerVerify";
constexpr const char kCertParameter[] = "ssl.server.cert";
constexpr const char kVerifyParameter[] = "ssl.verify";
constexpr const char kVerifyParameterPath[] = "/ServerVerify/Param";
constexpr const char kBudgetElement[] = "Budget";
constexpr const char kBudget[] = "/Budget";
constexpr const char kBudgetAttribute[] = "mibPerDay";

[[noreturn]] void failErrno(const String& path, int line) {
    throw IOException(path + ": " + strerror(errno), kSource, line);
}

// Opens path for reading without waiting for a writer when it is a FIFO:
// one without a writer then reads as empty instead of blocking this run,
// and every later one behind the lock, for good.
int openForReading(const String& path) {
    int fd = -1;
    do {
        fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        failErrno(path, __LINE__);
    }
    int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) < 0) {
        int error = errno;
        ::close(fd);
        errno = error;
        failErrno(path, __LINE__);
    }
    return fd;
}

// A decimal number from the file; anything unreadable counts as 0.
int readNumber(const String& text) {
    try {
        return parseNumber(text, 10);
    } catch (const Exception&) {
        return 0;
    }
}

// "name:secret" split at its first ":" at or after position `from`; the
// secret is taken only when something follows the ":".
void splitCredentials(const String& decoded, int from, String& name, String& secret) {
    int colon = decoded.indexOf(':');
    if (colon < from) {
        return;
    }
    name = decoded.substring(0, colon);
    if (colon + 1 < decoded.length()) {
        secret = decoded.substring(colon + 1);
    }
}

void readHosts(const XMLNode& list, Vector<LmServer>& out) {
    String host;
    for (int i = 0; i < list.getChildCount(); ++i) {
        if (list.getChild(i)->getAttribute("host", host)) {
            out.add(LmServer(host));
        }
    }
}

String proxyText(const NetworkSettings& settings) {
    if (settings.proxyHost.isEmpty() && settings.proxyPort == -1) {
        return String();
    }
    return String(settings.proxyHost).append(':').append(settings.proxyPort);
}

String credentialsText(const NetworkSettings& settings) {
    if (settings.proxyUser.isEmpty() && settings.proxyPass.isEmpty()) {
        return String();
    }
    return Base64::encode(settings.proxyUser + ":" + settings.proxyPass);
}

String orDefault(const String& value, const char* fallback) {
    return value.isEmpty() ? String(fallback) : value;
}

}  // namespace

LmNetConfig& LmNetConfig::getInstance() {
    static LmNetConfig instance;
    return instance;
}

int LmNetConfig::load(const char* path) {
    if (path == nullptr || *path == '\0') {
        return 0;
    }
    // Opened before the path is adopted, so that a file that cannot be
    // opened never makes a later save write this document elsewhere.
    FileInputStream in(openForReading(path));
    path_ = path;
    try {
        return parser_.parse(in) ? 1 : 0;
    } catch (const IOException& e) {
        // A read error (a directory, a device failing) names the file too.
        throw IOException(path_ + ": " + e.getMessage(), kSource, __LINE__);
    }
}

bool LmNetConfig::isLoaded() const {
    return parser_.isParsed();
}

int LmNetConfig::save() {
    lastSaveSucceeded_ = false;
    try {
        if (path_.isEmpty()) {
            throw IOException("no settings file is loaded", kSource, __LINE__);
        }
        writeDocument(path_, parser_.getTree());
        FileInputStream in(path_);
        parser_.parse(in);
    } catch (const IOException& e) {
        String message = "LmUpdate: store network settings failed: " + e.getMessage();
        std::fwrite(message.data(), 1, static_cast<size_t>(message.length()), stdout);
        return 0;
    }
    lastSaveSucceeded_ = true;
    return 1;
}

void LmNetConfig::writeDocument(const String& path, const XMLTree& tree) {
    String text;
    tree.toString(text);
    // Bytes that XML cannot carry (control characters, broken UTF-8) would
    // make the file unreadable and lose every setting on the next load.
    if (!newXMLParser()->parse(text)) {
        throw IOException(path + ": a value holds characters that cannot be stored", kSource,
                          __LINE__);
    }
    // Replaced whole, so that a failed save keeps the settings there were.
    AtomicFileWriter out(path);
    out.forceMode(0600);  // the file holds the proxy and server credentials
    out.write(text);
    out.commit();
}

bool LmNetConfig::hasNode(const char* path) const {
    return parser_.getTree().getNode(path) != nullptr;
}

int LmNetConfig::getSettings(NetworkSettings& out) {
    out.servers.removeAll();
    out.originalServers.removeAll();
    out.user = out.pass = out.proxyHost = out.proxyPass = out.proxyUser = String();
    std::unique_ptr<XMLNode> serverList;
    if (isLoaded()) {
        serverList = parser_.getTree().getNode(kServerList);
    }
    if (!serverList) {
        return -1;
    }
    readServerListAttributes(out);
    readHosts(*serverList, out.servers);
    if (auto original = parser_.getTree().getNode("/OriginalServerList")) {
        readHosts(*original, out.originalServers);
    }
    if (out.originalServers.isEmpty()) {
        out.originalServers = out.servers;
    }
    return out.servers.size();
}

void LmNetConfig::readServerListAttributes(NetworkSettings& out) const {
    const XMLTree& tree = parser_.getTree();
    String value;
    if (tree.getAttribute(kServerList, "mac", value) && !value.isEmpty()) {
        out.mac = value;
    }
    tree.getAttribute(kServerList, "type", value);
    out.type = orDefault(value, "https");
    tree.getAttribute(kServerList, "isUsingProxy", value);
    out.isUsingProxy = orDefault(value, "0");
    out.proxyPort = 0;
    tree.getAttribute(kServerList, "proxy", value);
    int colon = value.indexOf(':');
    out.proxyHost = colon < 0 ? value : value.substring(0, colon);
    if (colon >= 0) {
        out.proxyPort = readNumber(value.substring(colon + 1));
    }
    tree.getAttribute(kServerList, "proxyuser", value);
    splitCredentials(Base64::decode(value), 0, out.proxyUser, out.proxyPass);
    tree.getAttribute(kServerList, "user", value);
    splitCredentials(Base64::decode(value), 1, out.user, out.pass);
    tree.getAttribute(kServerList, "timeout", value);
    out.timeout = readNumber(value);
}

int LmNetConfig::storeSettings(const NetworkSettings& settings) {
    if (settings.servers.isEmpty() || !isLoaded() || !hasNode(kServerList)) {
        return 0;
    }
    removeChildren(kServerList);
    writeServerListAttributes(settings);
    replaceServers(settings.servers);
    save();
    return 1;
}

void LmNetConfig::removeChildren(const char* path) {
    while (parser_.getTree().removeNode(path, String(), 0)) {
    }
}

void LmNetConfig::writeServerListAttributes(const NetworkSettings& settings) {
    XMLTree& tree = parser_.getTree();
    tree.setAttribute(kServerList, "type", orDefault(settings.type, "https"));
    tree.setAttribute(kServerList, "isUsingProxy", orDefault(settings.isUsingProxy, "0"));
    tree.setAttribute(kServerList, "proxy", proxyText(settings));
    tree.setAttribute(kServerList, "proxyuser", credentialsText(settings));
    tree.setAttribute(kServerList, "timeout", String().append(settings.timeout));
}

void LmNetConfig::replaceServers(const Vector<LmServer>& servers) {
    XMLTree& tree = parser_.getTree();
    for (int i = 0; i < servers.size(); ++i) {
        tree.addNode(kServerList, "Server");
        tree.setAttribute("/ServerList/Server", "host", servers[i], i);
    }
}

int LmNetConfig::getServerVerify(CertLocation& out) {
    out.directory = out.file = String();
    std::unique_ptr<XMLNode> verify;
    if (isLoaded()) {
        verify = parser_.getTree().getNode(kServerVerify);
    }
    if (!verify) {
        return -1;
    }
    String name;
    String value;
    for (int i = 0; i < verify->getChildCount(); ++i) {
        std::unique_ptr<XMLNode> parameter = verify->getChild(i);
        parameter->getAttribute("name", name);
        parameter->getAttribute("value", value);
        if (name.isEmpty() || value.isEmpty()) {
            continue;
        }
        if (name.equalsIgnoreCase(kCertParameter)) {
            out.file = value;
            return 1;
        }
    }
    return -1;
}

CertLocation LmNetConfig::getVerification() {
    CertLocation location;
    std::unique_ptr<XMLNode> verify;
    if (isLoaded()) {
        verify = parser_.getTree().getNode(kServerVerify);
    }
    for (int i = 0; verify && i < verify->getChildCount(); ++i) {
        String name;
        String value;
        std::unique_ptr<XMLNode> parameter = verify->getChild(i);
        parameter->getAttribute("name", name);
        if (name.equalsIgnoreCase(kVerifyParameter) && parameter->getAttribute("value", value)) {
            bool off = value.equalsIgnoreCase("none");
            location.mode = off ? CertLocation::Mode::kNone : CertLocation::Mode::kInvalid;
            location.invalidValue = off ? String() : value;
            return location;
        }
    }
    if (getServerVerify(location) > 0) {
        location.mode = CertLocation::Mode::kPath;
    }
    return location;
}

void LmNetConfig::removeVerifyParameters() {
    XMLTree& tree = parser_.getTree();
    for (const char* name : {kCertParameter, kVerifyParameter}) {
        while (tree.removeNodeByAttribute(kServerVerify, -1, "name", name)) {
        }
    }
}

void LmNetConfig::addVerifyParameter(const char* name, const String& value) {
    XMLTree& tree = parser_.getTree();
    std::unique_ptr<XMLNode> verify = tree.getNode(kServerVerify);
    int index = 0;
    for (int i = 0; verify && i < verify->getChildCount(); ++i) {
        index += verify->getChild(i)->getName().equalsIgnoreCase("Param") ? 1 : 0;
    }
    tree.addNode(kServerVerify, "Param");
    tree.setAttribute(kVerifyParameterPath, "name", name, index);
    tree.setAttribute(kVerifyParameterPath, "value", value, index);
}

bool LmNetConfig::changeVerification(const CertLocation& location) {
    bool storable = location.mode == CertLocation::Mode::kSystem ||
                    location.mode == CertLocation::Mode::kNone ||
                    (location.mode == CertLocation::Mode::kPath && !location.file.isEmpty());
    if (!isLoaded() || !storable) {
        return false;
    }
    if (!hasNode(kServerVerify) && location.mode != CertLocation::Mode::kSystem) {
        parser_.getTree().addNode("/", "ServerVerify");
    }
    removeVerifyParameters();
    if (location.mode == CertLocation::Mode::kNone) {
        addVerifyParameter(kVerifyParameter, "none");
    } else if (location.mode == CertLocation::Mode::kPath) {
        addVerifyParameter(kCertParameter, location.file);
    }
    return true;
}

int LmNetConfig::setVerification(const CertLocation& location) {
    if (!changeVerification(location)) {
        return 0;
    }
    save();
    return 1;
}

int LmNetConfig::setServerVerify(const CertLocation& location) {
    if (location.file.isEmpty() || !isLoaded()) {
        return 0;
    }
    String certPath = orDefault(location.directory, ".") + "/" + location.file;
    if (!File(certPath).exists()) {
        return 0;
    }
    XMLTree& tree = parser_.getTree();
    if (hasNode(kServerVerify)) {
        removeChildren(kServerVerify);
    } else {
        tree.addNode("/", "ServerVerify");
    }
    addVerifyParameter(kCertParameter, certPath);
    save();
    return 1;
}

int LmNetConfig::getBudget() {
    if (!isLoaded() || !hasNode(kBudget)) {
        return 0;
    }
    String value;
    parser_.getTree().getAttribute(kBudget, kBudgetAttribute, value);
    return parseBudget(value).value_or(-1);
}

bool LmNetConfig::changeBudget(int mibPerDay) {
    bool storable = mibPerDay == 0 || (mibPerDay >= kMinBudgetMiB && mibPerDay <= kMaxBudgetMiB);
    if (!isLoaded() || !storable) {
        return false;
    }
    XMLTree& tree = parser_.getTree();
    if (mibPerDay == 0) {
        while (tree.removeNode("/", kBudgetElement)) {
        }
    } else {
        if (!hasNode(kBudget)) {
            tree.addNode("/", kBudgetElement);
        }
        tree.setAttribute(kBudget, kBudgetAttribute, String().append(mibPerDay));
    }
    return true;
}

int LmNetConfig::setBudget(int mibPerDay) {
    if (!changeBudget(mibPerDay)) {
        return 0;
    }
    save();
    return 1;
}
