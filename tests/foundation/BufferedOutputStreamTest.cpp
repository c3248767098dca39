#include "io/BufferedOutputStream.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "Exception.h"
#include "io/StringOutputStream.h"

namespace {

// Counts the writes that reach it.
class CountingStream : public StringOutputStream {
public:
    using StringOutputStream::write;
    void write(const char* buffer, int length) override {
        ++writes;
        StringOutputStream::write(buffer, length);
    }
    int writes = 0;
};

struct PieceCase {
    const char* name;
    int capacity;
    int piece;
    int pieces;
    int maxWrites;  // writes that may reach the wrapped stream in all
};

class BufferedOutputStreamTest : public testing::TestWithParam<PieceCase> {};

TEST_P(BufferedOutputStreamTest, GathersPiecesInOrderIntoFewWrites) {
    const PieceCase& c = GetParam();
    CountingStream sink;
    std::string sent;
    {
        BufferedOutputStream out(sink, c.capacity);
        for (int i = 0; i < c.pieces; ++i) {
            std::string piece(static_cast<size_t>(c.piece), static_cast<char>('a' + i % 26));
            out.write(piece.data(), c.piece);
            sent += piece;
            // Everything written is either passed on or still buffered.
            ASSERT_EQ(sink.size() + out.buffered(), static_cast<int>(sent.size()));
            ASSERT_LE(out.buffered(), c.capacity);
        }
    }
    EXPECT_EQ(std::string(sink.getString().data(), sink.size()), sent);
    EXPECT_LE(sink.writes, c.maxWrites);
}

INSTANTIATE_TEST_SUITE_P(Pieces, BufferedOutputStreamTest,
                         testing::Values(PieceCase{"SmallPieces", 1024, 100, 50, 5},
                                         PieceCase{"PiecesThatDivideTheBuffer", 4096, 1024, 16, 4},
                                         PieceCase{"PieceAsLargeAsTheBuffer", 64, 64, 5, 5},
                                         PieceCase{"PiecesLargerThanTheBuffer", 64, 100, 4, 4},
                                         PieceCase{"OddPieces", 1000, 333, 9, 4}),
                         [](const testing::TestParamInfo<PieceCase>& info) {
                             return info.param.name;
                         });

TEST(BufferedOutputStreamRaiiTest, FlushAndAnExceptionLeaveEverythingWritten) {
    CountingStream sink;
    try {
        BufferedOutputStream out(sink, 1024);
        out.write("head", 4);
        out.flush();
        EXPECT_EQ(sink.size(), 4);  // passed on at the flush, not later
        out.write("tail", 4);
        EXPECT_EQ(sink.size(), 4);
        throw std::runtime_error("transfer broke off");
    } catch (const std::runtime_error&) {
    }
    EXPECT_EQ(std::string(sink.getString().data(), sink.size()), "headtail");
}

TEST(BufferedOutputStreamRaiiTest, CloseWritesTheRestAndClosesBoth) {
    CountingStream sink;
    BufferedOutputStream out(sink, 1024);
    out.write("abc", 3);
    out.close();
    EXPECT_EQ(sink.writes, 1);
    EXPECT_TRUE(sink.isClosed());
    EXPECT_THROW(out.write("x", 1), IOException);
    out.close();  // a second close does nothing
}

}  // namespace
