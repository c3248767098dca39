#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>

#include "LmPackageInfo.h"
#include "NetworkSettings.h"
#include "String.h"
#include "Vector.h"

class Exception;
class HttpConnection;
class HttpRequest;
class HttpResponse;
class InputStream;
class LmUpdateParser;
class OutputStream;

// The update session: one object per command run that talks to the update
// servers, downloads the announced packages and verifies them.
//
// Calling order of one update run: construct, update(), then read
// getPackages() and getHttpStatus(). ping() and verify() stand alone.
class LmUpdateClient {
public:
    // What openConnection makes.
    enum ConnectionKind {
        kSessionConnection = 0,   // HTTP for protocol "http", else HTTPS (verified)
        kPlainConnection = 1,     // always HTTP
        kDownloadConnection = 2,  // like session, but HTTP when plainDownload is 1
    };

    // Product id of the update client itself: its requests are self-updates.
    static constexpr int32_t kSelfProductId = 1000;
    // Redirects (210/211) followed by one update() before it gives up.
    static constexpr int kMaxRedirects = 10;
    // Largest response body held in memory (update answer, ping, session id).
    static constexpr int kMaxBodyInMemory = 16 * 1024 * 1024;

    LmUpdateClient();
    virtual ~LmUpdateClient();
    LmUpdateClient(const LmUpdateClient&) = delete;
    LmUpdateClient& operator=(const LmUpdateClient&) = delete;

    // 0 when path names an existing entry (it becomes the download
    // directory), else -1 and nothing changes.
    int setDownloadDir(const String& path);

    // A new connection configured from the network settings, or null when
    // they cannot be read or hold no server.
    std::unique_ptr<HttpConnection> openConnection(int kind);

    // Version and serial number of product id from the process-wide
    // inventory; an empty serial borrows the first parent with one (id then
    // becomes that parent's). False, changing nothing, for an unknown id.
    bool lookupProductHeaders(int32_t& id, String& version, String& serial);

    // Entry operations; each logs and reports its own failures.
    int ping();    // 0, -2, -9 or -20 .. -28
    int verify();  // 0 (200), -2, -8 (401) or -9
    // True when a server answered 200 with a body, which is then in body.
    bool requestUpdate(int32_t id, String& body);
    // The response's result code (200, 201, 210, 211, 500) or -1.
    int handleResponse(const String& body);
    // 0: nothing to install; n > 0: packages downloaded and verified; -1.
    int update(int32_t id, int plainDownload, int throttleKB, int pauseSeconds);

    // Downloads every package of getPackages(); the number accepted (each
    // marked with downloadResult 1).
    int downloadPackages();
    // False when no server delivered the file; true when it was stored whole
    // or when the transfer broke off (the partial file may then be kept).
    bool downloadFile(long id, const String& name, const String& url, const String& localFile,
                      int32_t size);

    // What an exchange that wants a body back came to.
    enum class Answer {
        kBody,       // status 200 with a body, which was read whole
        kNotSent,    // no connection, or the send failed
        kBadStatus,  // a status other than 200
        kNoBody,     // 200 without a body, or one larger than kMaxBodyInMemory
    };
    // Asks host's "/lm-sessionid" for the download session id of url over a
    // session-kind connection with keep-alive off; kBody brings the id. The
    // status, once there is one, is kept for getHttpStatus(). Transport
    // exceptions pass through.
    Answer fetchSessionId(const NetworkSettings& settings, const String& host, const String& url,
                          String& sessionId);

    // Firmware session; implemented beside the firmware action.
    int requestFirmwareUpdate(int32_t productId);
    int handleFirmwareResponse(const String& version, int throttleKB, int pauseSeconds);
    int downloadFirmware(const String& version);
    int downloadFirmwareFile(long id, const String& name, const String& url,
                             const String& localFile, int32_t size, const String& version);

    Vector<LmPackageInfo>& getPackages() { return packages_; }
    const Vector<LmPackageInfo>& getPackages() const { return packages_; }
    int getHttpStatus() const { return httpStatus_; }
    const String& getDownloadDir() const { return downloadDir_; }
    const Vector<String>& getServerOverride() const { return serverOverride_; }
    int getPlainDownload() const { return plainDownload_; }
    int getThrottleKB() const { return throttleKB_; }
    int getPauseSeconds() const { return pauseSeconds_; }
    void setPacing(int throttleKB, int pauseSeconds) {
        throttleKB_ = throttleKB;
        pauseSeconds_ = pauseSeconds;
    }

    // Shared steps, also used by the firmware session.

