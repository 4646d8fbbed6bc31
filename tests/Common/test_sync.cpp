#include "Common/VQEvent.h"
#include "Common/VQLoadGuard.h"
#include "Common/VQMutex.h"
#include "tests/AssertRecorder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <random>
#include <thread>

namespace {

typedef std::chrono::steady_clock Clock;

long ElapsedMs(Clock::time_point since)
{
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

} // namespace

TEST(Mutex, OwnerMayRelockOthersWaitUntilFullyUnlocked)
{
    CVQMutex mutex;
    mutex.Lock();
    mutex.Lock();  // an editing operation calling a locking query
    auto tryFromOtherThread = [&mutex] {
        bool got = false;
        std::thread([&] {
            got = mutex.TryLock();
            if (got)
                mutex.Unlock();
        }).join();
        return got;
    };
    EXPECT_FALSE(tryFromOtherThread());
    mutex.Unlock();
    EXPECT_FALSE(tryFromOtherThread());
    mutex.Unlock();
    EXPECT_TRUE(tryFromOtherThread());
}

TEST(Mutex, SerialisesIncrementsFromTwoThreads)
{
    CVQMutex mutex;
    long counter = 0;
    auto work = [&] {
        for (int i = 0; i < 20000; ++i) {
            mutex.Lock();
            ++counter;
            mutex.Unlock();
        }
    };
    std::thread other(work);
    work();
    other.join();
    EXPECT_EQ(counter, 40000);
}

TEST(Event, SignalIsKeptForOneWaiterThenResets)
{
    CVQEvent event;
    event.Signal();
    event.Signal();  // not counted
    EXPECT_TRUE(event.TimedWait(0));
    EXPECT_FALSE(event.TimedWait(0));
    event.Signal();
    event.Reset();
    EXPECT_FALSE(event.TimedWait(-5));
}

TEST(Event, TimesOutAfterTheGivenMilliseconds)
{
    CVQEvent event;
    const Clock::time_point start = Clock::now();
    EXPECT_FALSE(event.TimedWait(30));
    EXPECT_GE(ElapsedMs(start), 30);
}

TEST(Event, SecondThreadWakesAWaiterEarly)
{
    CVQEvent event;
    std::atomic<bool> started{false};
    std::thread signaller([&] {
        started = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        event.Signal();
    });
    while (!started)
        std::this_thread::yield();
    const Clock::time_point start = Clock::now();
    EXPECT_TRUE(event.TimedWait(10000));
    EXPECT_LT(ElapsedMs(start), 5000);
    signaller.join();
}

namespace {

struct Step {
    char op;       // 'B' begin, 'A' advance, 'E' end
    double amount;
    double progress;  // overall progress expected after the step
    int depth;
};

void RunSteps(const std::vector<Step>& steps)
{
    CVQLoadGuard& guard = CVQLoadGuard::Instance();
    guard.Reset();
    for (size_t i = 0; i < steps.size(); ++i) {
        const Step& s = steps[i];
        if (s.op == 'B')
            guard.BeginProgressSection(s.amount, 0);
        else if (s.op == 'A')
            guard.AdvanceProgress(s.amount, 0);
        else
            guard.EndProgressSection();
        EXPECT_NEAR(guard.GetProgress(), s.progress, 1e-9) << "step " << i;
        EXPECT_EQ(guard.GetDepth(), s.depth) << "step " << i;
    }
}

} // namespace

TEST(LoadGuard, NestedSectionsShareTheirParentsRange)
{
    RunSteps({
        {'B', 1.0, 0.0, 1},
        {'A', 0.25, 0.25, 1},
        {'B', 0.5, 0.25, 2},   // covers [0.25, 0.75]
        {'A', 0.5, 0.5, 2},
        {'A', -1.0, 0.5, 2},   // never backwards
        {'A', NAN, 0.5, 2},
        {'E', 0, 0.75, 1},     // parent jumps to the child's end
        {'B', 2.0, 0.75, 2},   // cut to what is left: [0.75, 1]
        {'A', 0.5, 0.875, 2},
        {'E', 0, 1.0, 1},
        {'B', 1.0, 1.0, 2},    // nothing left: an empty section
        {'A', 1.0, 1.0, 2},
        {'E', 0, 1.0, 1},
        {'E', 0, 1.0, 0},
        {'B', 1.0, 0.0, 1},    // a new load starts from 0
        {'E', 0, 1.0, 0},
    });
}

TEST(LoadGuard, UnbalancedEndIsReportedAndIgnored)
{
    AssertRecorder reports;
    RunSteps({{'B', 1.0, 0.0, 1}, {'A', 0.5, 0.5, 1}, {'E', 0, 1.0, 0}, {'E', 0, 1.0, 0}, {'E', 0, 1.0, 0}});
    EXPECT_EQ(reports.Count(), 2u);
    EXPECT_TRUE(reports.Has("!m_aSections.empty()"));
}

// Random calls from a careless loader: progress stays in [0, 1] and never
// moves back until a new outermost section starts a new load.
TEST(LoadGuard, RandomCallsKeepProgressMonotonicAndBounded)
{
    AssertRecorder reports;
    CVQLoadGuard& guard = CVQLoadGuard::Instance();
    guard.Reset();
    std::mt19937 random(7);
    std::uniform_int_distribution<int> op(0, 2);
    std::uniform_real_distribution<double> amount(-0.2, 1.2);
    double last = 0.0;
    for (int i = 0; i < 2000; ++i) {
        const int depth = guard.GetDepth();
        switch (op(random)) {
        case 0:
            guard.BeginProgressSection(amount(random), 0);
            if (depth == 0)
                last = 0.0;
            break;
        case 1:
            guard.AdvanceProgress(amount(random), 0);
            break;
        default:
            guard.EndProgressSection();
            break;
        }
        const double progress = guard.GetProgress();
        ASSERT_GE(progress, last - 1e-12) << i;
        ASSERT_LE(progress, 1.0) << i;
        ASSERT_GE(guard.GetDepth(), 0);
        last = progress;
    }
    guard.Reset();
}
