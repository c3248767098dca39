#pragma once

#include "String.h"
#include "Vector.h"

// The whole environment of an install script: a fixed PATH, the
// installation root as REGISTER_DIR, LANG=C and the user's HOME. Nothing
// else of ours reaches a script that runs as root (no IFS, LD_*, proxy
// settings or secrets of the caller).
class ScriptEnvironment {
public:
    static constexpr const char kPath[] = "PATH=/usr/sbin:/usr/bin:/sbin:/bin";

    // "NAME=value" entries; HOME is the effective user's home directory
    // from the password database, left out when it has none.
    static Vector<String> entries();
};
