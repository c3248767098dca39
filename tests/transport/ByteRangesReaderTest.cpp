#include <gtest/gtest.h>

#include <string>

#include "Exception.h"
#include "TrickleInputStream.h"
#include "net/ByteRangesReader.h"

namespace {
struct BoundaryCase {
    const char* name;
    std::string contentType;
    const char* boundary;  // null: none
};

class BoundaryOfTest : public testing::TestWithParam<BoundaryCase> {};

TEST_P(BoundaryOfTest, FindsTheBoundaryOrNone) {
    const BoundaryCase& c = GetParam();
    std::optional<String> boundary = ByteRangesReader::boundaryOf(c.contentType);
    ASSERT_EQ(boundary.has_value(), c.boundary != nullptr);
    if (c.boundary != nullptr) {
        EXPECT_EQ(*boundary, c.boundary);
    }
}

const std::string k70(70, 'b');

INSTANTIATE_TEST_SUITE_P(
    Types, BoundaryOfTest,
    testing::Values(
        BoundaryCase{"Unquoted", "multipart/byteranges; boundary=3d6b6a416f9b5", "3d6b6a416f9b5"},
        BoundaryCase{"QuotedAnyCase", "Multipart/ByteRanges;BOUNDARY=\"a b:c\" ", "a b:c"},
        BoundaryCase{"AfterAnotherParameter",
                     "multipart/byteranges; x=\"a;boundary=no\"; boundary=yes", "yes"},
        BoundaryCase{"SeventyLong", "multipart/byteranges; boundary=" + k70, k70.c_str()},
        BoundaryCase{"SeventyOneLong", "multipart/byteranges; boundary=" + k70 + "b", nullptr},
        BoundaryCase{"OtherMultipart", "multipart/mixed; boundary=abc", nullptr},
        BoundaryCase{"OtherType", "text/plain", nullptr},
        BoundaryCase{"LongerTypeName", "multipart/byterangesx; boundary=abc", nullptr},
        BoundaryCase{"Missing", "multipart/byteranges", nullptr},
        BoundaryCase{"Empty", "multipart/byteranges; boundary=", nullptr},
        BoundaryCase{"EmptyQuoted", "multipart/byteranges; boundary=\"\"", nullptr},
        BoundaryCase{"QuoteNotClosed", "multipart/byteranges; boundary=\"abc", nullptr},
        BoundaryCase{"GivenTwice", "multipart/byteranges; boundary=a; boundary=b", nullptr}),
    [](const testing::TestParamInfo<BoundaryCase>& info) { return info.param.name; });

struct ReaderCase {
    const char* name;
    std::string body;
    std::string expected;       // parts as "range:bytes|", then "end" or "!" and the error
    int readPerPart = 1 << 20;  // bytes read of each part before moving on
    size_t unread = 0;          // bytes of the stream left after the closing delimiter
    const char* contentType = "multipart/byteranges; boundary=B";
};

void PrintTo(const ReaderCase& c, std::ostream* os) {
    *os << c.name;
}

std::string rangeText(const ContentRange& range) {
    return std::to_string(range.first) + "-" + std::to_string(range.last) + "/" +
           (range.total < 0 ? "*" : std::to_string(range.total));
}

// Appends up to limit bytes of the part to out, read in pieces of two bytes
// so that a part's end falls inside a read.
void readUpTo(ByteRangesReader& reader, int limit, std::string& out) {
    char piece[2];
    for (int count = 0; count < limit;) {
        int got = reader.read(piece, std::min(2, limit - count));
        if (got == 0) {
            return;
        }
        out.append(piece, got);
        count += got;
    }
}

class ByteRangesReaderTest : public testing::TestWithParam<ReaderCase> {};

TEST_P(ByteRangesReaderTest, ReadsThePartsOrRaises) {
    const ReaderCase& c = GetParam();
    TrickleInputStream stream(c.body, 3);
    ByteRangesReader reader(stream, ByteRangesReader::boundaryOf(c.contentType).value());
    std::string transcript;
    try {
        while (std::optional<ContentRange> range = reader.nextPart()) {
            transcript += rangeText(*range) + ":";
            readUpTo(reader, c.readPerPart, transcript);
            transcript += "|";
        }
        transcript += "end";
        EXPECT_EQ(c.body.size() - stream.position(), c.unread);
        EXPECT_FALSE(reader.nextPart().has_value());
    } catch (const RangeAnswerException& e) {
        transcript += "!" + e.getMessage().str();
    } catch (const IOException& e) {
        transcript += "?" + e.getMessage().str();
    }
    EXPECT_EQ(transcript, c.expected);
}

std::string part(const std::string& range, const std::string& bytes, const char* end = "\r\n") {
    return std::string("Content-Type: text/plain") + end + "Content-Range: " + range + end + end +
           bytes;
}

const std::string kTwoParts = "\r\n--B\r\n" + part("bytes 0-3/20", "abcd") + "\r\n--B\r\n" +
                              part("bytes 10-13/20", "wxyz") + "\r\n--B--";
const std::string kBroken = "!broken multipart body: ";
const std::string kCut = "?multipart body cut: ";

INSTANTIATE_TEST_SUITE_P(
    Bodies, ByteRangesReaderTest,
    testing::Values(
        ReaderCase{"TwoPartsEpilogueUnread", kTwoParts + "\r\nepilogue",
                   "0-3/20:abcd|10-13/20:wxyz|end", 1 << 20, 10},
        ReaderCase{"PreambleSkipped",
                   "text --B inside a line\r\n--B\r\n" + part("bytes 0-1/2", "ab") + "\r\n--B--",
                   "0-1/2:ab|end"},
        ReaderCase{"WiderRangeThanAsked",
                   "--B\r\n" + part("bytes 0-9/*", "0123456789") + "\r\n--B--",
                   "0-9/*:0123456789|end"},
        ReaderCase{"LineFeedsOnly",
                   "--B\n" + part("bytes 0-1/5", "ab", "\n") + "\n--B\n" +
                       part("BYTES 3-4/5", "de", "\n") + "\n--B--",
                   "0-1/5:ab|3-4/5:de|end"},
        ReaderCase{"QuotedBoundary", "--x'(y)\r\n" + part("bytes 0-1/2", "ab") + "\r\n--x'(y)--",
                   "0-1/2:ab|end", 1 << 20, 0, "multipart/byteranges; boundary=\"x'(y)\""},
        ReaderCase{"NextPartMidPartSkipsTheRest", kTwoParts, "0-3/20:ab|10-13/20:wx|end", 2},
        ReaderCase{"NextPartBeforeReading", kTwoParts, "0-3/20:|10-13/20:|end", 0},
        ReaderCase{"HeadersJustUnderTheLimit",
                   "--B\r\nX-Pad: " + std::string(8100, 'p') + "\r\n" + part("bytes 0-0/1", "a") +
                       "\r\n--B--",
                   "0-0/1:a|end"},
        ReaderCase{"NoClosingDelimiter", "--B\r\n" + part("bytes 0-1/2", "ab") + "\r\n",
                   "0-1/2:ab|" + kCut + "the body ends early"},
        ReaderCase{"CutInsidePart", "--B\r\n" + part("bytes 0-9/10", "abc"),
                   "0-9/10:abc" + kCut + "the body ends 7 bytes before the end of a part"},
        ReaderCase{"EmptyBody", "", kCut + "the body ends early"},
        ReaderCase{"NoContentRange", "--B\r\nContent-Type: text/plain\r\n\r\nab\r\n--B--",
                   kBroken + "a part without Content-Range"},
        ReaderCase{"MalformedContentRange", "--B\r\n" + part("bytes 0-1/1", "ab") + "\r\n--B--",
                   kBroken + "malformed Content-Range \"bytes 0-1/1\""},
        ReaderCase{"MalformedHeaderLine", "--B\r\nno colon\r\n\r\n",
                   kBroken + "malformed part header"},
        ReaderCase{"PartLongerThanAnnounced", "--B\r\n" + part("bytes 0-1/3", "abc") + "\r\n--B--",
                   "0-1/3:ab|" + kBroken + "no delimiter after a part"},
        ReaderCase{"OtherBoundaryAfterPart", "--B\r\n" + part("bytes 0-1/2", "ab") + "\r\n--C--",
                   "0-1/2:ab|" + kBroken + "no delimiter after a part"},
        ReaderCase{"GarbageAfterDelimiter", "--B\r\n" + part("bytes 0-1/2", "ab") + "\r\n--Bx\r\n",
                   "0-1/2:ab|" + kBroken + "garbage after a delimiter"},
        ReaderCase{"HeadersOverTheLimit",
                   "--B\r\nX-Pad: " + std::string(8200, 'p') + "\r\n" + part("bytes 0-0/1", "a"),
                   kBroken + "part headers over 8 KiB"},
        ReaderCase{"PreambleWithoutDelimiter", std::string(9000, '\n') + "--B\r\n",
                   kBroken + "no delimiter in the first 8 KiB"}),
    [](const testing::TestParamInfo<ReaderCase>& info) { return info.param.name; });
}  // namespace
