// The seed cache in a scratch installation root: which seeds a keep, an
// eviction or a release leaves, and what a planted link or another file
// system makes of a keep.
#include "install/SeedCache.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "Exception.h"
#include "SystemLog.h"
#include "TempRoot.h"
#include "TmpfsMount.h"

namespace fs = std::filesystem;

namespace {

constexpr char kCache[] = "download/lmupdate-seed";

struct Planted {
    int id;
    std::string file;
    int size;
};

struct SeedCase {
    const char* name;
    std::vector<Planted> before;  // oldest first
    // What it did, in a word or two, with the log in log.
    std::function<std::string(TempRoot& root)> act;
    const char* result;
    const char* after;   // the seeds left, "ID/FILE" sorted
    const char* logged;  // part of the log, "" for anything
};

void PrintTo(const SeedCase& c, std::ostream* out) {
    *out << c.name;
}

TempRoot& root() {
    return processRoot();
}

// A file of size bytes to keep, in ROOT/from unless dir says otherwise.
DirectoryHandle incoming(const std::string& file, int size, const std::string& dir = "from") {
    root().write(dir + "/" + file, std::string(size, 'n'));
    return DirectoryHandle::open(root().file(dir));
}

std::string keepResult(int32_t id, const std::string& file, int size, int64_t cap) {
    bool kept = SeedCache::open(cap).keep(id, incoming(file, size), file);
    return kept ? "kept" : "not kept";
}

std::string releaseResult(int64_t bytes, int32_t spared) {
    return "freed " + std::to_string(SeedCache::open(0).release(bytes, spared));
}

std::string evictResult(int64_t cap) {
    SeedCache::open(cap).evict(cap);
    return "evicted";
}

std::string openResult() {
    try {
        SeedCache::open(100);
        return "opened";
    } catch (const UnsafePathException&) {
        return "refused";
    }
}

// ROOT/elsewhere, where a link planted at relative points.
void plantLink(const std::string& relative) {
    root().mkdirs("elsewhere");
    fs::create_symlink(root().file("elsewhere"), root().file(relative));
}

std::string seedsLeft() {
    std::vector<std::string> seeds;
    fs::path cache = root().file(kCache);
    if (fs::is_directory(fs::symlink_status(cache))) {
        for (const auto& product : fs::directory_iterator(cache)) {
            if (fs::is_directory(product.symlink_status())) {
                for (const auto& file : fs::directory_iterator(product.path())) {
                    seeds.push_back(product.path().filename().string() + "/" +
                                    file.path().filename().string());
                }
            }
        }
    }
    std::sort(seeds.begin(), seeds.end());
    std::string joined;
    for (const std::string& seed : seeds) {
        joined += (joined.empty() ? "" : " ") + seed;
    }
    return joined;
}

class SeedCacheTest : public testing::TestWithParam<SeedCase> {
protected:
    void SetUp() override { root().clear(); }
    void TearDown() override { root().clear(); }

