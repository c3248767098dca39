#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "String.h"

class BlockIndex;
class DeltaPlan;
class FileTransfer;
class HttpResponse;
class OutputStream;
class RangeAnswer;
struct ByteRange;
struct DeltaPiece;
struct DeltaSource;
struct DownloadTarget;

// Rebuilds a package file from its block index: the blocks the seed holds
// are copied from it, the others fetched with Range requests, and the file
// is written strictly in order, so that its length stays the point a
// resume continues from. Whatever the server gets wrong (no index, one
// that does not match, 200 or 416 to a range request, a broken multipart
// body) ends it with a reason, the bytes written so far standing, and the
// full download takes over from there.
class DeltaDownload {
public:
    enum class End {
        kRebuilt,      // the file is whole on disk; its checks follow
        kFallback,     // reason() says why
        kWholeAnswer,  // a range request got the whole file: takeWholeAnswer()
        kStopped,      // a stop signal ended it; what was written stays
        kNoAnswer,     // a request brought no answer; the requester said why
        kOverBudget,   // the byte budget has no room for what it would fetch
    };
    // A GET of url with the Range header range ("" none), redirects
    // followed; null when no answer came.
    using Request =
        std::function<std::unique_ptr<HttpResponse>(const String& url, const String& range)>;

    // Whether bytes more over that many requests may be fetched.
    using Allowance = std::function<bool(int64_t bytes, int requests)>;

    DeltaDownload(const DeltaSource& source, const DownloadTarget& target, Request request,
                  Allowance allowance);
    ~DeltaDownload();
    DeltaDownload(const DeltaDownload&) = delete;
    DeltaDownload& operator=(const DeltaDownload&) = delete;

    // From byte from of the file on, into out; transfer is started.
    End run(int32_t from, OutputStream& out, FileTransfer& transfer);

    const String& reason() const { return reason_; }
    std::unique_ptr<HttpResponse> takeWholeAnswer();
    int64_t seedBytes() const { return seedBytes_; }
    int requests() const { return requests_; }

    // The largest index taken for a file of size bytes.
    static int64_t indexLimit(int64_t size);

private:
    std::optional<BlockIndex> fetchIndex();
    int64_t fetchedWithParts(const DeltaPlan& plan) const;
    String indexProblem(const BlockIndex& index) const;
    End rebuild(const DeltaPlan& plan, OutputStream& out, FileTransfer& transfer);
    void copySeed(const DeltaPiece& piece, OutputStream& out, FileTransfer& transfer);
    std::optional<End> fetch(const DeltaPiece& piece, OutputStream& out, FileTransfer& transfer);
    std::optional<End> openRequest(const std::vector<ByteRange>& ranges);
    End fallBack(const String& reason);

    const DeltaSource& source_;
    const DownloadTarget& target_;
    Request request_;
    Allowance allowance_;
    std::vector<std::vector<ByteRange>> groups_;  // the ranges of each request, in order
    size_t nextRequest_ = 0;
    std::unique_ptr<HttpResponse> response_;
    std::unique_ptr<RangeAnswer> answer_;
    String reason_;
    int64_t seedBytes_ = 0;
    int requests_ = 0;
};
