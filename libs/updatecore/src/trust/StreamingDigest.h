#pragma once

#include <cstdint>
#include <optional>

#include "MD5.h"
#include "String.h"
#include "io/FilterOutputStream.h"
#include "trust/Sha256.h"

// The MD5 of a download, and its SHA-256 when one is announced, computed
// while its bytes are written so that the file need not be read again: a
// resumed download hashes the part already on disk first. Only a digest of
// exactly the bytes the file holds is given out; otherwise the caller reads
// the file.
class StreamingDigest {
public:
    // Whether the next starts compute a SHA-256 too.
    void setSha256Wanted(bool wanted) { sha256Wanted_ = wanted; }
    // Starts over with the first stored bytes of path; when they cannot be
    // read the digest stays unusable until the next start.
    void start(const String& path, int32_t stored);
    void feed(const char* bytes, int length);
    // Unusable until the next start: the file changes in other ways.
    void discard() { usable_ = false; }
    // The lower-case hex MD5 when the bytes fed since start are size
    // bytes, else "". The SHA-256 of the same bytes is kept for sha256().
    String finish(int32_t size);
    // The lower-case hex SHA-256 the last finish gave, or "" when it gave
    // none or none was wanted.
    const String& sha256() const { return sha256Text_; }

private:
    MD5 md5_;
    std::optional<Sha256> sha256_;
    String sha256Text_;
    bool sha256Wanted_ = false;
    int64_t count_ = 0;
    bool usable_ = false;
};

// Passes writes on to out and feeds them to the digest, when there is one.
class DigestingOutputStream : public FilterOutputStream {
public:
    DigestingOutputStream(OutputStream& out, StreamingDigest* digest)
        : FilterOutputStream(out), digest_(digest) {}

    using FilterOutputStream::write;
    void write(int byte) override {
        char c = static_cast<char>(byte);
        write(&c, 1);
    }
    void write(const char* buffer, int length) override {
        out().write(buffer, length);
        if (digest_ != nullptr) {
            digest_->feed(buffer, length);
        }
    }

private:
    StreamingDigest* digest_;
};
