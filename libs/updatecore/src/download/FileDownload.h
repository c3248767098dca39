#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "LmUpdateCore.h"
#include "String.h"
#include "session/ServerExchange.h"
#include "session/SessionState.h"

class DirectoryHandle;
class FileOutputStream;
class HttpConnection;
class HttpRequest;
class HttpResponse;
class URL;
class StreamingDigest;

// How the download of a package and that of firmware differ.
struct DownloadPolicy {
    using Start = std::function<void(int32_t size)>;
    using Progress = std::function<void(int32_t received, int32_t size)>;

    ExchangePolicy exchange;  // how the run over the servers goes
    bool alwaysPlain;         // session id first and HTTP even without plainDownload
    bool partialRecord;       // resume from conf/lm-partial-files and record a broken-off file
                              // (else resume from what is on disk)
    bool numericCodes;        // a refused answer ends the download with a result code
                              // (else the next server is tried)
    int noSettings;           // the result when there are no usable settings
    Start reportStart;        // progress of a transfer from the beginning,
    Progress reportProgress;  // and at each step and at a resume
};

// The file of one download and where it goes.
struct DownloadTarget {
    long id;  // product id
    String name;
    String url;
    String localFile;
    // The trusted directory localFile lies in: the file is opened below it,
    // never through a link.
    const DirectoryHandle* directory;
    int32_t size;
    // Fed with the file's bytes as they are stored, when not null.
    StreamingDigest* digest = nullptr;
};

// One file download over the servers in turn: the download session id when
// plain, the resume point, the status and length checks, the transfer with
// pacing and progress, and what is kept of a broken-off transfer.
class FileDownload {
public:
    // The file was stored whole (or was already complete).
    static constexpr int kStored = ResultCode::kOk;
    // The transfer broke off; what arrived may be kept for a resume.
    static constexpr int kBrokeOff = 1;
    // The package is refused (refusal() says why): a coded body, a refused
    // redirect.
    static constexpr int kRefused = 2;
    // A stop signal ended the transfer; the partial file and its record are
    // kept.
    static constexpr int kStopped = 3;

    FileDownload(SessionState& state, const DownloadPolicy& policy, const DownloadTarget& target)
        : state_(state), policy_(policy), target_(target) {}

    // kStored, kBrokeOff, or what the policy gives for a failure.
    int run();
    const String& refusal() const { return refusal_; }

private:
    Step attempt(ServerExchange& exchange, ServerCall& call);
    bool plain() const;
    int connectionKind(int hop, const String& url) const;
    String serverEntry(int hop, const URL& url) const;
    void addHeaders(HttpRequest& request, const NetworkSettings& settings, const String& sessionId,
                    bool identifying, int32_t resumeFrom);
    // The session id when the download is plain; Step::next() to go on.
    Step fetchSessionId(ServerExchange& exchange, const String& host, String& sessionId);
    // Where to resume from (-1: no partial answer taken); done is set when
    // the file on disk is already whole.
    int32_t resumePoint(bool& done);
    Step receive(HttpConnection& connection, HttpResponse& response, int32_t resumeFrom);
    Step refuseStatus(int status);
    Step refuseLength(bool whole);
    Step refuse(const String& reason);
    // Records what the file holds for a later resume, when the policy keeps
    // records.
    void keepPartial() const;
    std::unique_ptr<FileOutputStream> openLocalFile(bool append) const;
    Step store(HttpConnection& connection, HttpResponse& response, int32_t from);

    SessionState& state_;
    const DownloadPolicy& policy_;
    const DownloadTarget& target_;
    String refusal_;
};
