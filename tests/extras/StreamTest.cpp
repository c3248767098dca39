#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <functional>
#include <string>
#include <utility>

#include "Exception.h"
#include "TempRoot.h"
#include "TrickleInputStream.h"
#include "io/BufferedInputStream.h"
#include "io/BufferedOutputStream.h"
#include "io/FileInputStream.h"
#include "io/FileOutputStream.h"
#include "io/StringOutputStream.h"

namespace {
std::string allBytes() {
    std::string bytes;
    for (int i = 0; i < 256; ++i) {
        bytes += static_cast<char>(i);
    }
    return bytes;
}

// The message of the IOException that action raises ("" when none).
std::string ioError(const std::function<void()>& action) {
    try {
        action();
    } catch (const IOException& e) {
        return e.getMessage().str();
    }
    return "";
}

TEST(FileInputStreamTest, ReadsEveryByteValueAndEndOfFile) {
    TempRoot root;
    root.write("bytes", allBytes());
    FileInputStream in(String(root.file("bytes")));
    EXPECT_EQ(in.available(), 256);
    for (int i = 0; i < 256; ++i) {
        ASSERT_EQ(in.read(), i);
    }
    EXPECT_EQ(in.read(), -1);
    char buffer[4];
    EXPECT_EQ(in.read(buffer, 4), 0);
}

TEST(FileInputStreamTest, MissingFileRaisesPathAndSystemText) {
    TempRoot root;
    std::string path = root.file("missing");
    EXPECT_EQ(ioError([&] { FileInputStream in{String(path)}; }),
              path + ": No such file or directory");
}

TEST(FileInputStreamTest, SkipMarkAndReset) {
    TempRoot root;
    root.write("f", "0123456789");
    FileInputStream in(String(root.file("f")));
    EXPECT_TRUE(in.markSupported());
    EXPECT_EQ(ioError([&] { in.reset(); }), "No mark set");
    EXPECT_EQ(in.skip(3), 3);
    in.mark(0);
    EXPECT_EQ(in.read(), '3');
    EXPECT_EQ(in.available(), 6);
    in.reset();
    EXPECT_EQ(in.read(), '3');
}

TEST(FileInputStreamTest, PipeIsNotMarkableAndSkipsByReading) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    ASSERT_EQ(write(fds[1], "abcdef", 6), 6);
    FileInputStream in(fds[0]);
    EXPECT_FALSE(in.markSupported());
    EXPECT_EQ(in.available(), 6);
    EXPECT_EQ(in.skip(2), 2);
    EXPECT_EQ(in.read(), 'c');
    EXPECT_NE(ioError([&] { in.mark(1); }).find("possibly non-seekable fd"), std::string::npos);
    close(fds[1]);
}

// Every operation but close of a closed stream raises the same error.
void expectAllRefused(InputStream& in) {
    char buffer[1];
    const std::pair<const char*, std::function<void()>> operations[] = {
        {"read", [&] { in.read(); }},
        {"read buffer", [&] { in.read(buffer, 1); }},
        {"available", [&] { in.available(); }},
        {"skip", [&] { in.skip(1); }},
        {"markSupported", [&] { in.markSupported(); }},
        {"mark", [&] { in.mark(1); }},
        {"reset", [&] { in.reset(); }},
    };
    for (const auto& [name, operation] : operations) {
        EXPECT_EQ(ioError(operation), "Stream is already closed") << name;
    }
}

void expectAllRefused(OutputStream& out) {
    const std::pair<const char*, std::function<void()>> operations[] = {
        {"write byte", [&] { out.write('a'); }},
        {"write text", [&] { out.write("text"); }},
        {"write buffer", [&] { out.write("ab", 2); }},
        {"flush", [&] { out.flush(); }},
    };
    for (const auto& [name, operation] : operations) {
        EXPECT_EQ(ioError(operation), "Stream is already closed") << name;
    }
}

