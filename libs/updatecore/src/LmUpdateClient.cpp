#include "LmUpdateClient.h"

#include <unistd.h>

#include <algorithm>

#include "CoreHelpers.h"
#include "Exception.h"
#include "InstallRoot.h"
#include "LmNetConfig.h"
#include "LmUpdateParser.h"
#include "LmUpdateStore.h"
#include "MD5.h"
#include "ProgressReporter.h"
#include "SystemLog.h"
#include "Utils.h"
#include "VerifiedHttpsConnection.h"
#include "io/File.h"
#include "io/FileInputStream.h"
#include "io/FileOutputStream.h"
#include "net/HttpConnection.h"
#include "net/HttpRequest.h"
#include "net/HttpResponse.h"
#include "net/HttpsConnection.h"
#include "net/URL.h"

namespace {

constexpr const char kSource[] = "LmUpdateClient";
constexpr int kChunk = 1024;
constexpr int kDefaultTimeoutMs = 120000;

// How a transport failure message maps to the session's error names and
// the ping result codes, tested in this order by the message's beginning.
struct TransportError {
    const char* prefix;
    const char* name;
    int code;
};
constexpr TransportError kTransportErrors[] = {
    {"EC_INVALID_HOST", "EC_LMUPDATE_INVALID_HOST", -20},
    {"EC_PROXY_FAILED", "EC_LMUPDATE_PROXY_FAILED", -21},
    {"EC_CONNECT_REFUSED", "EC_LMUPDATE_CONNECT_REFUSED", -22},
    {"EC_CONNECT_TIMEOUT", "EC_LMUPDATE_CONNECT_TIMEOUT", -23},
    {"EC_READ_FAILED", "EC_LMUPDATE_READ_FAILED", -24},
    {"EC_READ_TIMEOUT", "EC_LMUPDATE_READ_TIMEOUT", -25},
    {"EC_WRITE_FAILED", "EC_LMUPDATE_WRITE_FAILED", -26},
    {"EC_WRITE_TIMEOUT", "EC_LMUPDATE_WRITE_TIMEOUT", -27},
    {"EC_CONNECT_FAILED", "EC_LMUPDATE_CONNECT_FAILED", -28},
};
constexpr int kUnknownFailureCode = -9;
// A refused connection through a proxy is the proxy's failure.
constexpr const TransportError& kProxyFailed = kTransportErrors[1];
constexpr const TransportError& kConnectRefused = kTransportErrors[2];

const TransportError* findTransportError(const String& message, const NetworkSettings& settings) {
    for (const TransportError& error : kTransportErrors) {
        if (message.startsWith(error.prefix)) {
            bool viaProxy = settings.isUsingProxy.equalsIgnoreCase("1");
            return (&error == &kConnectRefused && viaProxy) ? &kProxyFailed : &error;
        }
    }
    return nullptr;
}

void log(const String& line) {
    SystemLog::write(line);
}

// "Download <name> (<received> of <size>)"
String downloadLine(const String& name, int32_t received, int32_t size) {
    return "Download " + name + " (" + decimalText(received) + " of " + decimalText(size) + ")";
}

bool isHttp(const NetworkSettings& settings) {
    return settings.type.equalsIgnoreCase("http");
}

// "http://host" or "https://host" by the settings' protocol.
String baseUrl(const NetworkSettings& settings, const String& host) {
    return String(isHttp(settings) ? "http" : "https") + "://" + host;
}

void addTextHeader(HttpRequest& request, const char* name, const String& value) {
    request.getHeaders().addHeader(name, value);
}

// Headers every request to an update server carries.
void addCommonHeaders(HttpRequest& request, const NetworkSettings& settings) {
    addTextHeader(request, "X-Lm-Content-Compression", "deflate");
    addTextHeader(request, "X-Lm-Update-MAC", settings.mac);
}

void closeQuietly(HttpConnection* connection) {
    if (connection == nullptr) {
        return;
    }
    try {
        connection->close();
    } catch (const Exception&) {
        // Nothing more can go wrong with a connection that is being dropped.
    }
}

// An HTTPS connection, checking the server as the settings say.
std::unique_ptr<HttpConnection> newSecureConnection() {
    return std::make_unique<VerifiedHttpsConnection>(LmNetConfig::getInstance().getVerification());
}

// Proxy, credentials and time-out from the settings.
void configureConnection(HttpConnection& connection, const NetworkSettings& settings) {
    if (settings.isUsingProxy == "1") {
        if (!settings.proxyHost.isEmpty()) {
            connection.setProxy(settings.proxyHost, settings.proxyPort);
        }
        if (!settings.proxyUser.isEmpty()) {
            connection.setProxyCredentials(settings.proxyUser, settings.proxyPass);
        }
    }
    if (!settings.user.isEmpty()) {
        connection.setServerCredentials(settings.user, settings.pass);
    }
    connection.setTimeout(settings.timeout > 0 ? settings.timeout * 1000 : kDefaultTimeoutMs);
}

bool containsIgnoreCase(const Vector<LmServer>& servers, const String& host) {
    for (int i = 0; i < servers.size(); ++i) {
        if (servers[i].equalsIgnoreCase(host)) {
            return true;
        }
    }
    return false;
}

// The entry of a parent-id list as a product id; a text that does not
// parse is logged and gives -1.
int32_t readParentId(const String& entry) {
    try {
        return parseNumber(entry, 10);
    } catch (const Exception& e) {
        log(e.getMessage());
        return -1;
    }
}

String replaceAll(const String& text, char from, char to) {
    std::string copy = text.str();
    std::replace(copy.begin(), copy.end(), from, to);
    return String(std::move(copy));
}

String productDirectory(const String& downloadDir, long id) {
    return downloadDir + "/" + decimalText(id);
}

void removeProductDirectory(const String& downloadDir, long id) {
    File(productDirectory(downloadDir, id)).deleteRecursively();
}

// The deferred packages, or an empty list when they cannot be read.
Vector<LmPackageInfo> readDelayedPackages() {
    Vector<LmPackageInfo> delayed;
    try {
        LmUpdateParser parser;
        FileInputStream in(installPath(kDelayPackagesFile));
        parser.parse(in);
        parser.readPackageInfoList(delayed, false);
    } catch (const Exception& e) {
        log("LmUpdate: get packages info failed before downloading package file: " +
            e.getMessage());
        delayed.removeAll();
    }
    return delayed;
}

bool isDelayed(const LmPackageInfo& package) {
    Vector<LmPackageInfo> delayed = readDelayedPackages();
    for (int i = 0; i < delayed.size(); ++i) {
        if (delayed[i].url == package.url && delayed[i].md5 == package.md5) {
            return true;
        }
    }
    return false;
}

// The file name cannot leave the package directory.
bool isSafeFileName(const String& name) {
    return !name.isEmpty() && name != "." && name != "..";
}

// Whether a broken-off download of product id may be kept for a resume.
bool mayKeepPartialFile(long id, int32_t size) {
    bool forbidden = false;
    try {
        LmUpdateStore store;
        store.load(installPath(kPartialConfigFile));
        SizeLimit limit;
        store.getSizeLimit(limit);
        log("partail minsize: " + decimalText(limit.minSize));
        bool listed = false;
        for (int i = 0; i < limit.ids.size(); ++i) {
            log("partail id: " + decimalText(limit.ids[i]));
            listed = listed || limit.ids[i] == id;
        }
        forbidden = listed || size < limit.minSize;
    } catch (const Exception&) {
        forbidden = false;
    }
    log(String("partail result: ").append(forbidden));
    return !forbidden;
}

// The partial-files store, created empty when the file is missing.
bool loadPartialFiles(LmUpdateStore& store) {
    String path = installPath(kPartialFilesFile);
    try {
        if (!File(path).exists() && createPartialFilesFile() != 0) {
            return false;
        }
        return store.load(path);
    } catch (const Exception& e) {
        log(e.getMessage());
        return false;
    }
}

}  // namespace

