#pragma once

#include <memory>

#include "NetworkSettings.h"
#include "String.h"

class HttpConnection;

// What kind of connection a request needs.
enum class ConnectionKind {
    kSession,   // HTTP for protocol "http", else HTTPS
    kPlain,     // always HTTP
    kDownload,  // like kSession, but HTTP for a --plain run
    kSecure,    // always HTTPS (an absolute https URL)
};

// Makes the connections of a run from the process-wide network settings,
// and the URLs the session requests go to.
class ConnectionFactory {
public:
    explicit ConnectionFactory(bool plainDownload) : plainDownload_(plainDownload) {}

    // A new connection configured from the network settings, or null when
    // they cannot be read or hold no server. Every HTTPS connection is
    // verified as the settings say; serverEntry names the server in what a
    // failed check reports (its host and port when empty).
    std::unique_ptr<HttpConnection> open(ConnectionKind kind,
                                         const String& serverEntry = String()) const;

    // getSettings of the process-wide settings; false (and out partly
    // filled) when there are none or no server.
    static bool readSettings(NetworkSettings& out);
    // The same, logging "LmUpdate: read server settings failed" when false.
    static bool readSettingsOrLog(NetworkSettings& out);

    static bool isHttp(const NetworkSettings& settings);
    // The read time-out of the settings' connections.
    static int timeoutMs(const NetworkSettings& settings);
    // "http://host" or "https://host" by the settings' protocol.
    static String baseUrl(const NetworkSettings& settings, const String& host);
    // baseUrl + path for the session requests, after logging the
    // "Connecting to ..." line.
    static String sessionUrl(const NetworkSettings& settings, const String& host, const char* path);

private:
    bool plainDownload_;
};
