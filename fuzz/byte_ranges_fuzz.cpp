// A multipart/byteranges answer: the Content-Type value, a NUL, then the
// body, read part by part to the end.
#include <algorithm>
#include <string_view>

#include "Exception.h"
#include "FuzzInput.h"
#include "io/InputStream.h"
#include "net/ByteRangesReader.h"

namespace {
class ViewInputStream : public InputStream {
public:
    explicit ViewInputStream(std::string_view bytes) : rest_(bytes) {}
    using InputStream::read;
    int read() override { return rest_.empty() ? -1 : static_cast<unsigned char>(take(1)[0]); }
    int read(char* buffer, int length) override {
        std::string_view piece = take(static_cast<size_t>(std::max(length, 0)));
        std::copy(piece.begin(), piece.end(), buffer);
        return static_cast<int>(piece.size());
    }

private:
    std::string_view take(size_t count) {
        std::string_view piece = rest_.substr(0, count);
        rest_.remove_prefix(piece.size());
        return piece;
    }

    std::string_view rest_;
};

// A part yields exactly its announced length when it ends without an
// exception, and never more.
void readPart(ByteRangesReader& reader, const ContentRange& range) {
    char buffer[256];
    int64_t count = 0;
    for (int got = reader.read(buffer, sizeof buffer); got > 0;
         got = reader.read(buffer, sizeof buffer)) {
        count += got;
        if (got > static_cast<int>(sizeof buffer) || count > range.length()) {
            __builtin_trap();
        }
    }
    if (count != range.length()) {
        __builtin_trap();
    }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    size_t nul = std::min(input.find('\0'), input.size());
    std::optional<String> boundary = ByteRangesReader::boundaryOf(String(input.substr(0, nul)));
    if (!boundary) {
        return 0;
    }
    ViewInputStream body(input.substr(std::min(nul + 1, input.size())));
    ByteRangesReader reader(body, *boundary);
    try {
        while (std::optional<ContentRange> range = reader.nextPart()) {
            if (range->length() <= 0) {
                __builtin_trap();
            }
            // Every other part is left half read, for nextPart to skip.
            if (range->first % 2 == 0) {
                readPart(reader, *range);
            }
        }
    } catch (const IOException&) {
    }
    return 0;
}