LmUpdateClient::LmUpdateClient() = default;

LmUpdateClient::~LmUpdateClient() = default;

int LmUpdateClient::setDownloadDir(const String& path) {
    if (path.isEmpty() || !File(path).exists()) {
        return -1;
    }
    downloadDir_ = path;
    return 0;
}

// ---------------------------------------------------------------------------
// Shared steps

bool LmUpdateClient::readSettings(NetworkSettings& out) {
    return LmNetConfig::getInstance().getSettings(out) >= 1;
}

bool LmUpdateClient::readSettingsOrLog(NetworkSettings& out) {
    if (readSettings(out)) {
        return true;
    }
    log("LmUpdate: read server settings failed");
    return false;
}

Vector<String> LmUpdateClient::serversToTry(const NetworkSettings& settings) const {
    if (serverOverride_.size() > 0) {
        return serverOverride_;
    }
    Vector<String> servers;
    for (int i = 0; i < settings.servers.size(); ++i) {
        servers.add(settings.servers[i]);
    }
    return servers;
}

String LmUpdateClient::sessionUrl(const NetworkSettings& settings, const String& host,
                                  const char* path) {
    if (isHttp(settings)) {
        log("Connecting to " + host + "...");
    } else {
        log("Connecting to " + host + " via secure connection...");
    }
    return baseUrl(settings, host) + path;
}

