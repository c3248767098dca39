#pragma once

#include <cstdint>
#include <optional>

#include "LmPackageInfo.h"
#include "String.h"
#include "Vector.h"
#include "state/RunRecord.h"

class ServerAnswer;
class ServerSession;

// What an update session came to.
struct UpdateResult {
    enum class Outcome {
        kUpToDate,    // the servers have nothing newer
        kDownloaded,  // packages announced, at least one fetched and trusted
        kFailed,      // no answer, a refused one, or no package fetched
    };
    Outcome outcome = Outcome::kFailed;
    // The packages announced, those fetched marked kDownloaded.
    Vector<LmPackageInfo> packages;
    // What came of each package.
    Vector<ProductResult> products;
    // The daily byte budget held packages back.
    bool overBudget = false;
};

// The update session of one command run: asks the update servers for
// updates (following their redirects to other servers) and downloads the
// announced packages; pings or verifies. Its connections are those of the
// run's ServerSession, which keeps the last HTTP status.
class LmUpdateClient {
public:
    // Redirects (210/211) followed by one update() before it gives up.
    static constexpr int kMaxRedirects = 10;
    // Result codes of an update answer.
    static constexpr int kUpToDate = 200;
    static constexpr int kPackagesAnnounced = 201;
    static constexpr int kRedirectStored = 210;
    static constexpr int kRedirectOnce = 211;
    // Hosts a 210/211 list may hold, and the stored list a 210 fills up to.
    static constexpr int kMaxServers = 16;

    explicit LmUpdateClient(ServerSession& session) : session_(session) {}
    LmUpdateClient(const LmUpdateClient&) = delete;
    LmUpdateClient& operator=(const LmUpdateClient&) = delete;

    // kOk, kPingSettings, kPingFailed or a transport code.
    int ping();
    // kOk (200), kVerifySettings, kVerifyUnauthorized (401) or
    // kVerifyNoAnswer.
    int verify();
    // Asks for the updates of product id (1000: the update client itself)
    // and downloads what the servers announce.
    UpdateResult update(int32_t id);

    // The steps of update, in order.

    // True when a server answered 200 with a body, which is then in body.
    bool requestUpdate(int32_t id, String& body);
    // The answer's result code (200, 201, 210, 211); none, after a log line
    // and EC_LMUPDATE_UPDATE_ERROR, for an unreadable document, another
    // root, any other result code or an invalid host list, which then
    // leaves the settings untouched. 201 keeps the packages announced,
    // 210 and 211 the servers for the rest of the run.
    std::optional<int> handleResponse(const String& body);

    // The servers a redirect named for this run (empty: the settings').
    const Vector<String>& servers() const { return servers_; }

private:
    std::optional<int> refuseAnswer(const String& reason);
    // Checks a 210/211 host list, keeps it for the run and, for 210,
    // stores the new hosts that fit.
    std::optional<int> takeServerList(const ServerAnswer& answer, int code);
    void storeServers() const;
    // One more round of update() after a redirect; false when the limit is
    // reached.
    bool mayRedirect(int redirects);
    UpdateResult download(int32_t id);

    ServerSession& session_;
    Vector<String> servers_;
    Vector<LmPackageInfo> packages_;
};
