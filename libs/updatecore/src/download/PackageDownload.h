#pragma once

#include "LmPackageInfo.h"
#include "String.h"
#include "Vector.h"
#include "download/PackageFetch.h"
#include "state/FailedPackages.h"
#include "state/RunRecord.h"

class PackagePolicy;
class ServerSession;

// The download step of an update run: every announced package into its
// product's download directory through the fetch pipeline. A package
// deferred earlier with the same url and digest is not fetched again, nor
// one whose earlier failure will not go away by itself (FailedPackages)
// while its interval lasts; a refused or failed one loses its download
// directory, so that the next run starts it afresh; a stop signal or the
// daily byte budget ends the step.
class PackageDownload {
public:
    // servers: those a redirect named for this run (empty: the settings');
    // runProduct: the product the run asked for.
    PackageDownload(ServerSession& session, const Vector<String>& servers, int32_t runProduct)
        : fetch_(session, servers), runProduct_(runProduct) {}

    // Downloads the packages in order, marking each one accepted with
    // kDownloaded; what came of each.
    Vector<ProductResult> run(Vector<LmPackageInfo>& packages);

    // How many results are kDownloaded.
    static int accepted(const Vector<ProductResult>& results);
    // The daily byte budget ended the step.
    bool overBudget() const { return overBudget_; }

private:
    // fetchPackage with what it took.
    ProductResult download(Vector<LmPackageInfo>& packages, LmPackageInfo& package);
    ProductResult fetchPackage(Vector<LmPackageInfo>& packages, LmPackageInfo& package);
    ProductResult failed(const FetchResult& fetched, const LmPackageInfo& package,
                         PackagePolicy& policy);
    static ProductResult skipped(const LmPackageInfo& package,
                                 const FailedPackages::Entry& earlier);

    PackageFetch fetch_;
    const int32_t runProduct_;
    bool overBudget_ = false;
};
