// The progress reports of a real LmUpdate --update run whose installation
// root holds a blank: the script still gets its arguments one by one.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "RunProgram.h"
#include "ServerAnswers.h"
#include "TempRoot.h"
#include "TestServer.h"

namespace {

TEST(DownloadProgressTest, RootWithABlankReachesTheScript) {
    std::string content(5000, 'p');
    TempRoot outer;
    outer.write("served.bin", content);
    const std::string md5 = "B3C0C5F2C48D3E8A7F8E3B1F4D2E5A61";  // wrong on purpose: not installed
    std::string response =
        "<?xml version=\"1.0\"?>\n<LmSelfUpdateResponse>\n<Result code=\"201\"/>\n"
        "<PackageInfoList>\n<PackageInfo>\n<ProductInfo id=\"1000\" desc=\"Updater\"/>\n"
        "<PlatformInfo arch=\"a\" os=\"o\" vendor=\"v\" version=\"1\"/>\n"
        "<ExtVersionInfo version=\"9.0\"/>\n<DownloadInfo url=\"u/p.zip\" md5=\"" +
        md5 +
        "\" size=\"5000\"/>\n<RunInfo format=\"zip\"/>\n</PackageInfo>\n</PackageInfoList>\n"
        "</LmSelfUpdateResponse>\n";
    TestServer server(ServerAnswers::config(
        {{"POST /lm-self-update", ServerAnswers::answer(response)},
         {"GET /lm-download", ServerAnswers::fileAnswer(outer.file("served.bin"))}}));

    std::string root = outer.file("install root");
    outer.write("install root/conf/network.xml",
                "<?xml version=\"1.0\"?>\n<LmNetClientSettings>\n"
                "<ServerList type=\"http\" timeout=\"10\">\n<Server host=\"127.0.0.1:" +
                    std::to_string(server.port()) +
                    "\"/>\n</ServerList>\n</LmNetClientSettings>\n");
    outer.write("install root/bin/update_status.pl",
                "open(my $f, '>>', '" + outer.file("progress") +
                    "') or die;\nprint $f join('|', @ARGV), \"\\n\";\n");
    outer.mkdirs("install root/tmp");
    outer.mkdirs("download");
    RunOptions options{.env = {"REGISTER_DIR=" + root}};
    ASSERT_EQ(runProgram(lmUpdateExe(), {"--init"}, options).exitStatus, 0);

    ProgramResult result =
        runProgram(lmUpdateExe(),
                   {"--update", "--id", "1000", "--download-dir", outer.file("download")}, options);
    EXPECT_NE(result.exitStatus, 0) << "the digest does not match";
    std::istringstream text(outer.read("progress"));
    std::vector<std::string> lines;
    for (std::string line; std::getline(text, line);) {
        lines.push_back(line);
    }
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[0], "--action|update|--id|1000|--status|request");
    const std::string download = "--action|update|--id|1000|--status|download|--downloaded_size|";
    EXPECT_EQ(lines[1], download + "0|--total_size|5000");
    EXPECT_EQ(lines.back(), download + "5000|--total_size|5000");
    for (const auto& line : lines) {
        EXPECT_TRUE(line == lines[0] || line.rfind(download, 0) == 0) << line;
    }
}

}  // namespace
