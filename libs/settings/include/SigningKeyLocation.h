#pragma once

#include "String.h"

// Where the vendor's package signing key is read from, for the update run
// and SetNetwork alike: the installation root's conf/lm-signing-key.pem,
// else the system's key (the one a Debian package can ship, fixed at build
// time). Without either, no signing key is configured.
class SigningKeyLocation {
public:
    static constexpr char kRootKeyFile[] = "conf/lm-signing-key.pem";

    // rootKey when it exists, else systemKey when it exists, else "".
    static String choose(const String& rootKey, const String& systemKey);
    // choose() of this installation root's key and the system's.
    static String path();
    static String systemPath();
};
