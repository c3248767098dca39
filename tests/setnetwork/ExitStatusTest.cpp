// SetNetwork's exit statuses against its man page and the README.
#include <gtest/gtest.h>

#include <set>

#include "ExitStatusDocs.h"
#include "SetNetworkCommand.h"

namespace {

TEST(SetNetworkExitStatusTest, DocumentedAsTheCommandEndsWithThem) {
    std::set<int> statuses(kSetNetworkStatuses, kSetNetworkStatuses + kSetNetworkStatusCount);
    EXPECT_EQ(manPageExitStatuses(LM_SOURCE_DIR "/doc/SetNetwork.1"), statuses);
    EXPECT_EQ(readmeExitStatuses()["`SetNetwork`"], statuses);
}

}  // namespace
