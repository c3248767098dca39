#include "download/DeltaDownload.h"

#include <unistd.h>

#include <algorithm>

#include "Exception.h"
#include "StopSignals.h"
#include "Utils.h"
#include "delta/BlockIndex.h"
#include "delta/BlockMatcher.h"
#include "delta/DeltaPlan.h"
#include "download/DeltaSource.h"
#include "download/DownloadTarget.h"
#include "download/FileTransfer.h"
#include "download/RangeAnswer.h"
#include "io/OutputStream.h"
#include "net/ByteRangesReader.h"
#include "net/HttpResponse.h"

namespace {

constexpr int64_t kIndexCap = 16 * 1024 * 1024;
constexpr int64_t kIndexAllowance = 64 * 1024;
// A part's delimiter and head: "--B", Content-Type, Content-Range.
constexpr int64_t kPartHeadAllowance = 256;

}  // namespace

DeltaDownload::DeltaDownload(const DeltaSource& source, const DownloadTarget& target,
                             Request request, Allowance allowance)
    : source_(source),
      target_(target),
      request_(std::move(request)),
      allowance_(std::move(allowance)) {}

DeltaDownload::~DeltaDownload() = default;

// The plan's bytes with each multipart part's own head.
int64_t DeltaDownload::fetchedWithParts(const DeltaPlan& plan) const {
    int64_t parts = 0;
    for (const std::vector<ByteRange>& group : groups_) {
        parts += static_cast<int64_t>(group.size());
    }
    return static_cast<int64_t>(plan.fetchBytes()) + parts * kPartHeadAllowance;
}

int64_t DeltaDownload::indexLimit(int64_t size) {
    return std::min(kIndexCap, size / 100 + kIndexAllowance);
}

std::unique_ptr<HttpResponse> DeltaDownload::takeWholeAnswer() {
    answer_.reset();
    return std::move(response_);
}

DeltaDownload::End DeltaDownload::run(int32_t from, OutputStream& out, FileTransfer& transfer) {
    if (!allowance_(indexLimit(target_.size), 1)) {
        return End::kOverBudget;
    }
    std::optional<BlockIndex> index = fetchIndex();
    if (!index) {
        return reason_.isEmpty() ? End::kNoAnswer : End::kFallback;
    }
    std::vector<int64_t> matches;
    try {
        matches = BlockMatcher(*index).match(source_.seedFd);
    } catch (const IOException& e) {
        return fallBack("seed unreadable: " + e.getMessage());
    }
    DeltaPlan plan(*index, matches, from);
    groups_ = plan.requests();
    if (!allowance_(fetchedWithParts(plan), static_cast<int>(groups_.size()))) {
        return End::kOverBudget;
    }
    return rebuild(plan, out, transfer);
}

// The index, when the server has one that describes the announced file;
// else none, with reason_ set (or no answer at all).
std::optional<BlockIndex> DeltaDownload::fetchIndex() {
    std::unique_ptr<HttpResponse> response = request_(source_.indexUrl, String());
    ++requests_;
    if (response == nullptr) {
        return std::nullopt;
    }
    if (response->getStatus() != 200) {
        fallBack("no index (" + decimalText(response->getStatus()) + ")");
        return std::nullopt;
    }
    int64_t limit = indexLimit(target_.size);
    if (response->getContentLength() > limit) {
        fallBack("index too large");
        return std::nullopt;
    }
    String body;
    String why;
    HttpResponse::BodyResult read = response->readBody(body, limit, &why);
    if (read != HttpResponse::kBodyComplete) {
        fallBack(read == HttpResponse::kBodyTooLarge ? String("index too large") : "index: " + why);
        return std::nullopt;
    }
    try {
        BlockIndex index = BlockIndex::parse(body.str());
        String problem = indexProblem(index);
        if (problem.isEmpty()) {
            return index;
        }
        fallBack(problem);
    } catch (const DeltaIndexException& e) {
        fallBack("malformed index: " + e.getMessage());
    }
    return std::nullopt;
}

String DeltaDownload::indexProblem(const BlockIndex& index) const {
    bool sizeMatches = index.fileSize() == static_cast<uint64_t>(target_.size);
    bool digestMatches =
        source_.sha256.isEmpty() || source_.sha256.equalsIgnoreCase(index.fileSha256Hex());
    return sizeMatches && digestMatches ? String() : String("index does not match");
}

DeltaDownload::End DeltaDownload::rebuild(const DeltaPlan& plan, OutputStream& out,
                                          FileTransfer& transfer) {
    try {
        for (const DeltaPiece& piece : plan.pieces()) {
            if (StopSignals::requested()) {
                return End::kStopped;
            }
            if (piece.seedOffset != BlockMatcher::kMissing) {
                copySeed(piece, out, transfer);
            } else if (std::optional<End> end = fetch(piece, out, transfer)) {
                return *end;
            }
        }
    } catch (const RangeAnswerException& e) {
        return fallBack(e.getMessage());
    }
    return StopSignals::requested() ? End::kStopped : End::kRebuilt;
}

void DeltaDownload::copySeed(const DeltaPiece& piece, OutputStream& out, FileTransfer& transfer) {
    char buffer[64 * 1024];
    int64_t done = 0;
    while (done < static_cast<int64_t>(piece.length)) {
        auto wanted = static_cast<size_t>(std::min<int64_t>(sizeof buffer, piece.length - done));
        ssize_t n = ::pread(source_.seedFd, buffer, wanted, piece.seedOffset + done);
        if (n <= 0) {
            // The seed changed under us: what was written stands, the rest
            // comes from the server.
            throw RangeAnswerException("seed unreadable");
        }
        out.write(buffer, static_cast<int>(n));
        done += n;
        transfer.advance(static_cast<int32_t>(piece.offset + done));
    }
    seedBytes_ += done;
}

// The piece from the answer that holds it, the next request's when the
// current one has no more.
std::optional<DeltaDownload::End> DeltaDownload::fetch(const DeltaPiece& piece, OutputStream& out,
                                                       FileTransfer& transfer) {
    bool opensRequest =
        nextRequest_ < groups_.size() && groups_[nextRequest_].front().first == piece.offset;
    if (opensRequest) {
        if (std::optional<End> end = openRequest(groups_[nextRequest_++])) {
            return end;
        }
    }
    if (answer_ == nullptr) {
        throw RangeAnswerException("no request asked for bytes " + decimalText(piece.offset));
    }
    auto first = static_cast<int32_t>(piece.offset);
    auto end = static_cast<int32_t>(piece.offset + piece.length);
    answer_->seek(first, end - first);
    if (transfer.copy(*answer_, out, first, end) != end && !StopSignals::requested()) {
        throw IOException("file size is incorrect", "DeltaDownload", __LINE__);
    }
    return std::nullopt;
}

std::optional<DeltaDownload::End> DeltaDownload::openRequest(const std::vector<ByteRange>& ranges) {
    answer_.reset();
    response_ = request_(target_.url, DeltaPlan::rangeHeader(ranges));
    ++requests_;
    if (response_ == nullptr) {
        return End::kNoAnswer;
    }
    int status = response_->getStatus();
    if (status == 200 && !response_->isContentCoded()) {
        return End::kWholeAnswer;
    }
    if (status != 206 || response_->isContentCoded()) {
        return fallBack("range request answered " + decimalText(status));
    }
    answer_ = std::make_unique<RangeAnswer>(*response_);
    return std::nullopt;
}

DeltaDownload::End DeltaDownload::fallBack(const String& reason) {
    reason_ = reason;
    return End::kFallback;
}
