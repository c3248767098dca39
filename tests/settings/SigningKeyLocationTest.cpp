#include "SigningKeyLocation.h"

#include <gtest/gtest.h>

#include <string>

#include "TempRoot.h"

namespace {

// The installation root's key wins over the system's; a missing one is
// passed over, and without both no key is configured.
TEST(SigningKeyLocationTest, RootKeyElseSystemKey) {
    TempRoot dir;
    String root(dir.file("root.pem"));
    String system(dir.file("system.pem"));
    EXPECT_EQ(SigningKeyLocation::choose(root, system), "");
    dir.write("system.pem", "key");
    EXPECT_EQ(SigningKeyLocation::choose(root, system), system);
    dir.write("root.pem", "key");
    EXPECT_EQ(SigningKeyLocation::choose(root, system), root);
    dir.remove("system.pem");
    EXPECT_EQ(SigningKeyLocation::choose(root, system), root);
    EXPECT_EQ(SigningKeyLocation::choose(String(), String()), "");
}

}  // namespace