bool LmUpdateClient::readBody(HttpResponse& response, String& body) {
    InputStream* in = response.getBody();
    int length = response.getContentLength();
    if (in == nullptr) {
        return false;
    }
    if (length > kMaxBodyInMemory) {
        log("LmUpdate: response body too large: " + decimalText(length) + " bytes");
        return false;
    }
    char buffer[kChunk];
    for (int total = 0;;) {
        int want = length > 0 ? std::min(kChunk, length - total) : kChunk;
        int n = want > 0 ? in->read(buffer, want) : 0;
        if (n <= 0) {
            return true;
        }
        total += n;
        if (total > kMaxBodyInMemory) {
            log("LmUpdate: response body too large: more than " + decimalText(kMaxBodyInMemory) +
                " bytes");
            return false;
        }
        body.append(buffer, n);
    }
}

String LmUpdateClient::errorNameFor(const String& message, const NetworkSettings& settings) {
    const TransportError* error = findTransportError(message, settings);
    return error ? String(error->name) : String();
}

int LmUpdateClient::errorCodeFor(const String& message, const NetworkSettings& settings) {
    const TransportError* error = findTransportError(message, settings);
    return error ? error->code : kUnknownFailureCode;
}

void LmUpdateClient::logExchange(const HttpRequest& request, const HttpResponse& response) {
    log(request.getRequestText());
    log(response.getText());
}

void LmUpdateClient::reportError(const String& name) {
    log(name);
    writeToStandardOutput(name + "\n");
}

// ---------------------------------------------------------------------------
// Connections

std::unique_ptr<HttpConnection> LmUpdateClient::openConnection(int kind) {
    NetworkSettings settings;
    if (!readSettings(settings)) {
        return nullptr;
    }
    bool plain = isHttp(settings) || kind == kPlainConnection ||
                 (kind == kDownloadConnection && plainDownload_ == 1);
    std::unique_ptr<HttpConnection> connection =
        plain ? std::make_unique<HttpConnection>() : newSecureConnection();
    configureConnection(*connection, settings);
    return connection;
}

// ---------------------------------------------------------------------------
// Product identification

bool LmUpdateClient::lookupProductHeaders(int32_t& id, String& version, String& serial) {
    LmUpdateStore& inventory = LmUpdateStore::instance();
    LmProduct product;
    if (!inventory.findProduct(id, product)) {
        return false;
    }
    version = product.version.version;
    serial = product.info.serialNo;
    if (!serial.isEmpty() || product.info.parent.isEmpty()) {
        return true;
    }
    Vector<String> parents;
    product.info.parent.split(",", parents);
    for (int i = 0; i < parents.size(); ++i) {
        int32_t parentId = readParentId(parents[i]);
        LmProduct parent;
        if (parentId >= 0 && inventory.findProduct(parentId, parent) &&
            !parent.info.serialNo.isEmpty()) {
            id = parentId;
            serial = parent.info.serialNo;
            version = parent.version.version;
            break;
        }
    }
    return true;
}

void LmUpdateClient::addProductHeaders(HttpRequest& request, int32_t id, bool useFoundId) {
    int32_t foundId = id;
    String version;
    String serial;
    if (!lookupProductHeaders(foundId, version, serial)) {
        return;
    }
    request.getHeaders().addIntHeader("X-Lm-Update-ProductId", useFoundId ? foundId : id);
    addTextHeader(request, "X-Lm-Update-ProductVersion", version);
    addTextHeader(request, "X-Lm-Update-SerialNo", serial);
}

void LmUpdateClient::addDownloadHeaders(HttpRequest& request, const NetworkSettings& settings,
                                        const String& sessionId, int32_t id) {
    addCommonHeaders(request, settings);
    addTextHeader(request, "X-Lm-Update-SessionID", sessionId);
    addProductHeaders(request, id, false);
}

