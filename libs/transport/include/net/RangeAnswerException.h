#pragma once

#include "Exception.h"

// An answer to a range request that does not hold what was asked, in the
// form asked: a broken multipart body, a part that does not fit. Unlike a
// socket failure, asking the same server again would bring the same.
class RangeAnswerException : public IOException {
public:
    using IOException::IOException;
};
