#include "session/ConnectionFactory.h"

#include "LmNetConfig.h"
#include "net/HttpConnection.h"
#include "report/Report.h"
#include "session/VerifiedHttpsConnection.h"

namespace {

constexpr int kDefaultTimeoutMs = 120000;

// An HTTPS connection, checking the server as the settings say; failures
// name the server as serverEntry.
std::unique_ptr<HttpConnection> newSecureConnection(const String& serverEntry) {
    auto connection =
        std::make_unique<VerifiedHttpsConnection>(LmNetConfig::getInstance().getVerification());
    connection->setServerEntry(serverEntry);
    return connection;
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
    connection.setTimeout(ConnectionFactory::timeoutMs(settings));
}

}  // namespace

int ConnectionFactory::timeoutMs(const NetworkSettings& settings) {
    return settings.timeout > 0 ? settings.timeout * 1000 : kDefaultTimeoutMs;
}

std::unique_ptr<HttpConnection> ConnectionFactory::open(ConnectionKind kind,
                                                        const String& serverEntry) const {
    NetworkSettings settings;
    if (!readSettings(settings)) {
        return nullptr;
    }
    bool plain = kind == ConnectionKind::kPlain ||
                 (kind != ConnectionKind::kSecure &&
                  (isHttp(settings) || (kind == ConnectionKind::kDownload && plainDownload_)));
    std::unique_ptr<HttpConnection> connection =
        plain ? std::make_unique<HttpConnection>() : newSecureConnection(serverEntry);
    configureConnection(*connection, settings);
    return connection;
}

bool ConnectionFactory::readSettings(NetworkSettings& out) {
    return LmNetConfig::getInstance().getSettings(out) >= 1;
}

bool ConnectionFactory::readSettingsOrLog(NetworkSettings& out) {
    if (readSettings(out)) {
        return true;
    }
    logError("LmUpdate: read server settings failed");
    return false;
}

bool ConnectionFactory::isHttp(const NetworkSettings& settings) {
    return settings.type.equalsIgnoreCase("http");
}

String ConnectionFactory::baseUrl(const NetworkSettings& settings, const String& host) {
    return String(isHttp(settings) ? "http" : "https") + "://" + host;
}

String ConnectionFactory::sessionUrl(const NetworkSettings& settings, const String& host,
                                     const char* path) {
    if (isHttp(settings)) {
        log("Connecting to " + host + "...");
    } else {
        log("Connecting to " + host + " via secure connection...");
    }
    return baseUrl(settings, host) + path;
}
