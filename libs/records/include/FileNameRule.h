#pragma once

#include "String.h"

// A version or a package file name from a server becomes one component of
// a path below the download directory. Empty when name can be one; else
// why not: it is empty, "." or "..", or holds "/", "\" or a control byte
// (below 0x20, or 0x7f).
String unsafeFileNameReason(const String& name);

inline bool isSafeFileName(const String& name) {
    return unsafeFileNameReason(name).isEmpty();
}
