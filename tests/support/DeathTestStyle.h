#pragma once

#include <gtest/gtest.h>

#include "RunProgram.h"

// Death tests whose child must start from a fresh process re-execute the
// test program ("threadsafe"). Under emulation without binfmt_misc the
// program cannot start itself, so the child is forked instead ("fast"); ctest
// runs each test in a process of its own, so that child is still fresh.
inline void useFreshProcessDeathTests() {
    GTEST_FLAG_SET(death_test_style, underEmulation() ? "fast" : "threadsafe");
}
