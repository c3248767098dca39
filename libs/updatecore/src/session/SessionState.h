#pragma once

#include "LmPackageInfo.h"
#include "NetworkSettings.h"
#include "String.h"
#include "Vector.h"

// What one command run's session with the update servers keeps between its
// steps: where downloads go, the servers a redirect named, the packages
// announced, the last HTTP status and the download pacing.
struct SessionState {
    String downloadDir = "/download/lmupdate";
    Vector<String> serverOverride{0, 20};
    Vector<LmPackageInfo> packages{0, 20};
    int httpStatus = 200;
    int plainDownload = 0;
    int throttleKB = 0;
    int pauseSeconds = 0;

    // serverOverride when it is set, else the settings' servers.
    Vector<String> serversToTry(const NetworkSettings& settings) const {
        if (serverOverride.size() > 0) {
            return serverOverride;
        }
        Vector<String> servers;
        for (int i = 0; i < settings.servers.size(); ++i) {
            servers.add(settings.servers[i]);
        }
        return servers;
    }
};
