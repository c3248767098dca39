#pragma once

#include <gtest/gtest.h>
#include <cstdint>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "InstallRoot.h"
#include "LmNetConfig.h"
#include "ServerAnswers.h"
#include "SystemLog.h"
#include "TempRoot.h"
#include "TestServer.h"
#include "run/LmUpdateClient.h"
#include "run/UpdateRun.h"
#include "session/ConnectionFactory.h"
#include "session/RequestBuilder.h"
#include "session/ServerExchange.h"
#include "session/ServerSession.h"
#include "session/TransportErrors.h"
#include "state/LmUpdateStore.h"
#include "state/StateFiles.h"

// In-process tests of the update session: a fresh installation root with the
// default inventory, settings pointing at test servers, a progress script
// that records its arguments, and the log copied to standard error so that
// tests can read it.
class LmUpdateClientFixture : public testing::Test, public ServerAnswers {
public:
    using Outcome = UpdateResult::Outcome;
    static constexpr const char* kMac = "00:11:22:33:44:55";

    struct Output {
        std::string out;  // standard output
        std::string log;  // system-log lines (echoed to standard error)
    };

    void SetUp() override {
        TempRoot& r = root();
        r.clear();
        r.makeStandardDirs();
        ASSERT_EQ(installRoot().str(), r.path()) << "REGISTER_DIR was read before the test root";
        ASSERT_TRUE(createDefaultInventory());
        ASSERT_TRUE(createPartialFilesFile());
        ASSERT_TRUE(createDelayPackagesFile());
        loadInventory();
        r.write("bin/update_status.pl", "open(my $f, '>>', '" + r.file("tmp/progress") +
                                            "') or die;\nprint $f join(' ', @ARGV), \"\\n\";\n");
        r.mkdirs("download");
        SystemLog::setEcho(true);
    }

    void TearDown() override { SystemLog::setEcho(false); }

    static TempRoot& root() { return processRoot(); }

    static void loadInventory() {
        ASSERT_TRUE(LmUpdateStore::instance().load(installPath(kInventoryFile)));
    }

    static std::string host(const TestServer& server) {
        return "127.0.0.1:" + std::to_string(server.port());
    }

    // A port on which nothing listens.
    static std::string refusingHost();

    // Writes conf/network.xml for hosts and loads it into the process-wide
    // settings. attributes go on ServerList beside the fixed ones.
    static void useServers(const std::vector<std::string>& hosts,
                           const std::string& attributes = "type=\"http\" timeout=\"10\"",
                           const std::string& extra = "");

    // Adds (or replaces) a product in the inventory.
    static void addProduct(int id, const std::string& version, const std::string& serial = "",
                           const std::string& parent = "", const std::string& installPath = "");

    // Runs f, capturing what it writes to standard output and to the log.
    static Output capture(const std::function<void()>& f);

    // The progress script's recorded argument lines.
    static std::vector<std::string> progressLines();

    // The names of a recorded request's own X-Lm- headers, in the order sent.
    static std::vector<std::string> lmHeaderNames(const RecordedRequest& request);
    // Sets the file's modification time an hour back and returns it, so
    // that a later rewrite shows.
    static std::filesystem::file_time_type backdate(const std::string& path);
};