// ---------------------------------------------------------------------------
// Update request and response

bool LmUpdateClient::requestUpdate(int32_t id, String& body) {
    ProgressReporter::reportRequest(id);
    NetworkSettings settings;
    if (!readSettingsOrLog(settings)) {
        reportError("EC_LMUPDATE_BAD_CONFIG");
        return false;
    }
    Vector<String> servers = serversToTry(settings);
    for (int i = 0; i < servers.size(); ++i) {
        Attempt attempt = requestUpdateFrom(id, settings, servers[i], body);
        if (attempt != Attempt::kNextServer) {
            return attempt == Attempt::kAnswered;
        }
    }
    return false;
}

LmUpdateClient::Attempt LmUpdateClient::requestUpdateFrom(int32_t id,
                                                          const NetworkSettings& settings,
                                                          const String& host, String& body) {
    std::unique_ptr<HttpConnection> connection;
    try {
        connection = openConnection(kSessionConnection);
        HttpRequest request;
        if (!buildUpdateRequest(id, settings, host, request)) {
            return Attempt::kStop;
        }
        Answer answer = exchangeForAnswer(connection.get(), request, host, body);
        return takeUpdateAnswer(answer, body);
    } catch (const Exception& e) {
        closeQuietly(connection.get());
        log("Connecting to " + host + " failed: " + e.getMessage());
        String name = errorNameFor(e.getMessage(), settings);
        if (!name.isEmpty()) {
            reportError(name);
        }
        return Attempt::kNextServer;
    }
}

bool LmUpdateClient::buildUpdateRequest(int32_t id, const NetworkSettings& settings,
                                        const String& host, HttpRequest& request) {
    bool self = id == kSelfProductId;
    request.setURL(URL(sessionUrl(settings, host, self ? "/lm-self-update" : "/lm-update")));
    if (!setDocumentRequest(
            request, id,
            self ? "X-Lm-Self-Update-Protocol-Version" : "X-Lm-Update-Protocol-Version",
            settings)) {
        reportError("EC_LMUPDATE_BAD_CONFIG");
        return false;
    }
    return true;
}

bool LmUpdateClient::setDocumentRequest(HttpRequest& request, int32_t id, const char* versionHeader,
                                        const NetworkSettings& settings) {
    addTextHeader(request, versionHeader, "1.0");
    addTextHeader(request, "X-Lm-Update-MAC", settings.mac);
    String document;
    if (!LmUpdateStore::instance().buildRequest(id, document)) {
        log("Cannot obtain product data for request");
        return false;
    }
    request.setMethod("POST");
    addTextHeader(request, "X-Lm-Content-Compression", "deflate");
    request.setPostData(document);
    log("Update Request: ");
    log(document);
    return true;
}

LmUpdateClient::Answer LmUpdateClient::exchangeForAnswer(HttpConnection* connection,
                                                         HttpRequest& request, const String& host,
                                                         String& body) {
    HttpResponse response;
    if (connection == nullptr || !connection->sendAndReceive(request, response)) {
        log("Connecting to " + host + " failed");
        return Answer::kNotSent;
    }
    logExchange(request, response);
    log("Processing update list");
    httpStatus_ = response.getStatus();
    if (httpStatus_ != 200) {
        log("LmUpdate: http response: " + decimalText(httpStatus_));
        return Answer::kBadStatus;
    }
    body.clear();
    if (response.getBody() == nullptr) {
        log("LmUpdate: no data is available in response");
        return Answer::kNoBody;
    }
    if (!readBody(response, body)) {
        body.clear();
        return Answer::kNoBody;
    }
    connection->close();
    return Answer::kBody;
}

LmUpdateClient::Attempt LmUpdateClient::takeUpdateAnswer(Answer answer, const String& body) {
    switch (answer) {
        case Answer::kBody:
            log("Update response:");
            log(body);
            return Attempt::kAnswered;
        case Answer::kBadStatus:
            log("EC_LMUPDATE_UPDATE_ERROR");
            writeToStandardOutput("EC_LMUPDATE_UPDATE_ERROR");
            return Attempt::kNextServer;
        case Answer::kNotSent:
        case Answer::kNoBody:
            break;
    }
    reportError("EC_LMUPDATE_CONNECT_ERROR");
    return Attempt::kNextServer;
}

