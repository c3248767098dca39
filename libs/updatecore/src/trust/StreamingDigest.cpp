#include "trust/StreamingDigest.h"

#include <algorithm>
#include <vector>

#include "Exception.h"
#include "io/FileInputStream.h"

namespace {
constexpr int kReadPiece = 64 * 1024;
}  // namespace

void StreamingDigest::start(const String& path, int32_t stored) {
    md5_ = MD5();
    sha256_.reset();
    if (sha256Wanted_) {
        sha256_.emplace();
    }
    count_ = 0;
    usable_ = true;
    if (stored <= 0) {
        return;
    }
    try {
        FileInputStream in(path);
        std::vector<char> piece(kReadPiece);
        while (count_ < stored) {
            int want = static_cast<int>(std::min<int64_t>(kReadPiece, stored - count_));
            int got = in.read(piece.data(), want);
            if (got <= 0) {
                break;
            }
            feed(piece.data(), got);
        }
    } catch (const Exception&) {
        usable_ = false;
    }
    usable_ = usable_ && count_ == stored;
}

void StreamingDigest::feed(const char* bytes, int length) {
    if (length > 0) {
        md5_.update(bytes, static_cast<size_t>(length));
        if (sha256_) {
            sha256_->update(bytes, static_cast<size_t>(length));
        }
        count_ += length;
    }
}

String StreamingDigest::finish(int32_t size) {
    String digest;
    sha256Text_ = String();
    if (usable_ && count_ == size) {
        md5_.finalHex(digest);
        digest = digest.toLowerCase();
        if (sha256_) {
            sha256Text_ = sha256_->finalHex();
        }
    }
    sha256_.reset();
    usable_ = false;
    return digest;
}
