#pragma once

#include "String.h"

// The one rule for a path whose owner decides what a run executes or
// writes as root (the download directory, the installation root's bin/,
// the signing key): the path and every directory above it must be owned by
// root or the effective user and writable by neither group nor others. A
// directory above it may instead be owned by root with the sticky bit set,
// as /tmp is: there nobody can rename or remove what another user owns.
// Links are resolved first; what does not exist yet is not judged.
class PathTrust {
public:
    // "PATH: REASON" (owned by uid N, writable by group or others, or the
    // system's error) for the first component that breaks the rule, walking
    // down from "/"; "" when none does.
    static String problem(const String& path);
};
