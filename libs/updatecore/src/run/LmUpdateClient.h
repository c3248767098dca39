#pragma once

#include <cstdint>
#include <initializer_list>

#include "String.h"
#include "Vector.h"
#include "session/SessionState.h"

class LmUpdateParser;

// The update session of one command run: asks the update servers for
// updates (following redirects), downloads the announced packages, and
// pings or verifies. The steps live in their own classes; this one holds
// the session's state and the order of the steps.
//
// Calling order of one update run: construct, update(), then read
// getPackages() and getHttpStatus(). ping() and verify() stand alone.
class LmUpdateClient {
public:
    // Redirects (210/211) followed by one update() before it gives up.
    static constexpr int kMaxRedirects = 10;
    // Result codes of an update answer.
    static constexpr int kUpToDate = 200;
    static constexpr int kPackagesAnnounced = 201;
    static constexpr int kRedirectStored = 210;
    static constexpr int kRedirectOnce = 211;
    static constexpr int kServerError = 500;
    // Hosts a 210/211 list may hold, and the stored list after a 210.
    static constexpr int kMaxServers = 16;

    LmUpdateClient() = default;
    LmUpdateClient(const LmUpdateClient&) = delete;
    LmUpdateClient& operator=(const LmUpdateClient&) = delete;

    // kOk when path names an existing entry (it becomes the download
    // directory), else kFailed and nothing changes.
    int setDownloadDir(const String& path);

    // kOk, kPingSettings, kPingFailed or a transport code.
    int ping();
    // kOk (200), kVerifySettings, kVerifyUnauthorized (401) or
    // kVerifyNoAnswer.
    int verify();
    // 0: nothing to install; n > 0: packages downloaded and verified;
    // kFailed.
    int update(int32_t id, int plainDownload, int throttleKB, int pauseSeconds);

    // True when a server answered 200 with a body, which is then in body.
    bool requestUpdate(int32_t id, String& body);
    // The answer's result code (200, 201, 210, 211), or
    // kUpdateAnswerRefused (logged, EC_LMUPDATE_UPDATE_ERROR written) for an
    // unreadable document, another root, any other result code or an
    // invalid host list, which then leaves the settings untouched.
    int handleResponse(const String& body);

    // The parsed answer's result code when its root is one of roots
    // (ignoring case); else kFailed after a log line saying what was wrong.
    static int resultCodeOf(const LmUpdateParser& parser, std::initializer_list<const char*> roots);

    SessionState& state() { return state_; }
    Vector<LmPackageInfo>& getPackages() { return state_.packages; }
    const Vector<LmPackageInfo>& getPackages() const { return state_.packages; }
    int getHttpStatus() const { return state_.httpStatus; }
    const String& getDownloadDir() const { return state_.downloadDir; }
    const Vector<String>& getServerOverride() const { return state_.serverOverride; }

private:
    int refuseAnswer(const String& reason);
    // Checks a 210/211 host list, keeps it for the session and, for 210,
    // stores it.
    int takeServerList(const LmUpdateParser& parser, int code);
    int handleRedirect(int code);
    // An answer other than 200, 201, 210 or 211 (code, or kFailed when it
    // could not be read): logged, reported, kFailed.
    // One more round of update() after a redirect; false when the limit is
    // reached.
    bool mayRedirect(int redirects);

    SessionState state_;
};
