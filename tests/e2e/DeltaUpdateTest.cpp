// Update runs that rebuild a package from the previous one (the seed) and
// the block index the server offers, against the test update server: the
// delta itself, and every way a server or a seed can fail it, each ending
// with the new package installed in the same run.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "UpdateFixture.h"

namespace {

constexpr size_t kPayload = 512 * 1024;

// v1's payload with four 4 KiB stretches changed, far apart.
std::string changed(std::string payload) {
    for (size_t at : {size_t{8192}, size_t{131072}, size_t{300000}, size_t{450000}}) {
        for (size_t i = at; i < at + 4096; ++i) {
            payload[i] = static_cast<char>(~payload[i]);
        }
    }
    return payload;
}

enum class Index { kGood, kMissing, kGarbage, kOfOtherFile };
enum class Seed { kOld, kTampered };

struct DeltaCase {
    const char* name;
    Index index;
    const char* packageSwitch;  // extra fields of the package's answer
    Seed seed;
    const char* logLine;  // the run's line about the delta
    bool delta;           // the package came as a delta, far below its size
};

std::ostream& operator<<(std::ostream& out, const DeltaCase& c) {
    return out << c.name;
}

class DeltaUpdateTest : public UpdateFixture, public testing::WithParamInterface<DeltaCase> {
protected:
    void SetUp() override {
        UpdateFixture::SetUp();
        registerProduct5();
        // Every package is signed: whatever the seed or a range answer
        // holds, only the signed bytes may install.
        root_.mkdirs("keys");
        key_ = root_.file("keys/signer.key");
        ASSERT_EQ(runProgram("/usr/bin/openssl", {"genpkey", "-algorithm", "ED25519", "-out", key_})
                      .exitStatus,
                  0);
        ProgramResult pub = runProgram("/usr/bin/openssl", {"pkey", "-in", key_, "-pubout"});
        root_.write("conf/lm-signing-key.pem", pub.out);
    }

    // The sha256 and signature attributes of the package of file.
    std::string signatureOf(const ServedFile& file) const {
        ProgramResult r = runProgram(sourcePath("scripts/sign-package"),
                                     {file.path, key_, "5", "2.0.0.1", "zip", "install", ""});
        EXPECT_EQ(r.exitStatus, 0) << r.err;
        return r.out.substr(0, r.out.find('\n'));
    }

    ServedFile zipOf(const std::string& name, const std::string& payload) {
        return makeZip(
            name, {{"install", installingScript(root_, "install5", 0), 0755}, {"payload", payload}},
            true);
    }

    // The index of a served file, made by the vendor's tool.
    std::string indexOf(const ServedFile& file) {
        std::string index = file.path + ".lmdelta";
        ProgramResult r = runProgram(deltaIndexExe(), {file.path, index});
        EXPECT_EQ(r.exitStatus, 0) << r.err;
        return index;
    }

    // The seed as the previous update run leaves it.
    void placeSeed(const ServedFile& old, Seed seed) {
        std::string content = root_.read("served/" + old.path.substr(old.path.rfind('/') + 1));
        if (seed == Seed::kTampered) {
            content[content.size() / 2] ^= 0x55;
        }
        root_.mkdirs("download/lmupdate-seed/5");
        root_.write("download/lmupdate-seed/5/p5.zip", content);
    }

    std::string indexAnswer(Index kind, const ServedFile& v1, const ServedFile& v2) {
        switch (kind) {
            case Index::kGood:
                return fileAnswer(indexOf(v2));
            case Index::kMissing:
                return answer("no", 404);
            case Index::kGarbage:
                return answer("LMDELTA but not an index");
            case Index::kOfOtherFile:
                return fileAnswer(indexOf(v1));
        }
        return "";
    }

    // v1 as the seed, v2 on the server.
    void publish(Seed seed) {
        std::string payload1 = noise(kPayload);
        payload2_ = changed(payload1);
        v1_ = zipOf("p5-1.zip", payload1);
        v2_ = zipOf("p5.zip", payload2_);
        placeSeed(v1_, seed);
    }

    void serve(Index index, const std::string& packageSwitch) {
        serveAnswer(index, fileAnswer(v2_.path, packageSwitch));
    }

