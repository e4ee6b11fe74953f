#include "diagnostics/log.h"
#include "support/captured_log.h"
#include "test_plugin.h"

#include <gtest/gtest.h>

#include <chrono>
#include <new>
#include <vector>

namespace Korvel::Testing {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

constexpr int64_t kSecond = 1000000000;

class Timers : public ::testing::Test {
protected:
    void SetUp() override {
        plugin = MakeTestPlugin(host);
        ASSERT_TRUE(plugin->Initialize(host.Context()));
        host.ClearRecords();
    }

    std::vector<double> TimerDelays() const {
        std::vector<double> delays;
        for (const TimerCall& call : host.TimerCalls()) {
            delays.push_back(call.delaySeconds);
        }
        return delays;
    }

    TestHost host;
    std::unique_ptr<TestPlugin> plugin;
};

TEST_F(Timers, FirstRunIsOnePeriodAfterRegistrationAndRepeats) {
    std::vector<int64_t> runs;
    plugin->AddTimer("vel-service-status.update", 120.0, [&] { runs.push_back(host.Now()); });
    ASSERT_EQ(host.TimerCalls().size(), 1u);
    EXPECT_EQ(host.TimerCalls()[0].label, "Timer: vel-service-status.update");
    EXPECT_EQ(host.TimerCalls()[0].delaySeconds, 120.0);
    EXPECT_EQ(host.TimerCalls()[0].flags, 0u);

    host.AdvanceTime(seconds(119));
    EXPECT_TRUE(runs.empty());
    host.AdvanceTime(seconds(250));
    EXPECT_EQ(runs, (std::vector<int64_t>{120 * kSecond, 240 * kSecond, 360 * kSecond}));
    EXPECT_EQ(host.PendingTimerCount(), 1u);
}

TEST_F(Timers, ReRegistrationStartsANewGeneration) {
    std::vector<int64_t> oldRuns;
    std::vector<int64_t> runs;
    plugin->AddTimer("t", 2.0, [&] { oldRuns.push_back(host.Now()); });
    host.AdvanceTime(seconds(1));
    plugin->AddTimer("t", 5.0, [&] { runs.push_back(host.Now()); });
    EXPECT_EQ(host.PendingTimerCount(), 2u);

    // The firing due at 2 belongs to the old generation and does nothing,
    // not even re-arm.
    host.AdvanceTime(seconds(1));
    EXPECT_TRUE(oldRuns.empty());
    EXPECT_EQ(host.PendingTimerCount(), 1u);

    host.AdvanceTime(seconds(15));
    EXPECT_TRUE(oldRuns.empty());
    EXPECT_EQ(runs, (std::vector<int64_t>{6 * kSecond, 11 * kSecond, 16 * kSecond}));
}

TEST_F(Timers, RegisteringARemovedNameAgainKeepsOneSchedule) {
    std::vector<int64_t> runs;
    plugin->AddTimer("t", 2.0, [&] { runs.push_back(-1); });
    host.AdvanceTime(seconds(1));
    plugin->RemoveTimer("t");
    plugin->AddTimer("t", 5.0, [&] { runs.push_back(host.Now()); });
    // The firing of the removed timer, due at 2, must not start a second
    // schedule of the new one.
    host.AdvanceTime(seconds(15));
    EXPECT_EQ(runs, (std::vector<int64_t>{6 * kSecond, 11 * kSecond, 16 * kSecond}));
    EXPECT_TRUE(host.LogLines().empty());
    EXPECT_EQ(host.PendingTimerCount(), 1u);
}

TEST_F(Timers, RemovedTimerLogsOnceWhenItsFiringArrives) {
    CapturedLog log;
    int runs = 0;
    plugin->AddTimer("t", 2.0, [&] { ++runs; });
    plugin->RemoveTimer("t");
    EXPECT_FALSE(plugin->HasTimer("t"));

    host.AdvanceTime(seconds(3));
    EXPECT_EQ(runs, 0);
    ASSERT_EQ(host.LogLines().size(), 1u);
    EXPECT_EQ(host.LogLines()[0].level, 1);
    EXPECT_EQ(host.LogLines()[0].text, "Couldn't find timer named t");
    ASSERT_EQ(log.Entries().size(), 1u);
    EXPECT_EQ(log.Entries()[0].categories, kLogCategoryDbg | kLogCategoryNet);
    // Nothing re-armed.
    EXPECT_EQ(host.TimerCalls().size(), 1u);
    EXPECT_EQ(host.PendingTimerCount(), 0u);
}

TEST_F(Timers, HandlerLongerThanItsPeriodAsksForNoDelay) {
    // The plug-in's clock runs ahead of the host's by what the handler
    // "spends".
    struct SkewedClock {
        TestHost* host;
        int64_t skew = 0;
        static int64_t Read(void* context) {
            auto* clock = static_cast<SkewedClock*>(context);
            return clock->host->Now() + clock->skew;
        }
    } clock{&host};
    plugin->SetClock(&SkewedClock::Read, &clock);

    int runs = 0;
    plugin->AddTimer("slow", 2.0, [&] {
        ++runs;
        if (runs == 1) {
            clock.skew += 3 * kSecond;
        }
    });
    host.AdvanceTime(seconds(2));
    EXPECT_EQ(runs, 2); // the re-armed run is due at once
    ASSERT_EQ(host.TimerCalls().size(), 3u);
    EXPECT_EQ(host.TimerCalls()[1].delaySeconds, 0.0);
    EXPECT_EQ(host.TimerCalls()[2].delaySeconds, 2.0);
    // The schedule is kept from the start of the slow run: 2 + 2 = 4 on the
    // plug-in's clock, which read 5 when re-arming.
    EXPECT_EQ(host.TimerCalls()[1].requestedAt, 2 * kSecond);
}

TEST_F(Timers, AHandlerThatFailsKeepsItsSchedule) {
    std::vector<int64_t> runs;
    plugin->AddTimer("t", 1.0, [&] {
        runs.push_back(host.Now());
        if (runs.size() == 1) {
            throw std::bad_alloc();
        }
    });
    host.AdvanceTime(seconds(3));
    EXPECT_EQ(runs, (std::vector<int64_t>{1 * kSecond, 2 * kSecond, 3 * kSecond}));
    EXPECT_EQ(host.PendingTimerCount(), 1u);
    EXPECT_EQ(plugin->PendingDeferredCount(), 1u);
}

TEST_F(Timers, DeferredDueTimeGivesTheDelay) {
    int runs = 0;
    host.AdvanceTime(seconds(10));
    plugin->AddDeferred(
        "past", [&] { ++runs; }, host.Now() - 5 * kSecond);
    plugin->AddDeferred(
        "now", [&] { ++runs; }, host.Now());
    plugin->AddDeferred(
        "later", [&] { ++runs; }, host.Now() + 1500 * 1000000LL);
    EXPECT_EQ(TimerDelays(), (std::vector<double>{0.0, 0.0, 1.5}));
    EXPECT_EQ(host.TimerCalls()[0].label, "past");
    EXPECT_EQ(plugin->PendingDeferredCount(), 3u);

    EXPECT_EQ(host.RunDueTimers(), 2u);
    EXPECT_EQ(runs, 2);
    host.AdvanceTime(milliseconds(1500));
    EXPECT_EQ(runs, 3);
    EXPECT_EQ(plugin->PendingDeferredCount(), 0u);
}

TEST_F(Timers, PeriodsBeyondTheClocksRangeSaturate) {
    plugin->AddTimer("far", 1e300, [] {});
    ASSERT_EQ(host.TimerCalls().size(), 1u);
    const double delay = host.TimerCalls()[0].delaySeconds;
    EXPECT_GT(delay, 4.0e9); // about half the clock's range, in seconds
    EXPECT_LT(delay, 1.0e10);
}

TEST_F(Timers, DeferredIdsGrowAndTasksMayDeferMore) {
    std::vector<uint64_t> ids;
    std::vector<int> order;
    ids.push_back(plugin->AddDeferred(
        "outer",
        [&] {
            order.push_back(1);
            ids.push_back(plugin->AddDeferred(
                "inner", [&] { order.push_back(2); }, host.Now()));
        },
        host.Now()));
    ids.push_back(plugin->AddDeferred(
        "second", [&] { order.push_back(3); }, host.Now()));
    host.RunDueTimers();
    EXPECT_EQ(order, (std::vector<int>{1, 3, 2}));
    EXPECT_EQ(ids, (std::vector<uint64_t>{1, 2, 3}));
    EXPECT_EQ(plugin->PendingDeferredCount(), 0u);
}

TEST_F(Timers, AHostCallingBackTwiceRunsTheTaskOnce) {
    int runs = 0;
    plugin->AddDeferred(
        "once", [&] { ++runs; }, host.Now());
    ASSERT_EQ(host.TimerCalls().size(), 1u);
    const TimerCall call = host.TimerCalls()[0];
    call.callback(call.userData);
    call.callback(call.userData);
    EXPECT_EQ(runs, 1);
    // The host's own queued firing finds nothing either.
    host.RunDueTimers();
    EXPECT_EQ(runs, 1);
}

TEST_F(Timers, BaseShutdownEmptiesTheTimerTable) {
    int runs = 0;
    plugin->AddTimer("a", 1.0, [&] { ++runs; });
    plugin->AddTimer("b", 1.0, [&] { ++runs; });
    plugin->Shutdown();
    EXPECT_FALSE(plugin->HasTimer("a"));
    host.AdvanceTime(seconds(2));
    EXPECT_EQ(runs, 0);
    EXPECT_EQ(host.LogLinesContaining("Couldn't find timer named ").size(), 2u);
}

TEST_F(Timers, CallbacksAfterTheObjectIsDestroyedTouchNothing) {
    // Runs under AddressSanitizer in the asan build: any use of the destroyed
    // object or its tables by a late callback fails the test there.
    bool ran = false;
    TestPlugin* object = plugin.get();
    plugin->AddTimer("t", 1.0, [&ran, object] { ran = object->HasTimer("t"); });
    plugin->AddDeferred(
        "task", [&ran, object] { ran = object->PendingDeferredCount() > 0; }, host.Now() + kSecond);
    const TimerCall call = host.TimerCalls()[0];

    // The host's Shutdown entry point shuts the object down and destroys it;
    // the two firings stay queued with the host.
    PluginBase::ShutdownEntry(plugin.release());
    EXPECT_EQ(host.PendingTimerCount(), 2u);
    EXPECT_EQ(host.RunAllTimers(), 2u);
    call.callback(call.userData);
    EXPECT_FALSE(ran);
}

TEST_F(Timers, NewObjectDoesNotInheritTheTasksOfADestroyedOne) {
    bool oldRan = false;
    plugin->AddDeferred(
        "old", [&] { oldRan = true; }, host.Now());
    const TimerCall stale = host.TimerCalls()[0];
    plugin.reset();

    // A new object may reuse the old one's address and entry ids.
    auto fresh = MakeTestPlugin(host);
    ASSERT_TRUE(fresh->Initialize(host.Context()));
    bool freshRan = false;
    fresh->AddDeferred(
        "new", [&] { freshRan = true; }, host.Now() + kSecond);
    stale.callback(stale.userData);
    EXPECT_FALSE(oldRan);
    EXPECT_FALSE(freshRan);
    host.AdvanceTime(seconds(1));
    EXPECT_TRUE(freshRan);
    EXPECT_FALSE(oldRan);
}

} // namespace
} // namespace Korvel::Testing
