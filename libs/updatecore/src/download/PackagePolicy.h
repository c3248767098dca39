#pragma once

#include "LmPackageInfo.h"
#include "Vector.h"
#include "download/FetchPolicy.h"
#include "download/ResumeSource.h"

class DownloadTree;

// How the packages of an update run are fetched: over HTTPS unless the run
// is --plain, resumed from conf/lm-partial-files, progress to the update
// script; a server that answers wrongly is skipped for the next one; a
// refused or failed package loses its product's download directory.
class PackagePolicy : public FetchPolicy {
public:
    // package: the one fetched, among the run's packages, whose accepted
    // ones keep their files; runProduct: the product the run asked for.
    PackagePolicy(const DownloadTree& tree, const Vector<LmPackageInfo>& packages,
                  const LmPackageInfo& package, int32_t runProduct)
        : tree_(tree), packages_(packages), package_(package), runProduct_(runProduct) {}

    // A package of the run's product or of an installed one, newer than
    // the installed version (with a signing key).
    String requestProblem(const LmPackageInfo& package, const PackageTrust& trust) const override;

    bool plain(const DownloadOptions& options) const override;
    ResumeSource& resume() override { return resume_; }
    ExchangePolicy exchange() const override;
    void started(int32_t size) override;
    void progressed(int32_t received, int32_t size) override;
    bool nextServerAfter(const WrongAnswer& answer) override;
    bool deltaAllowed() const override { return true; }
    bool restartsResumed() const override { return true; }

    void refuse(const LmPackageInfo& package, const String& localFile,
                const String& reason) override;
    void refuseKeepingFiles(const LmPackageInfo& package, const String& reason) override;
    // What a download that failed left: the product's download directory,
    // or only localFile when a package of the same product was accepted
    // earlier in the run (the installer needs its file).
    void discard(const LmPackageInfo& package, const String& localFile) const;

private:
    const DownloadTree& tree_;
    const Vector<LmPackageInfo>& packages_;
    const LmPackageInfo& package_;
    const int32_t runProduct_;
    RecordedResume resume_;
};
