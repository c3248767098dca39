#include "MD5.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "TempRoot.h"

namespace {
String digestOf(const std::string& text) {
    MD5 md5;
    md5.update(text.data(), text.size());
    String hex;
    md5.finalHex(hex);
    return hex;
}

// The RFC 1321 test suite, in upper case.
struct Case {
    const char* text;
    const char* digest;
};
constexpr Case kSuite[] = {
    {"", "D41D8CD98F00B204E9800998ECF8427E"},
    {"a", "0CC175B9C0F1B6A831C399E269772661"},
    {"abc", "900150983CD24FB0D6963F7D28E17F72"},
    {"message digest", "F96B697D7CB7938D525A2F31AAF161D0"},
    {"abcdefghijklmnopqrstuvwxyz", "C3FCD3D76192E4007DFB496CCA67E13B"},
    {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
     "D174AB98D277D9F5A5611C2C9F419D9F"},
    {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
     "57EDF4A22BE3C955AC49DA2E2107B67A"},
};

TEST(MD5Test, Rfc1321Suite) {
    for (const Case& c : kSuite) {
        EXPECT_EQ(digestOf(c.text), c.digest) << '"' << c.text << '"';
    }
}

TEST(MD5Test, PiecewiseUpdatesMatchOneUpdate) {
    std::string text(1000, '\0');
    for (size_t i = 0; i < text.size(); ++i) {
        text[i] = static_cast<char>(i * 7);
    }
    for (size_t piece : {1u, 3u, 63u, 64u, 65u, 500u}) {
        MD5 md5;
        for (size_t i = 0; i < text.size(); i += piece) {
            md5.update(text.data() + i, std::min(piece, text.size() - i));
        }
        String hex;
        md5.finalHex(hex);
        EXPECT_EQ(hex, digestOf(text)) << piece;
    }
}

TEST(MD5Test, CopyContinuesFromSameState) {
    MD5 first;
    first.update("message ");
    MD5 copy = first;
    first.update("digest");
    copy.update("digest");
    String a;
    String b;
    first.finalHex(a);
    copy.finalHex(b);
    EXPECT_EQ(a, "F96B697D7CB7938D525A2F31AAF161D0");
    EXPECT_EQ(b, a);
}

std::string md5sumOf(const std::string& path) {
    std::string command = "md5sum '" + path + "'";
    FILE* pipe = popen(command.c_str(), "r");
    char buffer[33] = {};
    size_t n = pipe ? fread(buffer, 1, 32, pipe) : 0;
    if (pipe) {
        pclose(pipe);
    }
    std::string hex(buffer, n);
    for (char& c : hex) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return hex;
}

TEST(MD5Test, FileDigestsMatchMd5sum) {
    TempRoot root;
    for (size_t size : {size_t{0}, size_t{1} << 20, size_t{1000003}}) {
        std::string content(size, '\0');
        for (size_t i = 0; i < size; ++i) {
            content[i] = static_cast<char>((i * 31 + i / 256) & 0xFF);
        }
        // Not "f" + to_string(): GCC 12 warns falsely (-Wrestrict) on it for 32-bit targets.
        std::string name = "f";
        name += std::to_string(size);
        root.write(name, content);
        String hex("prefix:");
        ASSERT_TRUE(MD5::fileDigest(String(root.file(name)), hex)) << size;
        EXPECT_EQ(hex, String("prefix:") + String(md5sumOf(root.file(name)))) << size;
    }
}

TEST(MD5Test, UnreadableFileLeavesOutputUntouched) {
    TempRoot root;
    String out("kept");
    EXPECT_FALSE(MD5::fileDigest(String(root.file("missing")), out));
    EXPECT_FALSE(MD5::fileDigest(String(root.path()), out));  // a directory
    EXPECT_EQ(out, "kept");
}
}  // namespace