TEST(FileInputStreamTest, AvailableBeyondIntRangeIsTheLargestInt) {
    TempRoot root;
    root.write("big", "");
    ASSERT_EQ(truncate(root.file("big").c_str(), 3LL << 30), 0);  // sparse
    FileInputStream in(String(root.file("big")));
    EXPECT_EQ(in.available(), INT_MAX);
    EXPECT_EQ(in.skip((int64_t{3} << 30) - 10), (int64_t{3} << 30) - 10);
    EXPECT_EQ(in.available(), 10);
}

TEST(StreamTest, ClosedStreamsRefuseEverything) {
    TempRoot root;
    root.write("f", "x");
    FileInputStream in(String(root.file("f")));
    in.close();
    in.close();  // a second close does nothing
    expectAllRefused(in);

    FileInputStream other(String(root.file("f")));
    BufferedInputStream buffered(other);
    buffered.close();
    expectAllRefused(buffered);
    EXPECT_EQ(other.read(), 'x');

    FileOutputStream out(String(root.file("g")), FileOutputStream::kTruncate);
    out.close();
    expectAllRefused(out);

    StringOutputStream text;
    text.write("abc");
    text.close();
    EXPECT_EQ(text.getString(), "");
    expectAllRefused(text);

    StringOutputStream sink;
    BufferedOutputStream bufferedOut(sink, 4);
    bufferedOut.close();
    expectAllRefused(bufferedOut);
}

TEST(StreamTest, BaseClassOperationsAreUnimplemented) {
    InputStream in;
    OutputStream out;
    EXPECT_EQ(ioError([&] { in.read(); }), "Unimplemented");
    EXPECT_EQ(ioError([&] { in.available(); }), "Unimplemented");
    EXPECT_EQ(ioError([&] { out.write('a'); }), "Unimplemented");
    EXPECT_EQ(ioError([&] { out.close(); }), "Unimplemented");
}

TEST(FileOutputStreamTest, ModesTruncateAppendAndRequireExistingFile) {
    TempRoot root;
    String path(root.file("f"));
    FileOutputStream(path, FileOutputStream::kTruncate).write("one");
    FileOutputStream(path, FileOutputStream::kAppend).write("two");
    FileOutputStream(path, FileOutputStream::kCreateAppend).write(String("three"));
    EXPECT_EQ(root.read("f"), "onetwothree");
    FileOutputStream(path, FileOutputStream::kTruncate).write('x');
    EXPECT_EQ(root.read("f"), "x");

    std::string missing = root.file("missing");
    EXPECT_EQ(ioError([&] { FileOutputStream(String(missing), FileOutputStream::kAppend); }),
              missing + ": No such file or directory");
    EXPECT_EQ(ioError([&] { FileOutputStream(String(missing), 7); }),
              missing + ": No such file or directory");
    FileOutputStream(String(missing), FileOutputStream::kCreateAppend).write("y");
    EXPECT_EQ(root.read("missing"), "y");
}

TEST(FileOutputStreamTest, ShortWriteIsAFailure) {
    int fds[2];
    ASSERT_EQ(pipe2(fds, O_NONBLOCK), 0);
    int capacity = fcntl(fds[1], F_GETPIPE_SZ);
    ASSERT_GT(capacity, 8192);
    FileOutputStream out(fds[1]);
    // Whole pages, so that exactly 8192 bytes of room are left.
    std::string fill(static_cast<size_t>(capacity) - 8192, 'f');
    out.write(fill.data(), static_cast<int>(fill.size()));
    // Longer than PIPE_BUF: the pipe takes only what fits.
    std::string more(10000, 'm');
    EXPECT_EQ(ioError([&] { out.write(more.data(), static_cast<int>(more.size())); }),
              "short write: 8192 of 10000 bytes");
    close(fds[0]);
}

TEST(FileOutputStreamTest, CloseLeavesStandardDescriptorsOpen) {
    int copy = dup(2);
    FileOutputStream err(2);
    err.close();
    EXPECT_TRUE(err.isClosed());
    EXPECT_NE(fcntl(2, F_GETFD), -1);
    close(copy);
}

