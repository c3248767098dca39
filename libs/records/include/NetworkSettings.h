#pragma once

#include "LmServer.h"
#include "String.h"
#include "Vector.h"

// The update client's network settings as stored in conf/network.xml.
struct NetworkSettings {
    String type;          // "https" or "http"
    String mac;           // read only
    String isUsingProxy;  // "1" or "0"
    String proxyHost;
    int proxyPort = 0;
    String proxyUser;
    String proxyPass;
    String user;  // for the update servers, with pass
    String pass;
    int timeout = -1;                  // connection time-out in seconds
    Vector<LmServer> servers;          // the active list, in order
    Vector<LmServer> originalServers;  // the list as first configured
};
