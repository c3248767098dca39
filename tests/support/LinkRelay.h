#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "TempRoot.h"

class ToolProcess;

// The link relay (tools/link_relay.py) between a client and a server on
// 127.0.0.1: rate, latency, stalls, resets and 503 answers as Options say,
// started on an ephemeral port and stopped by the destructor. Times count
// from the relay's start: stall k covers [k*every - stall, k*every), reset k
// falls at k*resetEverySeconds; a byte reset falls after each further
// resetEveryBytes bytes sent to clients. The counters come from the relay's
// stats file, written before it ends or aborts a client connection: a test
// that saw its connection end reads figures that include it.
class LinkRelay {
public:
    struct Options {
        int64_t rateBytesPerSecond = 0;  // 0: unlimited
        int latencyMs = 0;               // round trip added
        double stallSeconds = 0;         // with stallEverySeconds
        double stallEverySeconds = 0;
        double resetEverySeconds = 0;  // 0: never
        int64_t resetEveryBytes = 0;   // 0: never
        int unavailableRequests = 0;   // first N get 503
        std::string retryAfter = "1";  // their Retry-After value
        int lifetimeSeconds = 120;
    };

    LinkRelay(int targetPort, const Options& options);
    ~LinkRelay();
    LinkRelay(const LinkRelay&) = delete;
    LinkRelay& operator=(const LinkRelay&) = delete;

    int port() const { return port_; }
    int64_t bytesToClient() const;  // bytes sent to clients, 503 answers included
    int resets() const;             // client connections aborted with an RST
    int connections() const;        // client connections accepted

private:
    int64_t stat(const std::string& name) const;

    TempRoot dir_;
    std::unique_ptr<ToolProcess> process_;
    int port_ = 0;
};
