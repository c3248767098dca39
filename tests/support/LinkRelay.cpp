#include "LinkRelay.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

#include "ToolProcess.h"

LinkRelay::LinkRelay(int targetPort, const Options& options) {
    // -S: the relay needs only the standard library, so no site set-up.
    std::vector<std::string> args{LM_TEST_PYTHON,
                                  "-S",
                                  LM_TEST_RELAY_SCRIPT,
                                  std::to_string(targetPort),
                                  "--stats",
                                  dir_.file("stats.json"),
                                  "--lifetime",
                                  std::to_string(options.lifetimeSeconds),
                                  "--rate",
                                  std::to_string(options.rateBytesPerSecond),
                                  "--latency-ms",
                                  std::to_string(options.latencyMs),
                                  "--reset-every-seconds",
                                  std::to_string(options.resetEverySeconds),
                                  "--reset-every-bytes",
                                  std::to_string(options.resetEveryBytes),
                                  "--unavailable",
                                  std::to_string(options.unavailableRequests),
                                  "--retry-after",
                                  options.retryAfter};
    if (options.stallSeconds > 0) {
        args.insert(args.end(), {"--stall", std::to_string(options.stallSeconds), "--stall-every",
                                 std::to_string(options.stallEverySeconds)});
    }
    process_ = std::make_unique<ToolProcess>(args, dir_.file("stderr.txt"));
    port_ = process_->port();
    if (port_ == 0) {
        ADD_FAILURE() << "the link relay did not start:\n" << dir_.read("stderr.txt");
    }
}

LinkRelay::~LinkRelay() = default;

int64_t LinkRelay::stat(const std::string& name) const {
    std::ifstream in(dir_.file("stats.json"));
    std::stringstream text;
    text << in.rdbuf();
    // A flat object of integers: "name": n
    std::string json = text.str();
    auto at = json.find("\"" + name + "\":");
    if (at == std::string::npos) {
        ADD_FAILURE() << "no " << name << " in the relay's stats: " << json;
        return -1;
    }
    return std::strtoll(json.c_str() + at + name.size() + 3, nullptr, 10);
}

int64_t LinkRelay::bytesToClient() const {
    return stat("bytes_to_client");
}

int LinkRelay::resets() const {
    return static_cast<int>(stat("resets"));
}

int LinkRelay::connections() const {
    return static_cast<int>(stat("connections"));
}
