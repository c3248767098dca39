#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>

#include <chrono>
#include <thread>

#include "Clock.h"
#include "FakeClock.h"
#include "SteadyClock.h"

namespace {

using namespace std::chrono_literals;

TEST(ClockTest, TheProcessClockIsTheSteadyClockUnlessReplaced) {
    Clock& steady = Clock::process();
    EXPECT_NE(dynamic_cast<SteadyClock*>(&steady), nullptr);
    FakeClock fake;
    {
        ProcessClockOverride onFakeTime(fake);
        EXPECT_EQ(&Clock::process(), &fake);
    }
    EXPECT_EQ(&Clock::process(), &steady);
}

// A handled signal ends the wait early, as sleep(3) does, so that a stop
// request during a pacing pause is not held up.
TEST(SteadyClockTest, SleepWaitsItsTimeUnlessASignalHandlerRuns) {
    SteadyClock clock;
    Clock::TimePoint start = clock.now();
    clock.sleep(20ms);
    EXPECT_GE(clock.now() - start, 20ms);

    struct sigaction handler {};
    struct sigaction previous {};
    handler.sa_handler = [](int) {};
    ASSERT_EQ(::sigaction(SIGUSR1, &handler, &previous), 0);
    std::thread signaller([target = ::pthread_self()] {
        std::this_thread::sleep_for(50ms);
        ::pthread_kill(target, SIGUSR1);
    });
    start = clock.now();
    clock.sleep(30s);
    signaller.join();
    ::sigaction(SIGUSR1, &previous, nullptr);
    EXPECT_LT(clock.now() - start, 10s);
}

}  // namespace