    // packageAnswer: the answer (or JSON list of answers) to the package's
    // requests.
    void serveAnswer(Index index, const std::string& packageAnswer) {
        std::string xml = packageXml(5, version2001(), "pkg/p5.zip", v2_, "install");
        xml.replace(xml.find("<DownloadInfo "), 14,
                    "<DownloadInfo deltaIndex=\"pkg/p5.zip.lmdelta\" " + signatureOf(v2_) + " ");
        std::string json =
            config({textRoute("POST /lm-update", updateResponse(201, xml)),
                    {"GET /lm-download?path=pkg/p5.zip.lmdelta", indexAnswer(index, v1_, v2_)},
                    {"GET /lm-download?path=pkg/p5.zip", packageAnswer}});
        if (server_ == nullptr) {
            startServer(json);
        } else {
            server_->setConfig(json);
        }
    }

    std::string key_;
    std::string payload2_;
    ServedFile v1_;
    ServedFile v2_;
};

TEST_P(DeltaUpdateTest, EndsInstalledWithTheNewBytes) {
    const DeltaCase& c = GetParam();
    publish(c.seed);
    serve(c.index, c.packageSwitch);

    ProgramResult r = update(5);

    EXPECT_EQ(r.exitStatus, 2) << r.out << r.err;
    EXPECT_EQ(root_.read("opt/prod5/payload"), payload2_);
    std::string line =
        c.delta ? " from the seed, " : "LmUpdate: delta pkg/p5.zip: " + std::string(c.logLine);
    EXPECT_NE(r.err.find(line), std::string::npos) << r.err;
    // Never worse than a full download: what came before a fallback is not
    // fetched again (the changed blocks at most).
    int64_t limit = c.delta ? v2_.size / 8 : v2_.size + 64 * 1024;
    EXPECT_LT(server_->bytesSent(), limit) << r.err;
}

INSTANTIATE_TEST_SUITE_P(
    Fallbacks, DeltaUpdateTest,
    testing::Values(DeltaCase{"Delta", Index::kGood, "", Seed::kOld, "", true},
                    DeltaCase{"TamperedSeed", Index::kGood, "", Seed::kTampered, "", true},
                    DeltaCase{"WholeFileForRanges", Index::kGood, ", \"ignore_range\": true",
                              Seed::kOld, "the server sent the whole file", false},
                    DeltaCase{"Unsatisfiable", Index::kGood, ", \"range_416\": true", Seed::kOld,
                              "range request answered 416", false},
                    DeltaCase{"BrokenMultipart", Index::kGood, ", \"broken_multipart\": true",
                              Seed::kOld, "broken", false},
                    DeltaCase{"NoIndex", Index::kMissing, "", Seed::kOld, "no index (404)", false},
                    DeltaCase{"MalformedIndex", Index::kGarbage, "", Seed::kOld, "malformed index",
                              false},
                    DeltaCase{"IndexOfAnotherFile", Index::kOfOtherFile, "", Seed::kOld,
                              "index does not match", false},
                    DeltaCase{"TamperedRange", Index::kGood, ", \"tamper_ranges\": true",
                              Seed::kOld, "rebuilt file refused", false}),
    [](const testing::TestParamInfo<DeltaCase>& info) { return info.param.name; });

// A delta cut short resumes in the next run where the file ends: the index
// again, and only ranges from there on.
// The cut range answer is resumed in the same run, by ranges from where
// the file ends rather than a request for the rest of the file.
TEST_F(DeltaUpdateTest, ResumesACutDeltaWhereTheFileEnds) {
    publish(Seed::kOld);
    serveAnswer(Index::kGood, "[" + fileAnswer(v2_.path, ", \"close_after\": 6000") + ", " +
                                  fileAnswer(v2_.path) + "]");
    ProgramResult r = update(5);

    EXPECT_EQ(r.exitStatus, 2) << r.err;
    EXPECT_NE(r.err.find("LmUpdate: download cut ("), std::string::npos) << r.err;
    EXPECT_EQ(root_.read("opt/prod5/payload"), payload2_);
    // The last request: the resumed delta's only range request.
    std::string range = server_->requests().back().header("Range");
    EXPECT_GT(std::stoll(range.substr(6, range.find('-') - 6)), 4096) << range;
    EXPECT_NE(range.back(), '-') << "a delta's ranges, not the rest of the file: " << range;
}

}  // namespace
