#include "net/ContentDecoder.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <string>

#include "Exception.h"
#include "LocalServer.h"
#include "net/ClientSocket.h"
#include "net/HttpResponse.h"

namespace {
constexpr int kGzipBits = 15 + 16;
constexpr int kZlibBits = 15;
constexpr int kRawBits = -15;

// text compressed by zlib itself, in the wrapping windowBits names.
std::string compress(const std::string& text, int windowBits) {
    z_stream z{};
    EXPECT_EQ(deflateInit2(&z, 9, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY), Z_OK);
    std::string out(deflateBound(&z, text.size()), '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    z.avail_in = static_cast<uInt>(text.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

// Text that compresses well but not to nothing.
std::string sampleText(int lines) {
    std::string text;
    for (int i = 0; i < lines; ++i) {
        text += "<Product id=\"" + std::to_string(i * 7919 % 1000) + "\"/>\n";
    }
    return text;
}

String toString(const std::string& bytes) {
    return String(bytes.data(), static_cast<int>(bytes.size()));
}

struct DecodeCase {
    const char* name;
    int windowBits;
    ContentDecoder::Coding coding;
    int piece;          // bytes per feed; 0: all at once
    long limit;         // on the decoded bytes
    int cut;            // coded bytes dropped from the end (truncation)
    int flip;           // index of a coded byte to damage, -1: none
    const char* error;  // message prefix, "" for success
};

class ContentDecoderTest : public testing::TestWithParam<DecodeCase> {};

TEST_P(ContentDecoderTest, DecodesOrRaises) {
    const DecodeCase& c = GetParam();
    const std::string text = sampleText(400);
    std::string coded = compress(text, c.windowBits);
    coded.resize(coded.size() - static_cast<size_t>(c.cut));
    if (c.flip >= 0) {
        coded[static_cast<size_t>(c.flip)] ^= 0x5a;
    }
    String out;
    std::string error;
    try {
        ContentDecoder decoder(c.coding, c.limit);
        size_t step = c.piece > 0 ? static_cast<size_t>(c.piece) : coded.size();
        for (size_t at = 0; at < coded.size(); at += step) {
            std::string part = coded.substr(at, step);
            decoder.feed(part.data(), static_cast<int>(part.size()), out);
        }
        decoder.finish();
    } catch (const IOException& e) {
        error = e.getMessage().str();
    }
    if (*c.error == '\0') {
        EXPECT_EQ(error, "");
        EXPECT_TRUE(out.str() == text) << out.length() << " bytes decoded";
    } else {
        EXPECT_EQ(error.rfind(c.error, 0), 0u) << error;
        EXPECT_LE(out.length(), c.limit);
    }
}

constexpr long kPlenty = 1 << 20;

INSTANTIATE_TEST_SUITE_P(
    Streams, ContentDecoderTest,
    testing::Values(
        DecodeCase{"Gzip", kGzipBits, ContentDecoder::kGzip, 0, kPlenty, 0, -1, ""},
        DecodeCase{"GzipByteByByte", kGzipBits, ContentDecoder::kGzip, 1, kPlenty, 0, -1, ""},
        DecodeCase{"ZlibWrappedDeflate", kZlibBits, ContentDecoder::kDeflate, 0, kPlenty, 0, -1,
                   ""},
        DecodeCase{"RawDeflate", kRawBits, ContentDecoder::kDeflate, 0, kPlenty, 0, -1, ""},
        // The wrapping is told from the first two bytes, which may come
        // one at a time.
        DecodeCase{"ZlibByteByByte", kZlibBits, ContentDecoder::kDeflate, 1, kPlenty, 0, -1, ""},
        DecodeCase{"RawByteByByte", kRawBits, ContentDecoder::kDeflate, 1, kPlenty, 0, -1, ""},
        DecodeCase{"ExactlyTheLimit", kGzipBits, ContentDecoder::kGzip, 7,
                   static_cast<long>(sampleText(400).size()), 0, -1, ""},
        DecodeCase{"OneByteOverTheLimit", kGzipBits, ContentDecoder::kGzip, 0,
                   static_cast<long>(sampleText(400).size()) - 1, 0, -1, "EC_BODY_TOO_LARGE"},
        DecodeCase{"TruncatedGzip", kGzipBits, ContentDecoder::kGzip, 0, kPlenty, 6, -1,
                   "EC_CONTENT_DECODING"},
        DecodeCase{"TruncatedRaw", kRawBits, ContentDecoder::kDeflate, 0, kPlenty, 20, -1,
                   "EC_CONTENT_DECODING"},
        DecodeCase{"GzipHeaderDamaged", kGzipBits, ContentDecoder::kGzip, 0, kPlenty, 0, 0,
                   "EC_CONTENT_DECODING"},
        DecodeCase{"GzipAsDeflate", kGzipBits, ContentDecoder::kDeflate, 0, kPlenty, 0, -1,
                   "EC_CONTENT_DECODING"}),
    [](const testing::TestParamInfo<DecodeCase>& info) { return info.param.name; });

TEST(ContentDecoderTest, DamagedChecksumAndTrailingBytesAreRefused) {
    const std::string text = sampleText(50);
    std::string gzip = compress(text, kGzipBits);
    std::string damaged = gzip;
    damaged[damaged.size() - 5] ^= 0x01;  // the CRC-32 of the trailer
    EXPECT_THROW(ContentDecoder::decode(toString(damaged), ContentDecoder::kGzip, kPlenty),
                 IOException);
    std::string zlib = compress(text, kZlibBits) + "junk";
    EXPECT_THROW(ContentDecoder::decode(toString(zlib), ContentDecoder::kDeflate, kPlenty),
                 IOException);
    EXPECT_EQ(ContentDecoder::decode(toString(compress(text, kRawBits)), ContentDecoder::kDeflate,
                                     kPlenty)
                  .str(),
              text);
}

TEST(ContentDecoderTest, CodingNames) {
    EXPECT_EQ(ContentDecoder::codingFor(""), ContentDecoder::kIdentity);
    EXPECT_EQ(ContentDecoder::codingFor(" Identity "), ContentDecoder::kIdentity);
    EXPECT_EQ(ContentDecoder::codingFor("GZIP"), ContentDecoder::kGzip);
    EXPECT_EQ(ContentDecoder::codingFor("x-gzip"), ContentDecoder::kGzip);
    EXPECT_EQ(ContentDecoder::codingFor("deflate"), ContentDecoder::kDeflate);
    EXPECT_EQ(ContentDecoder::codingFor("br"), ContentDecoder::kUnknown);
    EXPECT_EQ(ContentDecoder::codingFor("gzip, deflate"), ContentDecoder::kUnknown);
}

// --- Whole bodies read from a socket -------------------------------------

struct BodyCase {
    const char* name;
    std::string sent;  // what the server sends before closing
    long limit;
    HttpResponse::BodyResult result;
    std::string body;  // decoded
};

void PrintTo(const BodyCase& c, std::ostream* os) {
    *os << c.name;
}

std::string head(const std::string& headers) {
    return "HTTP/1.0 200 OK\r\n" + headers + "\r\n";
}

class ReadBodyTest : public testing::TestWithParam<BodyCase> {};

TEST_P(ReadBodyTest, ReadsDecodesAndBounds) {
    const BodyCase& c = GetParam();
    LocalServer server([&](int fd) { sendAll(fd, c.sent); });
    ClientSocket socket("127.0.0.1", server.port());
    socket.setTimeout(2000);
    ASSERT_EQ(socket.open(), 0);
    HttpResponse response;
    ASSERT_TRUE(response.read(&socket));
    String body;
    String reason;
    EXPECT_EQ(response.readBody(body, c.limit, &reason), c.result) << reason.str();
    if (c.result == HttpResponse::kBodyComplete) {
        EXPECT_TRUE(body.str() == c.body);
    } else {
        EXPECT_FALSE(reason.isEmpty());
    }
}

const std::string kDocument = sampleText(300);

INSTANTIATE_TEST_SUITE_P(
    Bodies, ReadBodyTest,
    testing::Values(
        BodyCase{"CloseDelimited", head("") + "to the end", 100, HttpResponse::kBodyComplete,
                 "to the end"},
        BodyCase{"LengthIsAuthoritative", head("Content-Length: 3\r\n") + "abcdef", 100,
                 HttpResponse::kBodyComplete, "abc"},
        BodyCase{"ShortOfTheLength", head("Content-Length: 10\r\n") + "abc", 100,
                 HttpResponse::kBodyShort, ""},
        BodyCase{"AnnouncedOverTheLimit", head("Content-Length: 101\r\n"), 100,
                 HttpResponse::kBodyTooLarge, ""},
        BodyCase{"CloseDelimitedOverTheLimit", head("") + std::string(101, 'x'), 100,
                 HttpResponse::kBodyTooLarge, ""},
        BodyCase{"GzipDecoded", head("Content-Encoding: gzip\r\n") + compress(kDocument, kGzipBits),
                 static_cast<long>(kDocument.size()), HttpResponse::kBodyComplete, kDocument},
        BodyCase{"DeflateWithLength",
                 head("Content-Encoding: deflate\r\nContent-Length: " +
                      std::to_string(compress(kDocument, kRawBits).size()) + "\r\n") +
                     compress(kDocument, kRawBits),
                 kPlenty, HttpResponse::kBodyComplete, kDocument},
        // Small on the wire, over the limit once decoded.
        BodyCase{"LimitAppliesAfterDecoding",
                 head("Content-Encoding: gzip\r\n") + compress(std::string(5000, 'a'), kGzipBits),
                 4999, HttpResponse::kBodyTooLarge, ""},
        BodyCase{"CorruptGzip", head("Content-Encoding: gzip\r\n") + "not gzip at all", kPlenty,
                 HttpResponse::kBodyBadCoding, ""},
        BodyCase{"UnknownCoding", head("Content-Encoding: br\r\n") + "x", kPlenty,
                 HttpResponse::kBodyUnknownCoding, ""}),
    [](const testing::TestParamInfo<BodyCase>& info) { return info.param.name; });

TEST(ReadBodyTest, ReportsTheContentEncoding) {
    LocalServer server([](int fd) { sendAll(fd, head("Content-Encoding:  gzip \r\n")); });
    ClientSocket socket("127.0.0.1", server.port());
    ASSERT_EQ(socket.open(), 0);
    HttpResponse response;
    ASSERT_TRUE(response.read(&socket));
    EXPECT_EQ(response.getContentEncoding(), "gzip");
    EXPECT_TRUE(response.isContentCoded());
    HttpResponse none;
    EXPECT_FALSE(none.isContentCoded());
}
}  // namespace
