#pragma once

#include <cstdint>
#include <ctime>
#include <vector>

#include "LmPackageInfo.h"
#include "String.h"

// The packages that failed for a reason that will not go away by itself
// (the servers answered 404 or 410, the file's digest or size was refused,
// its install script failed), kept in conf/lm-failed-packages so that later
// runs skip them for a while instead of fetching them again every run:
//
//   <LmFailedPackages>
//   <Package id="5" version="2.0.0.1" md5="..." failures="2"
//            failed="2026-12-09T07:00:00Z" until="2026-12-09T09:00:00Z"
//            reason="HTTP 404" url="pkg/p5.zip"/>
//   </LmFailedPackages>
//
// An entry is keyed by product id, version and MD5 digest: another version
// or digest announced for the product is a new package and clears it.
// failures counts the package's consecutive failures, failed is the time of
// the last one and until the end of its skip interval: one hour after the
// first failure, doubling with each further one, at most 24 hours. Times
// are UTC; the operations take the time of day as now, so that whole days
// can be played through in a test. A missing file is empty; an unreadable
// or malformed one counts as empty too (logged once) and is replaced whole
// at the next save.
class FailedPackages {
public:
    struct Entry {
        int32_t id = -1;
        String version;
        String md5;
        int failures = 0;
        std::time_t failed = 0;
        std::time_t until = 0;
        String reason;
        String url;
    };

    static constexpr std::size_t kMaxEntries = 256;
    static constexpr std::time_t kFirstInterval = 60 * 60;
    static constexpr std::time_t kLongestInterval = 24 * 60 * 60;

    // Reads conf/lm-failed-packages below the installation root.
    FailedPackages();
    // Reads the file at path.
    explicit FailedPackages(String path);

    // The entry that keeps package from being fetched at now, or null. Drops
    // the product's entries of another version or digest first. An entry
    // whose interval ends more than kLongestInterval after now (the clock
    // went back) has expired.
    const Entry* skipping(const LmPackageInfo& package, std::time_t now);
    // Enters one more failure of package at now; a new entry beyond
    // kMaxEntries takes the place of the oldest failure.
    void recordFailure(const LmPackageInfo& package, const String& reason, std::time_t now);
    // Drops the package's entry (it installed).
    void forget(const LmPackageInfo& package);
    // Drops every entry of product id.
    void forgetProduct(int32_t id);

    // Replaces the file when something changed since it was read; false
    // (logged) when that failed.
    bool save();

    const std::vector<Entry>& entries() const { return entries_; }

private:
    void read();
    bool readEntries();
    std::vector<Entry>::iterator find(const LmPackageInfo& package);
    void dropOldest();
    template <class Predicate>
    void dropIf(Predicate predicate);

    String path_;
    std::vector<Entry> entries_;
    bool changed_ = false;
};
