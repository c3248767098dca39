#include "state/RunRecord.h"

void RunRecord::note(const ProductResult& result) {
    for (ProductResult& known : products_) {
        if (known.id == result.id) {
            known = result;
            return;
        }
    }
    products_.add(result);
}

void RunRecord::setOutcome(int32_t id, ProductOutcome outcome, const FailureCause& cause) {
    for (ProductResult& known : products_) {
        if (known.id == id) {
            known.outcome = outcome;
            known.cause = cause;
            return;
        }
    }
    products_.add({id, outcome, String(), cause});
}

const ProductResult* RunRecord::find(int32_t id) const {
    for (const ProductResult& known : products_) {
        if (known.id == id) {
            return &known;
        }
    }
    return nullptr;
}

int64_t RunRecord::bytesReused() const {
    int64_t bytes = 0;
    for (const ProductResult& product : products_) {
        bytes += product.bytesReused;
    }
    return bytes;
}
