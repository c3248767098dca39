#pragma once

#include "LmPackageInfo.h"
#include "String.h"
#include "download/DownloadPolicy.h"
#include "trust/PackageTrust.h"

// What a caller of PackageFetch supplies: how its downloads run, and what
// becomes of what a refused package left on disk.
class FetchPolicy : public DownloadPolicy {
public:
    // Why the caller did not ask for this package (checked with trust once
    // its metadata is trusted), "" when it did; nothing is refused here by
    // default.
    virtual String requestProblem(const LmPackageInfo& /*package*/,
                                  const PackageTrust& /*trust*/) const {
        return String();
    }
    // Whether the file may be rebuilt from a seed and the index the server
    // offers, rather than downloaded whole.
    virtual bool deltaAllowed() const { return false; }
    // Whether a resumed file that fails its digests is fetched once more
    // from the start (the bytes kept were wrong), rather than refused.
    virtual bool restartsResumed() const { return false; }
    // The package is refused: say so, and remove what it left (localFile is
    // "" when no file was made yet).
    virtual void refuse(const LmPackageInfo& package, const String& localFile,
                        const String& reason) = 0;
    // The same where the download tree cannot be trusted: nothing there is
    // removed, since another user could swap what would be removed.
    virtual void refuseKeepingFiles(const LmPackageInfo& package, const String& reason) = 0;
};
