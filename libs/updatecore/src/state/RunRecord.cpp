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

const ProductResult* RunRecord::find(int32_t id) const {
    for (const ProductResult& known : products_) {
        if (known.id == id) {
            return &known;
        }
    }
    return nullptr;
}
