// The deferred-task table used from several threads at once: tasks added on worker threads while
// the host thread runs the ones already handed to it. Built and run under ThreadSanitizer too.

#include "plugin/plugin_core.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace Korvel::Testing {
namespace {

// A plug-in object whose host keeps the timers it is given in a locked list; nothing else
// reaches a host.
class TimerOnlyCore : public PluginCore {
public:
    void SendRequest(HostResourceResponse*, const HostResourceRequest*) override {}
    void SendExternalRequest(ExternalResponseRecord*, const ExternalRequestRecord*) override {}
    void FireEvent(const HostEventRecord*) override {}
    void HostSubscribe(const char*, uint32_t, HostEventCallback, void*, uint32_t) override {}
    void HostUnsubscribe(const char*, uint32_t) override {}
    void HostSetTimer(const char*, HostTimerCallback callback, void* userData, double,
                      uint32_t) override {
        std::lock_guard<std::mutex> guard(mutex);
        pending.emplace_back(callback, userData);
    }
    void HostYield() override {}
    void HostBeginWait(const std::string&, uint32_t) override {}
    void HostEndWait() override {}
    bool Start() override { return true; }

    // Takes the timers handed over so far.
    std::vector<std::pair<HostTimerCallback, void*>> TakePending() {
        std::lock_guard<std::mutex> guard(mutex);
        return std::exchange(pending, {});
    }

    std::mutex mutex;
    std::vector<std::pair<HostTimerCallback, void*>> pending;
};

TEST(DeferredTasks, ConcurrentAddsWhileTheHostRunsThem) {
    TimerOnlyCore core;
    constexpr int kThreads = 4;
    constexpr int kTasks = 400;
    std::atomic<int> ran{0};
    std::atomic<int> adding{kThreads};

    std::vector<std::future<void>> workers;
    for (int t = 0; t < kThreads; ++t) {
        workers.push_back(std::async(std::launch::async, [&, t] {
            for (int i = 0; i < kTasks; ++i) {
                core.AddDeferred(
                    "task " + std::to_string(t), [&ran] { ++ran; }, 0);
            }
            --adding;
        }));
    }
    // The host thread runs whatever has been handed over while the workers add more.
    while (true) {
        const bool done = adding.load() == 0;
        const auto batch = core.TakePending();
        for (const auto& [callback, userData] : batch) {
            callback(userData);
        }
        if (done && batch.empty()) {
            break;
        }
        if (batch.empty()) {
            std::this_thread::yield();
        }
    }
    for (auto& worker : workers) {
        worker.get();
    }
    EXPECT_EQ(ran.load(), kThreads * kTasks);
    EXPECT_EQ(core.PendingDeferredCount(), 0u);
}

TEST(DeferredTasks, ConcurrentObjectsWithdrawTheirTasksWhenTheyGo) {
    // Objects on several threads add tasks and are destroyed with tasks still pending; a late
    // callback for one of them finds nothing to run.
    constexpr int kThreads = 4;
    std::atomic<int> ran{0};
    std::vector<std::future<std::vector<std::pair<HostTimerCallback, void*>>>> workers;
    for (int t = 0; t < kThreads; ++t) {
        workers.push_back(std::async(std::launch::async, [&ran] {
            std::vector<std::pair<HostTimerCallback, void*>> late;
            for (int round = 0; round < 50; ++round) {
                TimerOnlyCore core;
                for (int i = 0; i < 4; ++i) {
                    core.AddDeferred(
                        "late", [&ran] { ++ran; }, 0);
                }
                auto pending = core.TakePending();
                late.insert(late.end(), pending.begin(), pending.end());
            }
            return late;
        }));
    }
    for (auto& worker : workers) {
        for (const auto& [callback, userData] : worker.get()) {
            callback(userData);
        }
    }
    EXPECT_EQ(ran.load(), 0);
}

} // namespace
} // namespace Korvel::Testing
