#include "NameValuePair.h"

#include "TypedValue.h"

// The one instantiation the library uses, compiled once here.
template class NameValuePair<TypedValue>;
