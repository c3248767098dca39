#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "Base64.h"
#include "LmNetConfig.h"
#include "SetNetworkCommand.h"
#include "TempRoot.h"

namespace {

// Resetting to defaults is not reachable from the command line, so it is
// driven here through the process-wide settings store.
TEST(ApplySettingsTest, ResetToDefaultsKeepsServersAndProxyPortOnly) {
    TempRoot root;
    const std::string after =
        "<OriginalServerList>\n<Server host=\"orig\"/>\n</OriginalServerList>\n";
    root.write("conf/network.xml",
               "<LmNetClientSettings><ServerList mac=\"m\" type=\"http\" isUsingProxy=\"1\" "
               "proxy=\"px:3128\" proxyuser=\"" +
                   Base64::encode(String("u:p")).str() + "\" user=\"" +
                   Base64::encode(String("me:pw")).str() +
                   "\" timeout=\"42\"><Server host=\"s1\"/><Server host=\"s2\"/></ServerList>" +
                   after + "</LmNetClientSettings>");
    LmNetConfig& config = LmNetConfig::getInstance();
    ASSERT_EQ(config.load(root.file("conf/network.xml").c_str()), 1);

    testing::internal::CaptureStdout();
    int status = applySettings(true);
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "LmUpdate: network settings are changed to default settings\n");
    EXPECT_EQ(status, 0);
    // The user attribute is never written, so it stays as it was.
    EXPECT_EQ(root.read("conf/network.xml"),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<LmNetClientSettings>\n"
              "<ServerList mac=\"m\" type=\"https\" isUsingProxy=\"0\" proxy=\":3128\" "
              "proxyuser=\"\" user=\"" +
                  Base64::encode(String("me:pw")).str() +
                  "\" timeout=\"180\">\n<Server host=\"s1\"/>\n<Server host=\"s2\"/>\n"
                  "</ServerList>\n" +
                  after + "</LmNetClientSettings>\n");
}

}  // namespace