TEST(BufferedInputStreamTest, MarkAndResetAcrossRefills) {
    std::string data;
    for (int i = 0; i < 100; ++i) {
        data += static_cast<char>('A' + i % 26);
    }
    TrickleInputStream source(data, 3);
    BufferedInputStream in(source, 4);
    EXPECT_EQ(in.read(), 'A');
    in.mark(50);
    char buffer[40];
    int total = 0;
    while (total < 40) {
        int n = in.read(buffer + total, 40 - total);
        ASSERT_GT(n, 0);
        total += n;
    }
    EXPECT_EQ(std::string(buffer, 40), data.substr(1, 40));
    in.reset();
    total = 0;
    while (total < 40) {
        total += in.read(buffer + total, 40 - total);
    }
    EXPECT_EQ(std::string(buffer, 40), data.substr(1, 40));
    EXPECT_EQ(in.read(), data[41]);
}

TEST(BufferedInputStreamTest, MarkIsDroppedBeyondItsLimit) {
    std::string data(64, 'z');
    TrickleInputStream source(data, 64);
    BufferedInputStream in(source, 4);
    EXPECT_EQ(ioError([&] { in.reset(); }), "No mark was set");
    in.mark(4);
    EXPECT_EQ(in.skip(20), 20);
    EXPECT_EQ(ioError([&] { in.reset(); }), "No mark was set");
}

TEST(BufferedInputStreamTest, SkipWithMarkKeepsBytesForReset) {
    TempRoot root;
    root.write("f", allBytes());
    FileInputStream file(String(root.file("f")));
    BufferedInputStream in(file, 8);
    in.mark(256);
    EXPECT_EQ(in.skip(200), 200);
    EXPECT_EQ(in.read(), 200);
    in.reset();
    EXPECT_EQ(in.read(), 0);
    EXPECT_EQ(in.skip(1000), 255);
    EXPECT_EQ(in.read(), -1);
}

TEST(BufferedInputStreamTest, SkipWithMarkLosesNoBufferedBytes) {
    std::string data;
    for (int i = 0; i < 10000; ++i) {
        data += static_cast<char>('a' + i % 23);
    }
    TrickleInputStream source(data, 4096);
    BufferedInputStream in(source, 4096);
    in.mark(100);
    // Reads through more than one 1024-byte chunk of a full buffer, beyond
    // the mark limit.
    EXPECT_EQ(in.skip(5000), 5000);
    EXPECT_EQ(in.read(), static_cast<unsigned char>(data[5000]));
}

TEST(BufferedInputStreamTest, CloseLeavesWrappedStreamOpen) {
    TempRoot root;
    root.write("f", "ab");
    FileInputStream file(String(root.file("f")));
    BufferedInputStream in(file, 1);
    EXPECT_EQ(in.read(), 'a');
    EXPECT_EQ(in.available(), 1);
    in.close();
    EXPECT_EQ(file.read(), 'b');
}

TEST(BufferedOutputStreamTest, KeepsOrderAcrossBufferedAndDirectWrites) {
    StringOutputStream sink;
    BufferedOutputStream out(sink, 8);
    out.write("abc");
    EXPECT_EQ(sink.getString(), "");
    out.write("defghij");  // does not fit: what was buffered goes first
    EXPECT_EQ(sink.getString(), "abc");
    out.write(std::string(20, 'L').c_str());  // larger than the buffer: written through
    EXPECT_EQ(sink.getString(), "abcdefghij" + std::string(20, 'L'));
    out.write('z');
    out.write("tail");
    out.flush();
    EXPECT_EQ(sink.getString(), "abcdefghij" + std::string(20, 'L') + "ztail");
    out.close();  // the download's file closes with its writer
    EXPECT_TRUE(sink.isClosed());
}
}  // namespace
