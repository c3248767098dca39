#include "SigningKeyLocation.h"

#include "InstallRoot.h"
#include "io/File.h"

String SigningKeyLocation::choose(const String& rootKey, const String& systemKey) {
    for (const String& key : {rootKey, systemKey}) {
        if (!key.isEmpty() && File(key).exists()) {
            return key;
        }
    }
    return String();
}

String SigningKeyLocation::path() {
    return choose(installPath(kRootKeyFile), systemPath());
}

String SigningKeyLocation::systemPath() {
    return LM_SYSTEM_SIGNING_KEY;
}
