#include "trust/StreamingDigest.h"

#include <gtest/gtest.h>

#include <string>

#include "MD5.h"
#include "TempRoot.h"
#include "trust/PackageSignature.h"

namespace {

String oneShot(const std::string& bytes) {
    MD5 md5;
    md5.update(bytes.data(), bytes.size());
    String hex;
    md5.finalHex(hex);
    return hex.toLowerCase();
}

struct DigestCase {
    const char* name;
    int onDisk;   // bytes of the file before the transfer
    int stored;   // the resume point given to start
    int fed;      // bytes fed after start
    int size;     // the size asked of finish
    bool usable;  // a digest comes out, equal to the one-shot digest
};

class StreamingDigestTest : public testing::TestWithParam<DigestCase> {};

// The file holds the first onDisk bytes of the content; the transfer feeds
// the next ones.
TEST_P(StreamingDigestTest, DigestOfStoredPartAndFedBytesOrNothing) {
    const DigestCase& c = GetParam();
    std::string content;
    for (int i = 0; i < 200000; ++i) {
        content += static_cast<char>(i * 7 % 251);
    }
    TempRoot root;
    root.write("package.zip", content.substr(0, static_cast<size_t>(c.onDisk)));
    root.write("whole.zip", content.substr(0, static_cast<size_t>(c.size)));
    StreamingDigest digest;
    digest.setSha256Wanted(true);
    digest.start(String(root.file("package.zip").c_str()), c.stored);
    std::string fed = content.substr(static_cast<size_t>(c.stored), static_cast<size_t>(c.fed));
    for (size_t at = 0; at < fed.size(); at += 1024) {
        digest.feed(fed.data() + at, static_cast<int>(std::min<size_t>(1024, fed.size() - at)));
    }
    String result = digest.finish(c.size);
    if (c.usable) {
        EXPECT_EQ(result, oneShot(content.substr(0, static_cast<size_t>(c.size))));
        EXPECT_EQ(digest.sha256(), PackageSignature::fileSha256(root.file("whole.zip").c_str()));
    } else {
        EXPECT_TRUE(result.isEmpty()) << result.c_str();
        EXPECT_TRUE(digest.sha256().isEmpty()) << digest.sha256().c_str();
    }
    EXPECT_TRUE(digest.finish(c.size).isEmpty());  // given out once
    EXPECT_TRUE(digest.sha256().isEmpty());
}

TEST(StreamingDigestSha256Test, NoSha256UnlessWanted) {
    StreamingDigest digest;
    digest.start("/nonexistent-not-read", 0);
    digest.feed("abc", 3);
    EXPECT_EQ(digest.finish(3), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_TRUE(digest.sha256().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StreamingDigestTest,
    testing::Values(
        DigestCase{"FromTheStart", 0, 0, 150000, 150000, true},
        DigestCase{"ResumedAfterAStoredPartLargerThanOneRead", 100000, 100000, 50000, 150000, true},
        DigestCase{"ResumedAfterAFewBytes", 3000, 3000, 7000, 10000, true},
        DigestCase{"FewerBytesThanTheSize", 0, 0, 9000, 10000, false},
        DigestCase{"StoredPartShorterThanItsResumePoint", 2000, 3000, 7000, 10000, false}),
    [](const testing::TestParamInfo<DigestCase>& info) { return info.param.name; });

TEST(StreamingDigestDiscardTest, DiscardedDigestIsNotGivenOut) {
    StreamingDigest digest;
    digest.start("/nonexistent-not-read", 0);
    digest.feed("abc", 3);
    digest.discard();
    EXPECT_TRUE(digest.finish(3).isEmpty());
}

}  // namespace