int LmUpdateClient::handleResponse(const String& body) {
    LmUpdateParser parser;
    if (!parser.parse(body)) {
        log("LmUpdate: invalid update response format: " + body);
        return -1;
    }
    int code = resultCodeOf(parser, {"LmSelfUpdateResponse", "LmUpdateResponse"});
    switch (code) {
        case 200:
        case 500:
            return code;
        case 201:
            parser.readPackageInfoList(packages_, false);
            return code;
        case 210:
        case 211:
            serverOverride_.removeAll();
            parser.readServerList(serverOverride_);
            return handleRedirect(code);
        default:
            return -1;
    }
}

int LmUpdateClient::resultCodeOf(const LmUpdateParser& parser,
                                 std::initializer_list<const char*> roots) {
    String root = parser.rootName();
    if (std::none_of(roots.begin(), roots.end(),
                     [&](const char* name) { return root.equalsIgnoreCase(name); })) {
        log("LmUpdate: Unknown update response type: " + root);
        return -1;
    }
    int code = parser.getResultCode();
    if (code < 0) {
        log("LmUpdate: no result code available in response");
        return -1;
    }
    return code;
}

// 210 also puts the new servers first in the stored settings.
int LmUpdateClient::handleRedirect(int code) {
    if (code != 210) {
        return code;
    }
    NetworkSettings settings;
    readSettings(settings);
    for (int i = 0; i < serverOverride_.size(); ++i) {
        if (!containsIgnoreCase(settings.servers, serverOverride_[i])) {
            settings.servers.insertAt(LmServer(serverOverride_[i]), 0);
        }
    }
    LmNetConfig::getInstance().storeSettings(settings);
    return code;
}

int LmUpdateClient::update(int32_t id, int plainDownload, int throttleKB, int pauseSeconds) {
    serverOverride_.removeAll();
    packages_.removeAll();
    plainDownload_ = plainDownload;
    setPacing(throttleKB, pauseSeconds);
    for (int redirects = 0;; ++redirects) {
        String body;
        if (!requestUpdate(id, body)) {
            return -1;
        }
        int code = handleResponse(body);
        if (code == 201) {
            int good = downloadPackages();
            return good > 0 ? good : -1;
        }
        if (code != 210 && code != 211) {
            log(id == kSelfProductId ? "Torvane LmUpdate is up-to-date"
                                     : "Torvane products and components are up-to-date");
            return 0;
        }
        if (redirects == kMaxRedirects) {
            log("LmUpdate: too many redirects");
            reportError("EC_LMUPDATE_UPDATE_ERROR");
            return -1;
        }
        log("Redirect to new update server");
    }
}

// ---------------------------------------------------------------------------
// Ping and verify

int LmUpdateClient::ping() {
    NetworkSettings settings;
    if (!readSettingsOrLog(settings)) {
        return -2;
    }
    Vector<String> servers = serversToTry(settings);
    for (int i = 0; i < servers.size(); ++i) {
        const String& host = servers[i];
        std::unique_ptr<HttpConnection> connection;
        try {
            connection = openConnection(kSessionConnection);
            HttpRequest request(URL(sessionUrl(settings, host, "/control?act=ping")));
            addCommonHeaders(request, settings);
            HttpResponse response;
            if (connection == nullptr || !connection->sendAndReceive(request, response)) {
                log("Connecting to " + host + " failed");
                continue;
            }
            logExchange(request, response);
            httpStatus_ = response.getStatus();
            String body;
            if (response.getBody() != nullptr && readBody(response, body)) {
                writeToStandardOutput(body);
                connection->close();
                return 0;
            }
        } catch (const Exception& e) {
            closeQuietly(connection.get());
            log("Connecting to " + host + " failed: " + e.getMessage());
            return errorCodeFor(e.getMessage(), settings);
        }
    }
    return -28;
}

