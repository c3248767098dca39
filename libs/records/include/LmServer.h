#pragma once

#include "String.h"

// One update server entry: its host name, used wherever a String is.
class LmServer : public String {
public:
    LmServer() = default;
    LmServer(const String& host) : String(host) {}
    LmServer(const char* host) : String(host) {}
};