    // Each planted seed a second older than the next.
    static void plant(const std::vector<Planted>& seeds) {
        long second = 1000;
        for (const Planted& seed : seeds) {
            std::string relative = std::string(kCache) + "/" + std::to_string(seed.id);
            root().write(relative + "/" + seed.file, std::string(seed.size, 's'));
            fs::permissions(root().file(kCache), fs::perms(0700));
            fs::permissions(root().file(relative), fs::perms(0700));
            timespec times[2] = {{second, 0}, {second, 0}};
            ASSERT_EQ(
                ::utimensat(AT_FDCWD, root().file(relative + "/" + seed.file).c_str(), times, 0),
                0);
            ++second;
        }
    }
};

TEST_P(SeedCacheTest, LeavesTheSeedsItShould) {
    const SeedCase& c = GetParam();
    plant(c.before);
    SystemLog::setEcho(true);
    testing::internal::CaptureStderr();
    std::string result = c.act(root());
    std::string log = testing::internal::GetCapturedStderr();
    SystemLog::setEcho(false);
    if (result == "skipped") {
        GTEST_SKIP() << log;
    }
    EXPECT_EQ(result, c.result) << log;
    EXPECT_EQ(seedsLeft(), c.after) << log;
    EXPECT_NE(log.find(c.logged), std::string::npos) << log;
}

const std::vector<Planted> kThree{{1, "a.zip", 100}, {2, "b.zip", 100}, {3, "c.zip", 100}};

INSTANTIATE_TEST_SUITE_P(
    Cache, SeedCacheTest,
    testing::Values(
        SeedCase{"KeepReplacesTheProductsOlderSeed",
                 {{5, "old.zip", 10}},
                 [](TempRoot& r) {
                     std::string result = keepResult(5, "new.zip", 20, 1000);
                     return r.exists("from/new.zip") ? "still there" : result;
                 },
                 "kept",
                 "5/new.zip",
                 ""},
        SeedCase{"KeepEvictsTheOldestToTheCap",
                 {{1, "a.zip", 100}, {2, "b.zip", 100}},
                 [](TempRoot&) { return keepResult(3, "c.zip", 100, 250); },
                 "kept",
                 "2/b.zip 3/c.zip",
                 "seed removed: 1/a.zip"},
        SeedCase{"KeepOverTheCapKeepsNothing",
                 {},
                 [](TempRoot&) { return keepResult(3, "c.zip", 100, 50); },
                 "not kept",
                 "",
                 "LmUpdate: no seed kept: 3/c.zip: larger than the cap of 50 bytes"},
        SeedCase{"EvictTakesTheOldestFirst", kThree, [](TempRoot&) { return evictResult(250); },
                 "evicted", "2/b.zip 3/c.zip", ""},
        SeedCase{"EvictToZeroEmpties", kThree, [](TempRoot&) { return evictResult(0); }, "evicted",
                 "", ""},
        SeedCase{"EvictLeavesADirectoryOthersMayWriteAlone", kThree,
                 [](TempRoot& r) {
                     fs::permissions(r.file(std::string(kCache) + "/2"), fs::perms(0777));
                     return evictResult(0);
                 },
                 "evicted", "2/b.zip", "writable by group or others"},
        SeedCase{"ReleaseSparesTheProductWhileOthersSuffice", kThree,
                 [](TempRoot&) { return releaseResult(150, 1); }, "freed 200", "1/a.zip", ""},
        SeedCase{"ReleaseTakesTheSparedSeedLast", kThree,
                 [](TempRoot&) { return releaseResult(250, 2); }, "freed 300", "", ""},
        SeedCase{"LinkAsTheProductDirectoryIsNotFollowed",
                 {},
                 [](TempRoot& r) {
                     SeedCache cache = SeedCache::open(1000);
                     plantLink(std::string(kCache) + "/5");
                     bool kept = cache.keep(5, incoming("new.zip", 20), "new.zip");
                     bool moved = !fs::is_empty(r.file("elsewhere")) || !r.exists("from/new.zip");
                     return kept ? "kept" : moved ? "moved" : "not kept";
                 },
                 "not kept",
                 "",
                 "lmupdate-seed/5: a link"},
        SeedCase{"LinkAsTheCacheIsNotFollowed",
                 {},
                 [](TempRoot& r) {
                     r.mkdirs("download");
                     plantLink(kCache);
                     std::string result = openResult();
                     return fs::is_empty(r.file("elsewhere")) ? result : "made inside";
                 },
                 "refused",
                 "",
                 ""},
        SeedCase{"AnotherFileSystemKeepsNothing",
                 {},
                 [](TempRoot& r) -> std::string {
                     TmpfsMount disk(r.file("other"), "1m");
                     if (!disk.mounted()) {
                         return "skipped";
                     }
                     bool kept =
                         SeedCache::open(1000).keep(5, incoming("new.zip", 20, "other"), "new.zip");
                     bool stayed = r.exists("other/new.zip");
                     return kept ? "kept" : stayed ? "not kept" : "lost";
                 },
                 "not kept",
                 "",
                 "Invalid cross-device link"}),
    [](const testing::TestParamInfo<SeedCase>& info) { return info.param.name; });

}  // namespace
