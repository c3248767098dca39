// Throughput of the hot paths of an update run: digesting a downloaded
// package, parsing an update response (also at the caps on attributes and
// elements), and the Base64 credentials codec.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "Base64.h"
#include "MD5.h"
#include "ServerAnswer.h"
#include "Vector.h"

namespace {

void BM_Md5(benchmark::State& state) {
    std::vector<char> data(static_cast<size_t>(state.range(0)), 'x');
    for (auto _ : state) {
        MD5 md5;
        md5.update(data.data(), data.size());
        String hex;
        md5.finalHex(hex);
        benchmark::DoNotOptimize(hex);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_Md5)->Arg(1024)->Arg(1 << 20);

// A file of pseudo-random bytes below TMPDIR, removed when the program ends.
class ScratchFile {
public:
    explicit ScratchFile(size_t size) {
        std::filesystem::path dir = std::filesystem::temp_directory_path();
        path_ = dir / ("lm_benchmarks_md5." + std::to_string(::getpid()));
        std::ofstream out(path_, std::ios::binary);
        std::mt19937 random(42);
        std::vector<uint32_t> block(1 << 16);
        for (size_t written = 0; written < size; written += block.size() * 4) {
            std::generate(block.begin(), block.end(), random);
            out.write(reinterpret_cast<const char*>(block.data()),
                      static_cast<std::streamsize>(block.size() * 4));
        }
    }
    ~ScratchFile() {
        std::error_code ignored;
        std::filesystem::remove(path_, ignored);
    }
    std::string path() const { return path_.string(); }

private:
    std::filesystem::path path_;
};

// The digest of a downloaded package as the update checks it, from a file
// in the page cache; md5sum on the same file is the yardstick.
void BM_Md5File(benchmark::State& state) {
    static const ScratchFile file(static_cast<size_t>(state.range(0)));
    for (auto _ : state) {
        String hex;
        benchmark::DoNotOptimize(MD5::fileDigest(file.path(), hex));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_Md5File)->Arg(64 << 20)->Unit(benchmark::kMillisecond);

std::string updateResponse(int packages) {
    std::string text =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<LmUpdateResponse>"
        "<Result code=\"201\" status=\"ok\"/><PackageInfoList>";
    for (int i = 0; i < packages; ++i) {
        std::string id = std::to_string(2000 + i);
        text += "<PackageInfo path=\"\" file=\"\"><ProductInfo id=\"" + id + "\" name=\"P" + id +
                "\" desc=\"Product " + id +
                "\"/><PlatformInfo arch=\"armv7l\" os=\"Linux\" vendor=\"V\" version=\"5.10\"/>"
                "<LmVersionInfo major=\"2\" minor=\"3\" patchLevel=\"4\" buildNum=\"5\"/>"
                "<DownloadInfo url=\"pkg/" +
                id +
                ".zip\" md5=\"0123456789abcdef0123456789abcdef\""
                " size=\"123456\"/><RunInfo format=\"zip\" installScript=\"install.sh\"/>"
                "</PackageInfo>";
    }
    return text + "</PackageInfoList></LmUpdateResponse>\n";
}

void BM_ParseUpdateResponse(benchmark::State& state) {
    const String text(updateResponse(static_cast<int>(state.range(0))));
    for (auto _ : state) {
        ServerAnswer answer;
        answer.parse(text);
        Vector<LmPackageInfo> packages(0, 20);
        benchmark::DoNotOptimize(answer.readPackageInfoList(packages, false));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * text.length());
}
BENCHMARK(BM_ParseUpdateResponse)->Arg(1)->Arg(50);

// An answer whose Result element carries `attributes` attributes: 64 is the
// most an element may hold; 160,000, refused now, once cost 101 s of CPU.
std::string wideResult(int attributes) {
    std::string text = "<LmUpdateResponse><Result code=\"200\" status=\"ok\"";
    for (int i = 2; i < attributes; ++i) {
        text += " x" + std::to_string(i) + "=\"\"";
    }
    return text + "/></LmUpdateResponse>";
}

void BM_ParseWideElement(benchmark::State& state) {
    const String text(wideResult(static_cast<int>(state.range(0))));
    for (auto _ : state) {
        ServerAnswer answer;
        benchmark::DoNotOptimize(answer.parse(text));
    }
}
BENCHMARK(BM_ParseWideElement)->Arg(64)->Arg(160000)->Unit(benchmark::kMicrosecond);

// An answer of `elements` elements (100,000 is the cap on an answer), each
// with four attributes.
void BM_ParseManyElements(benchmark::State& state) {
    std::string text = "<LmUpdateResponse>";
    for (int64_t i = 1; i < state.range(0); ++i) {
        text += "<Server host=\"h" + std::to_string(i) + "\" a=\"1\" b=\"2\" c=\"3\"/>";
    }
    const String document(text + "</LmUpdateResponse>");
    for (auto _ : state) {
        ServerAnswer answer;
        benchmark::DoNotOptimize(answer.parse(document));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * document.length());
}
BENCHMARK(BM_ParseManyElements)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_Base64RoundTrip(benchmark::State& state) {
    const String credentials("update-user:a rather long proxy password 0123456789");
    for (auto _ : state) {
        benchmark::DoNotOptimize(Base64::decode(Base64::encode(credentials)));
    }
}
BENCHMARK(BM_Base64RoundTrip);

}  // namespace

BENCHMARK_MAIN();
