#include "download/RangeAnswer.h"

#include <algorithm>

#include "Utils.h"
#include "net/ByteRangesReader.h"
#include "net/HttpResponse.h"

namespace {

[[noreturn]] void broken(const String& why) {
    throw RangeAnswerException("broken range answer: " + why);
}

String header(const HttpResponse& response, const char* name) {
    String value;
    response.getHeaders().getHeader(name, value);
    return value;
}

}  // namespace

RangeAnswer::RangeAnswer(HttpResponse& response) : body_(*response.getBody()) {
    std::optional<String> boundary = ByteRangesReader::boundaryOf(header(response, "Content-Type"));
    if (boundary) {
        parts_ = std::make_unique<ByteRangesReader>(body_, *boundary);
        return;
    }
    part_ = ContentRange::parse(header(response, "Content-Range"));
    if (!part_) {
        broken("no Content-Range");
    }
    at_ = part_->first;
}

RangeAnswer::~RangeAnswer() = default;

void RangeAnswer::seek(int64_t offset, int64_t length) {
    while (!part_ || part_->last < offset) {
        if (!nextPart()) {
            broken("no part holds bytes " + decimalText(offset) + "-");
        }
    }
    if (offset < at_ || part_->last < offset + length - 1) {
        broken("a part splits bytes " + decimalText(offset) + "-");
    }
    skipTo(offset);
}

bool RangeAnswer::nextPart() {
    if (parts_ == nullptr) {
        return false;  // the one range is all there is
    }
    part_ = parts_->nextPart();
    if (part_) {
        at_ = part_->first;
    }
    return part_.has_value();
}

void RangeAnswer::skipTo(int64_t offset) {
    char buffer[4096];
    while (at_ < offset) {
        int n = read(buffer, static_cast<int>(std::min<int64_t>(sizeof buffer, offset - at_)));
        if (n <= 0) {
            throw IOException("range answer cut before byte " + decimalText(offset), "RangeAnswer",
                              __LINE__);
        }
    }
}

int RangeAnswer::read(char* buffer, int length) {
    int64_t left = part_ ? part_->last + 1 - at_ : 0;
    int wanted = static_cast<int>(std::min<int64_t>(length, left));
    if (wanted <= 0) {
        return 0;
    }
    int n = parts_ != nullptr ? parts_->read(buffer, wanted) : body_.read(buffer, wanted);
    at_ += std::max(n, 0);
    return n;
}
