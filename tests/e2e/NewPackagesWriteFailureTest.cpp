// An update run that cannot write its list of packages to install (the disk
// fills up) must neither leave a cut-off list nor install the list an
// earlier run left behind.
#include <gtest/gtest.h>

#include <string>

#include "FileSizeLimit.h"
#include "UpdateFixture.h"

namespace {

class NewPackagesWriteFailureTest : public UpdateFixture {
protected:
    void SetUp() override {
        UpdateFixture::SetUp();
        registerProduct5();
    }
};

TEST_F(NewPackagesWriteFailureTest, TheEarlierListIsNotInstalled) {
    // A first run installs version 2.0.0.1 and leaves its list behind.
    ServedFile first = makeZip("p5.zip", {{"install", installingScript(root_, "install5", 0), 0755},
                                          {"payload", "first"}});
    startServer(config({
        textRoute("POST /lm-update", updateResponse(201, packageXml(5, version2001(), "pkg/p5.zip",
                                                                    first, "install"))),
        fileRoute("GET /lm-download?path=pkg/p5.zip", first),
    }));
    ProgramResult r = update(5);
    ASSERT_EQ(r.exitStatus, 2) << r.out << r.err;
    const std::string earlierList = root_.read("conf/lm-newpkgs");
    ASSERT_GT(earlierList.size(), 400u);
    root_.remove("record/install5");
    root_.remove("opt/prod5/payload");

    // The second run downloads a tiny package, but its list cannot be
    // written whole.
    ServedFile second = servedFile("p5-3.zip", "x");
    startServer(config({
        textRoute("POST /lm-update",
                  updateResponse(201, packageXml(5,
                                                 "<LmVersionInfo major=\"3\" minor=\"0\" "
                                                 "patchLevel=\"0\" buildNum=\"0\" status=\"\" "
                                                 "desc=\"\"/>",
                                                 "pkg/p5-3.zip", second, "install"))),
        fileRoute("GET /lm-download?path=pkg/p5-3.zip", second),
    }));
    {
        FileSizeLimit limit(300);
        if (!limit.active()) {
            GTEST_SKIP() << "cannot limit the file size";
        }
        r = update(5);
    }
    EXPECT_NE(r.err.find(root_.file("conf/lm-newpkgs") + ": File too large"), std::string::npos)
        << r.err;
    EXPECT_NE(r.exitStatus, 2) << r.out << r.err;
    EXPECT_FALSE(root_.exists("record/install5")) << "the earlier list was installed again";
    EXPECT_FALSE(root_.exists("opt/prod5/payload"));
    EXPECT_EQ(installedVersion(5), "2.0.0.1");
    EXPECT_FALSE(root_.exists("conf/lm-newpkgs"));
}

}  // namespace
