#include "TypedValue.h"

TypedValue::TypedValue(int64_t number, Kind kind) : kind_(kind), number_(number) {
    text_.append(number);
}
