#pragma once

#include <optional>
#include <utility>

#include "LmPackageInfo.h"
#include "String.h"
#include "Vector.h"
#include "download/DownloadTree.h"
#include "download/FetchPolicy.h"
#include "download/FileDownload.h"
#include "io/DirectoryHandle.h"
#include "trust/PackageTrust.h"
#include "trust/StreamingDigest.h"

class ServerSession;

// What fetching one package came to; each caller maps it to its own
// results.
enum class FetchOutcome {
    kFetched,         // whole on disk, trusted, marked downloaded
    kRefused,         // refused for reason; the policy has been told
    kNoDirectory,     // its directory could not be made (logged)
    kIncomplete,      // the transfer broke off; what arrived stays for a resume
    kStopped,         // a stop signal ended the transfer
    kTransferFailed,  // no server delivered it: transfer says how
    kOverBudget,      // the daily byte budget held it back; what arrived stays
};

struct FetchResult {
    explicit FetchResult(FetchOutcome outcome, TransferResult transfer = TransferResult(),
                         String reason = String())
        : outcome(outcome), transfer(std::move(transfer)), reason(std::move(reason)) {}

    // The same result refused for the file's own content (its digest or
    // size), which no later fetch of the same package changes.
    FetchResult forContent() && {
        contentRefused = true;
        return std::move(*this);
    }

    FetchOutcome outcome;
    TransferResult transfer;
    String reason;
    bool contentRefused = false;
};

// The steps every package and firmware file goes through, once: the trust
// in its metadata, its directory in the download tree (and nothing planted
// there), the free space, the transfer with its digests computed on the
// way, the trust in the whole file, and marking it downloaded. Sets the
// package's path and file.
class PackageFetch {
public:
    // servers: those a redirect named for this run (empty: the settings').
    PackageFetch(ServerSession& session, const Vector<String>& servers);

    FetchResult run(LmPackageInfo& package, FetchPolicy& policy);

    const DownloadTree& tree() const { return tree_; }
    ServerSession& session() const { return session_; }
    // What the transfers of the last run() took, retries and restarts
    // included.
    const TransferStats& stats() const { return stats_; }

private:
    std::optional<DirectoryHandle> prepareDirectory(LmPackageInfo& package, FetchPolicy& policy,
                                                    FetchResult& result);
    static String spaceProblem(const LmPackageInfo& package);
    TransferResult transfer(LmPackageInfo& package, FetchPolicy& policy,
                            const DirectoryHandle& directory, bool delta);
    FetchResult checkFile(LmPackageInfo& package, FetchPolicy& policy,
                          const DirectoryHandle& directory, const TransferResult& transfer);
    // The file once more, for a reason checkFile gives.
    FetchResult again(LmPackageInfo& package, FetchPolicy& policy, const DirectoryHandle& directory,
                      bool delta);
    static FetchResult refuse(const LmPackageInfo& package, FetchPolicy& policy,
                              const String& localFile, const String& reason);
    static void markDownloaded(LmPackageInfo& package);

    ServerSession& session_;
    const Vector<String> servers_;
    DownloadTree tree_;
    PackageTrust trust_;
    StreamingDigest digest_;
    // This package's kept bytes were thrown away once already.
    bool restarted_ = false;
    TransferStats stats_;
};
