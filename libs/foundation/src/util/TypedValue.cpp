#include "TypedValue.h"

TypedValue::TypedValue(long number, Kind kind) : kind_(kind), number_(number) {
    text_.append(number);
}
