#include "InstallRoot.h"

#include <cstdlib>

const String& installRoot() {
    static const String root(std::getenv("REGISTER_DIR"));
    return root;
}

String installPath(const char* relative) {
    return installRoot() + "/" + relative;
}