int LmUpdateClient::verify() {
    NetworkSettings settings;
    if (!readSettingsOrLog(settings)) {
        return -2;
    }
    Vector<String> servers = serversToTry(settings);
    for (int i = 0; i < servers.size(); ++i) {
        std::unique_ptr<HttpConnection> connection;
        try {
            connection = openConnection(kSessionConnection);
            if (connection == nullptr) {
                continue;
            }
            connection->setKeepAlive(false);
            HttpRequest request(URL(baseUrl(settings, servers[i]) + "/lm-verify"));
            addCommonHeaders(request, settings);
            addProductHeaders(request, kSelfProductId, true);
            HttpResponse response;
            if (!connection->sendAndReceive(request, response)) {
                continue;
            }
            logExchange(request, response);
            httpStatus_ = response.getStatus();
            connection->close();
            if (httpStatus_ == 200 || httpStatus_ == 401) {
                return httpStatus_ == 200 ? 0 : -8;
            }
        } catch (const Exception& e) {
            closeQuietly(connection.get());
            log(e.getMessage());
        }
    }
    return -9;
}

// ---------------------------------------------------------------------------
// Package download

String LmUpdateClient::packageDirectory(const LmPackageInfo& package) const {
    return productDirectory(downloadDir_, package.product.id) + "/" +
           replaceAll(package.version.version, '.', '_');
}

String LmUpdateClient::packageFileName(const String& url) {
    int slash = url.lastIndexOf('/');
    return slash < 0 ? url : url.substring(slash + 1);
}

String LmUpdateClient::md5Hex(const String& path) {
    String digest;
    if (!MD5::fileDigest(path, digest)) {
        return String();
    }
    return digest.toLowerCase();
}

int LmUpdateClient::downloadPackages() {
    log("Start to download and install your updates");
    int good = 0;
    for (int i = 0; i < packages_.size(); ++i) {
        if (downloadPackage(packages_[i])) {
            ++good;
        }
    }
    return good;
}

bool LmUpdateClient::downloadPackage(LmPackageInfo& package) {
    if (isDelayed(package)) {
        log("EC_LMUPDATE_DELAY_PACKAGE");
        return false;
    }
    String fileName = packageFileName(package.url);
    if (!isSafeFileName(fileName)) {
        log("LmUpdate: invalid package file name in url: " + package.url);
        reportError("EC_LMUPDATE_PACKAGE_ERROR");
        return false;
    }
    String directory = packageDirectory(package);
    File dir(directory);
    if (!dir.mkdirs() && !dir.isDirectory()) {
        log("LmUpdate: cannot create download path: " + directory);
        return false;
    }
    package.path = directory;
    package.file = fileName;
    String localFile = directory + "/" + fileName;
    if (!downloadFile(package.product.id, package.product.desc, package.url, localFile,
                      package.size)) {
        log("LmUpdate: downloading file failed: " + package.url);
        reportError("EC_LMUPDATE_UPDATE_ERROR");
        discardDownload(package, localFile);
        return false;
    }
    return acceptPackage(package, localFile);
}

// A failed package starts from scratch next time: its product's download
// directory goes. A package of the same product accepted earlier in this run
// keeps its file for the installer, so then only the failed file goes.
void LmUpdateClient::discardDownload(const LmPackageInfo& failed, const String& localFile) {
    for (int i = 0; i < packages_.size(); ++i) {
        if (packages_[i].downloadResult == 1 && packages_[i].product.id == failed.product.id) {
            File file(localFile);
            if (file.isFile()) {
                file.remove();
            }
            return;
        }
    }
    removeProductDirectory(downloadDir_, failed.product.id);
}

bool LmUpdateClient::acceptPackage(LmPackageInfo& package, const String& localFile) {
    long length = File(localFile).length();
    if (length < 0) {
        discardDownload(package, localFile);
        return false;
    }
    if (length != package.size) {
        return false;  // kept for a later resume
    }
    log("LmUpdate: checking md5");
    String digest = md5Hex(localFile);
    log("LmUpdate: md5: " + digest);
    if (digest.isEmpty() || !digest.equalsIgnoreCase(package.md5)) {
        log("LmUpdate: invalid md5 in downloading file: " + package.url);
        log("EC_LMUPDATE_PACKAGE_ERROR");
        discardDownload(package, localFile);
        return false;
    }
    LmProduct installed;
    if (LmUpdateStore::instance().findProduct(package.product.id, installed)) {
        package.product.installPath = installed.info.installPath;
    }
    package.downloadResult = 1;
    return true;
}

