#pragma once

#include <cstdint>

#include "String.h"
#include "Vector.h"

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
};

// What one run did, gathered by the run from what its steps return: each
// product's outcome and reason, and the bytes fetched from the servers.
class RunRecord {
public:
    // Records result in place of an earlier one of the same product.
    void note(const ProductResult& result);
    // The product's result, or null.
    const ProductResult* find(int32_t id) const;

    const Vector<ProductResult>& products() const { return products_; }
    int64_t bytesFetched() const { return bytesFetched_; }
    void setBytesFetched(int64_t bytes) { bytesFetched_ = bytes; }

private:
    Vector<ProductResult> products_;
    int64_t bytesFetched_ = 0;
};
