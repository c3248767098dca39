// Block-delta matching: BlockMatcher::match over a 64 MiB seed against the
// index of a new file made from it by scattered insertions in 1% of the
// blocks (each shifts the rest, so the scan loses and finds the blocks
// again), and against an unrelated file (every position rolled).
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "delta/BlockIndex.h"
#include "delta/BlockMatcher.h"
#include "io/FileDescriptor.h"

namespace {

constexpr size_t kSeedBytes = 64 << 20;

std::string randomBytes(size_t count, std::mt19937& random) {
    std::string bytes(count, '\0');
    std::generate(bytes.begin(), bytes.end(), [&] { return static_cast<char>(random()); });
    return bytes;
}

// A file below TMPDIR, removed when the program ends.
class BenchFile {
public:
    BenchFile(const std::string& name, const std::string& bytes)
        : path_(std::filesystem::temp_directory_path() /
                ("lm_benchmarks_" + name + "." + std::to_string(::getpid()))) {
        std::ofstream(path_, std::ios::binary)
            .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        fd_.reset(::open(path_.c_str(), O_RDONLY | O_CLOEXEC));
    }
    ~BenchFile() {
        fd_.reset();
        std::error_code ignored;
        std::filesystem::remove(path_, ignored);
    }
    int fd() const { return fd_.get(); }

private:
    std::filesystem::path path_;
    FileDescriptor fd_;
};

std::string withInsertions(const std::string& bytes, int percent, std::mt19937& random) {
    size_t count =
        bytes.size() / BlockIndex::kDefaultBlockSize * static_cast<size_t>(percent) / 100;
    std::uniform_int_distribution<size_t> anywhere(0, bytes.size());
    std::vector<size_t> places(count);
    std::generate(places.begin(), places.end(), [&] { return anywhere(random); });
    std::sort(places.begin(), places.end());
    std::string out;
    size_t from = 0;
    for (size_t place : places) {
        out.append(bytes, from, place - from).append(randomBytes(7, random));
        from = place;
    }
    return out.append(bytes, from);
}

// The seed, and a new file with changedPercent of its blocks changed by a
// few inserted bytes at a random place.
struct DeltaFiles {
    explicit DeltaFiles(int changedPercent) {
        std::mt19937 random(42);
        std::string seedBytes = randomBytes(kSeedBytes, random);
        std::string newBytes = changedPercent >= 100
                                   ? randomBytes(kSeedBytes, random)
                                   : withInsertions(seedBytes, changedPercent, random);
        std::string name = "delta" + std::to_string(changedPercent);
        seed.emplace(name + "_seed", seedBytes);
        BenchFile indexed(name + "_new", newBytes);
        index.emplace(BlockIndex::ofFile(indexed.fd()));
    }
    std::optional<BenchFile> seed;
    std::optional<BlockIndex> index;
};

const DeltaFiles& filesFor(int changedPercent) {
    if (changedPercent >= 100) {
        static const DeltaFiles unrelated(100);
        return unrelated;
    }
    static const DeltaFiles scattered(changedPercent);
    return scattered;
}

void BM_BlockMatcherMatch(benchmark::State& state) {
    const DeltaFiles& files = filesFor(static_cast<int>(state.range(0)));
    BlockMatcher matcher(*files.index);
    size_t found = 0;
    for (auto _ : state) {
        std::vector<int64_t> matches = matcher.match(files.seed->fd());
        found = files.index->blockCount() -
                static_cast<size_t>(std::count(matches.begin(), matches.end(), -1));
        benchmark::DoNotOptimize(matches);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kSeedBytes));
    state.counters["found%"] =
        100.0 * static_cast<double>(found) / static_cast<double>(files.index->blockCount());
}
// Argument: the percentage of blocks changed (100: an unrelated seed).
BENCHMARK(BM_BlockMatcherMatch)->Arg(1)->Arg(100)->Unit(benchmark::kMillisecond);

}  // namespace