bool LmUpdateClient::downloadFile(long id, const String& name, const String& url,
                                  const String& localFile, int32_t size) {
    log("==" + decimalText(id) + name + url + localFile + decimalText(size));
    NetworkSettings settings;
    if (!readSettingsOrLog(settings)) {
        return false;
    }
    Vector<String> servers = serversToTry(settings);
    for (int i = 0; i < servers.size(); ++i) {
        Download outcome = downloadFrom(id, name, url, localFile, size, settings, servers[i]);
        if (outcome != Download::kNextServer) {
            return outcome == Download::kStored || outcome == Download::kBrokeOff;
        }
    }
    return false;
}

LmUpdateClient::Answer LmUpdateClient::fetchSessionId(const NetworkSettings& settings,
                                                      const String& host, const String& url,
                                                      String& sessionId) {
    auto connection = openConnection(kSessionConnection);
    if (connection == nullptr) {
        return Answer::kNotSent;
    }
    connection->setKeepAlive(false);
    HttpRequest request(URL(sessionUrl(settings, host, "/lm-sessionid")));
    addTextHeader(request, "X-Lm-Update-Protocol-Version", "1.0");
    addTextHeader(request, "X-Lm-Update-URL", url);
    addTextHeader(request, "X-Lm-Update-MAC", settings.mac);
    HttpResponse response;
    if (!connection->sendAndReceive(request, response)) {
        return Answer::kNotSent;
    }
    httpStatus_ = response.getStatus();
    if (httpStatus_ != 200) {
        return Answer::kBadStatus;
    }
    if (response.getBody() == nullptr) {
        log("LmUpdate: no data is available in response");
        return Answer::kNoBody;
    }
    if (!readBody(response, sessionId)) {
        return Answer::kNoBody;
    }
    connection->close();
    return Answer::kBody;
}

namespace {

String downloadUrl(const NetworkSettings& settings, int plainDownload, const String& host,
                   const String& url) {
    if (url.startsWith("http")) {
        return url;
    }
    bool plain = isHttp(settings) || plainDownload == 1;
    return String(plain ? "http" : "https") + "://" + host + "/lm-download?path=" + url;
}

}  // namespace

int32_t LmUpdateClient::checkResume(long id, const String& url, const String& localFile,
                                    int32_t size) {
    LmUpdateStore store;
    LmPartialFileInfo record;
    if (!loadPartialFiles(store) || !store.getPartialFile(static_cast<int32_t>(id), record)) {
        return -1;
    }
    log("find in  LMUPDATE_PARTIAL_FILE");
    String path = replaceAll(record.path, '$', '/');
    bool matches = record.url == url && record.size == size && path.endsWith(localFile) &&
                   record.actualSize > 0 && record.actualSize < size &&
                   File(record.path).length() == record.actualSize;
    store.removePartialFile(static_cast<int32_t>(id));
    if (!matches) {
        log("info in LMUPDATE_PARTIAL_FILE did not match real one " + record.path);
        File stale(record.path);
        if (stale.isFile()) {
            stale.remove();
        }
        return -1;
    }
    return record.actualSize;
}

void LmUpdateClient::keepPartialFile(long id, const String& url, const String& localFile,
                                     int32_t size) {
    bool mayKeep = mayKeepPartialFile(id, size);
    long length = File(localFile).length();
    if (length <= 0 || !mayKeep) {
        return;
    }
    LmPartialFileInfo record;
    record.productID = static_cast<int32_t>(id);
    record.url = url;
    record.path = localFile;
    record.size = size;
    record.actualSize = static_cast<int32_t>(length);
    LmUpdateStore store;
    if (loadPartialFiles(store) && store.setPartialFile(record.productID, record)) {
        log("save  PartialFilesInfo: " + localFile + ") success");
    }
}

LmUpdateClient::Download LmUpdateClient::downloadFrom(long id, const String& name,
                                                      const String& url, const String& localFile,
                                                      int32_t size, const NetworkSettings& settings,
                                                      const String& host) {
    std::unique_ptr<HttpConnection> connection;
    try {
        String sessionId;
        if (plainDownload_ == 1 &&
            fetchSessionId(settings, host, url, sessionId) != Answer::kBody) {
            return Download::kGiveUp;
        }
        connection = openConnection(kDownloadConnection);
        if (connection == nullptr) {
            return Download::kNextServer;
        }
        connection->setKeepAlive(false);
        HttpRequest request(URL(downloadUrl(settings, plainDownload_, host, url)));
        addDownloadHeaders(request, settings, sessionId, static_cast<int32_t>(id));
        int32_t resumeFrom = checkResume(id, url, localFile, size);
        if (resumeFrom > 0) {
            addTextHeader(request, "Range", "bytes=" + decimalText(resumeFrom) + "-");
        }
        HttpResponse response;
        if (!connection->sendAndReceive(request, response)) {
            return Download::kNextServer;
        }
        logExchange(request, response);
        httpStatus_ = response.getStatus();
        return receiveFile(*connection, response, id, name, localFile, size, resumeFrom);
    } catch (const Exception& e) {
        closeQuietly(connection.get());
        keepPartialFile(id, url, localFile, size);
        log(e.getMessage());
        String errorName = errorNameFor(e.getMessage(), settings);
        if (!errorName.isEmpty()) {
            reportError(errorName);
        }
        return Download::kBrokeOff;
    }
}

