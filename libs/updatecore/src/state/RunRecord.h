#pragma once

#include <cstdint>

#include "String.h"
#include "Vector.h"
#include "state/FailureCause.h"

// What a run came to for one product.
enum class ProductOutcome {
    kUpToDate,    // the servers had nothing newer
    kDownloaded,  // fetched and trusted, not installed (yet)
    kInstalled,
    kDeferred,  // its script asked to be installed later
    kRefused,   // the refusal rule: metadata, path, space, content, digest, signature
    kFailed,    // not fetched or not installed
    kSkipped,   // not fetched: deferred with the same url and digest, or failed earlier
    kStopped,   // a stop signal ended its download
    kHeldBack,  // the daily byte budget had no room for it
};

struct ProductResult {
    int32_t id = -1;
    ProductOutcome outcome = ProductOutcome::kFailed;
    String reason = String();  // for kRefused, kFailed and kSkipped
    FailureCause cause = FailureCause();
    // What its download took: for the run report.
    String toVersion = String();
    int64_t bytesFetched = 0;
    int64_t bytesReused = 0;
    int attempts = 0;
    String server = String();
    double seconds = 0;
};

// What one run did, gathered by the run from what its steps return: each
// product's outcome and reason, and the bytes fetched from the servers.
class RunRecord {
public:
    // Records result in place of an earlier one of the same product.
    void note(const ProductResult& result);
    // Changes the outcome and cause of a product noted before (after its
    // installation), keeping what its download took.
    void setOutcome(int32_t id, ProductOutcome outcome, const FailureCause& cause);
    // The product's result, or null.
    const ProductResult* find(int32_t id) const;

    const Vector<ProductResult>& products() const { return products_; }
    int64_t bytesFetched() const { return bytesFetched_; }
    void setBytesFetched(int64_t bytes) { bytesFetched_ = bytes; }
    int64_t bytesReused() const;

    // Why the run failed where no product says: a lock, a path, a server.
    const FailureCause& cause() const { return cause_; }
    void setCause(const FailureCause& cause) { cause_ = cause; }

private:
    Vector<ProductResult> products_;
    int64_t bytesFetched_ = 0;
    FailureCause cause_;
};
