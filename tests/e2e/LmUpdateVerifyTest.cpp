// LmUpdate --verify, run as a program in a fresh installation root against
// the test update server.
#include <gtest/gtest.h>

#include <ostream>

#include <string>

#include "RunProgram.h"
#include "ServerAnswers.h"
#include "TempRoot.h"
#include "TestServer.h"

namespace {

struct VerifyCase {
    const char* name;
    int firstStatus;   // of the first server
    int secondStatus;  // of the second server
    int exitStatus;
    size_t secondRequests;  // requests the second server gets
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const VerifyCase& c, std::ostream* out) {
    *out << c.name;
}

class LmUpdateVerifyTest : public testing::TestWithParam<VerifyCase> {
protected:
    static std::string answering(int status) {
        return ServerAnswers::config({{"GET /lm-verify", ServerAnswers::answer("", status)}});
    }
};

TEST_P(LmUpdateVerifyTest, ExitStatusByAnswer) {
    const VerifyCase& c = GetParam();
    TestServer first(answering(c.firstStatus));
    TestServer second(answering(c.secondStatus));
    TempRoot root;
    root.makeStandardDirs();
    root.write("conf/network.xml",
               "<?xml version=\"1.0\"?>\n<LmNetClientSettings>\n"
               "<ServerList type=\"http\" timeout=\"5\" mac=\"m1\">\n"
               "<Server host=\"127.0.0.1:" +
                   std::to_string(first.port()) + "\"/>\n<Server host=\"127.0.0.1:" +
                   std::to_string(second.port()) + "\"/>\n</ServerList>\n</LmNetClientSettings>\n");
    RunOptions options{.env = {root.registerDirEnv()}};
    ASSERT_EQ(runProgram(lmUpdateExe(), {"--init"}, options).exitStatus, 0);

    ProgramResult result = runProgram(lmUpdateExe(), {"--verify"}, options);
    EXPECT_EQ(result.exitStatus, c.exitStatus) << result.out << result.err;
    EXPECT_EQ(second.requests().size(), c.secondRequests);
    auto requests = first.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].path, "/lm-verify");
    EXPECT_EQ(requests[0].header("X-Lm-Update-ProductId"), "1000");
    EXPECT_EQ(requests[0].header("X-Lm-Update-MAC"), "m1");
}

INSTANTIATE_TEST_SUITE_P(Answers, LmUpdateVerifyTest,
                         testing::Values(VerifyCase{"Accepted", 200, 200, 0, 0},
                                         VerifyCase{"Unauthorized", 401, 200, 256 - 8, 0},
                                         VerifyCase{"OtherStatusTriesNext", 404, 401, 256 - 8, 1},
                                         VerifyCase{"NobodyAccepts", 500, 404, 256 - 9, 1}),
                         [](const testing::TestParamInfo<VerifyCase>& info) {
                             return info.param.name;
                         });

TEST(LmUpdateVerifyCommandTest, MissingInventoryIsReported) {
    TempRoot root;
    root.makeStandardDirs();
    ProgramResult result =
        runProgram(lmUpdateExe(), {"--verify"}, {.env = {root.registerDirEnv()}});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.out.rfind("LmUpdate: cannot read inventory: ", 0), 0u) << result.out;
}

}  // namespace