LmUpdateClient::Download LmUpdateClient::receiveFile(HttpConnection& connection,
                                                     HttpResponse& response, long id,
                                                     const String& name, const String& localFile,
                                                     int32_t size, int32_t resumeFrom) {
    int status = response.getStatus();
    if (status == 200) {
        return receiveBody(connection, response, id, name, localFile, size, 0);
    }
    if (status == 206 && resumeFrom > 0) {
        log("enter partial download!!!");
        return receiveBody(connection, response, id, name, localFile, size, resumeFrom);
    }
    log("Download '" + name + (status == 401 ? "' unauthorized" : "' not found"));
    log("Download '" + name + "' failed with code " + decimalText(status));
    return Download::kNextServer;
}

LmUpdateClient::Download LmUpdateClient::receiveBody(HttpConnection& connection,
                                                     HttpResponse& response, long id,
                                                     const String& name, const String& localFile,
                                                     int32_t size, int32_t from) {
    if (static_cast<long>(response.getContentLength()) + from != size) {
        log("LmUpdate: invalid file length in response");
        return Download::kNextServer;
    }
    log(downloadLine(name, from, size));
    FileOutputStream out(localFile,
                         from > 0 ? FileOutputStream::kAppend : FileOutputStream::kTruncate);
    InputStream* body = response.getBody();
    if (body == nullptr) {
        return Download::kNextServer;
    }
    if (from > 0) {
        ProgressReporter::reportDownloadProgress(id, from, size);
    } else {
        ProgressReporter::reportDownloadStart(id, size);
    }
    int32_t received = transferBody(*body, out, from, size, name, [id, size](int32_t done) {
        ProgressReporter::reportDownloadProgress(id, done, size);
    });
    out.close();
    connection.close();
    if (received != size) {
        throw Exception("file size is incorrect", kSource, __LINE__);
    }
    return Download::kStored;
}

int32_t LmUpdateClient::transferBody(InputStream& body, OutputStream& out, int32_t received,
                                     int32_t size, const String& name,
                                     const std::function<void(int32_t)>& progress) {
    TransferCounters counters;
    char buffer[kChunk];
    // Never past the announced size: a server that keeps sending must not
    // fill the disk.
    while (received < size) {
        int n = body.read(buffer, std::min<int32_t>(kChunk, size - received));
        if (n <= 0) {
            break;
        }
        received += n;
        out.write(buffer, n);
        reportStep(counters, received, size, progress);
        logPercentage(counters, received, size, name);
        pace(counters, n);
    }
    return received;
}

void LmUpdateClient::reportStep(TransferCounters& counters, int32_t received, int32_t size,
                                const std::function<void(int32_t)>& progress) const {
    if (counters.steps < static_cast<int64_t>(received) * 20 / size) {
        progress(received);
        ++counters.steps;
    }
}

void LmUpdateClient::logPercentage(TransferCounters& counters, int32_t received, int32_t size,
                                   const String& name) const {
    auto percent = static_cast<int32_t>(static_cast<int64_t>(received) * 100 / size);
    if (percent != counters.percent) {
        log(downloadLine(name, received, size));
        counters.percent = percent;
    }
}

void LmUpdateClient::pace(TransferCounters& counters, int chunk) const {
    counters.sincePause += chunk;
    int64_t allowance = static_cast<int64_t>(throttleKB_) * 1024;
    if (counters.sincePause > allowance) {
        counters.sincePause -= allowance;
        if (pauseSeconds_ > 0) {
            ::sleep(static_cast<unsigned>(pauseSeconds_));
        }
    }
}