    // getSettings of the process-wide settings; false (and out partly
    // filled) when there are none or no server.
    static bool readSettings(NetworkSettings& out);
    // The same, logging "LmUpdate: read server settings failed" when false.
    static bool readSettingsOrLog(NetworkSettings& out);
    // serverOverride when it is set, else the settings' servers.
    Vector<String> serversToTry(const NetworkSettings& settings) const;
    // scheme + "//" + host + path for the session requests, after logging
    // the "Connecting to ..." line.
    static String sessionUrl(const NetworkSettings& settings, const String& host, const char* path);
    // Sends request over connection (null when none could be made), logs
    // the exchange and "Processing update list", and reads a 200 answer's
    // body into body, closing the connection then. The status is kept for
    // getHttpStatus(). Transport exceptions pass through.
    Answer exchangeForAnswer(HttpConnection* connection, HttpRequest& request, const String& host,
                             String& body);
    // Makes request (its URL already set) a POST of the request document for
    // product id: versionHeader "1.0", MAC, compression and the document,
    // which is logged. False after "Cannot obtain product data for request"
    // when no document can be built.
    static bool setDocumentRequest(HttpRequest& request, int32_t id, const char* versionHeader,
                                   const NetworkSettings& settings);
    // The whole body of response into body, read in 1024-byte chunks up to
    // its content length; false (with a log line) when it is larger than
    // kMaxBodyInMemory. Transport exceptions pass through.
    static bool readBody(HttpResponse& response, String& body);
    // Adds the product id, version and serial number headers when the
    // product (or a parent) is known; the id sent is the one given, or the
    // parent's when useFoundId.
    void addProductHeaders(HttpRequest& request, int32_t id, bool useFoundId);
    // The headers of a package or firmware file request: compression, MAC,
    // the download session id and the product headers of id.
    void addDownloadHeaders(HttpRequest& request, const NetworkSettings& settings,
                            const String& sessionId, int32_t id);
    // Session error name for a transport failure message ("" when none)
    // and the ping code for it.
    static String errorNameFor(const String& message, const NetworkSettings& settings);
    static int errorCodeFor(const String& message, const NetworkSettings& settings);
    // Logs the request's and the response's head.
    static void logExchange(const HttpRequest& request, const HttpResponse& response);
    // Logs name and writes it to standard output as a line.
    static void reportError(const String& name);

    // The download directory of a package and its file name from its url.
    String packageDirectory(const LmPackageInfo& package) const;
    static String packageFileName(const String& url);
    // Lower-case hexadecimal MD5 of a file.
    static String md5Hex(const String& path);

    // Moves body to out in 1024-byte chunks from received on: progress(n)
    // at each further twentieth of size, the percentage log lines, and the
    // pacing sleeps. Returns the byte count on disk at the end.
    int32_t transferBody(InputStream& body, OutputStream& out, int32_t received, int32_t size,
                         const String& name, const std::function<void(int32_t)>& progress);

private:
    // What one server's attempt came to.
    enum class Attempt { kAnswered, kNextServer, kStop };
    enum class Download { kStored, kBrokeOff, kNextServer, kGiveUp };
    // Progress and pacing state of one transfer.
    struct TransferCounters {
        int32_t steps = 0;    // progress reports made, 0 to 20
        int32_t percent = 0;  // last whole percentage logged
        int64_t sincePause = 0;
    };

    Attempt requestUpdateFrom(int32_t id, const NetworkSettings& settings, const String& host,
                              String& body);
    bool buildUpdateRequest(int32_t id, const NetworkSettings& settings, const String& host,
                            HttpRequest& request);
    static Attempt takeUpdateAnswer(Answer answer, const String& body);
    int handleRedirect(int code);
    // The parsed answer's result code when its root is one of roots
    // (ignoring case); else -1 after a log line saying what was wrong.
    static int resultCodeOf(const LmUpdateParser& parser, std::initializer_list<const char*> roots);
    bool downloadPackage(LmPackageInfo& package);
    bool acceptPackage(LmPackageInfo& package, const String& localFile);
    void discardDownload(const LmPackageInfo& failed, const String& localFile);
    Download downloadFrom(long id, const String& name, const String& url, const String& localFile,
                          int32_t size, const NetworkSettings& settings, const String& host);
    int32_t checkResume(long id, const String& url, const String& localFile, int32_t size);
    void keepPartialFile(long id, const String& url, const String& localFile, int32_t size);
    Download receiveFile(HttpConnection& connection, HttpResponse& response, long id,
                         const String& name, const String& localFile, int32_t size,
                         int32_t resumeFrom);
    Download receiveBody(HttpConnection& connection, HttpResponse& response, long id,
                         const String& name, const String& localFile, int32_t size, int32_t from);
    void reportStep(TransferCounters& counters, int32_t received, int32_t size,
                    const std::function<void(int32_t)>& progress) const;
    void logPercentage(TransferCounters& counters, int32_t received, int32_t size,
                       const String& name) const;
    void pace(TransferCounters& counters, int chunk) const;

    String downloadDir_ = "/download/lmupdate";
    Vector<String> serverOverride_{0, 20};
    Vector<LmPackageInfo> packages_{0, 20};
    int httpStatus_ = 200;
    int plainDownload_ = 0;
    int throttleKB_ = 0;
    int pauseSeconds_ = 0;
};
