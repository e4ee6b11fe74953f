#pragma once

// The host loop: the one thread on which every plug-in callback runs.
//
// Other threads (the HTTP server's workers, the signal watcher) hand work to the loop with Post
// or Call; the loop runs posted tasks and due timers one at a time, so the plug-in is never
// entered from two threads and never re-entered. Timers run on the monotonic clock.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

namespace Korvel::VelHost {

class HostLoop {
public:
    using Clock = std::chrono::steady_clock;
    using Task = std::function<void()>;

    HostLoop() = default;
    HostLoop(const HostLoop&) = delete;
    HostLoop& operator=(const HostLoop&) = delete;

    // Queues a task; any thread. False (and the task is dropped) once the loop is closed.
    bool Post(Task task);

    // Runs `work` on the loop and waits up to `timeLimit` for its result; any thread but the
    // loop's own. Empty when the loop is closed, or the work did not finish in time (it still
    // runs later then, and its result is dropped).
    template <typename Result>
    std::optional<Result> Call(std::function<Result()> work, std::chrono::milliseconds timeLimit);

    // Arms a one-shot timer; from the loop thread (host SetTimer runs there).
    void AddTimer(Clock::duration delay, Task task);
    // Forgets every pending timer without running it.
    void DropTimers();
    std::size_t PendingTimerCount() const;

    // Runs tasks and due timers until Stop. Returns at once after Close.
    void Run();
    // Like Run, but also returns when `done` holds after an item has run, or at `deadline`.
    // Returns whether `done` held.
    bool RunUntil(const std::function<bool()>& done, Clock::time_point deadline);

    // Makes Run return after the item running now; any thread, also from a signal watcher.
    void Stop();
    bool StopRequested() const;

    // Refuses further posts and drops the queued tasks (their callers see an empty Call result).
    void Close();

private:
    struct Timer {
        Task task;
    };

    // Takes the next item to run: a posted task first, else the earliest due timer. Waits for
    // one until `deadline`; empty when none came, Stop was requested or the loop is closed.
    std::optional<Task> Next(Clock::time_point deadline);

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Task> tasks_;
    std::multimap<Clock::time_point, Timer> timers_;
    bool stop_ = false;
    bool closed_ = false;
};

template <typename Result>
std::optional<Result> HostLoop::Call(std::function<Result()> work,
                                     std::chrono::milliseconds timeLimit) {
    struct Shared {
        std::mutex mutex;
        std::condition_variable done;
        std::optional<Result> result;
        bool finished = false;
    };
    // Marks the call finished when the task goes, whether it ran or was dropped by Close, so
    // that the caller never waits for a task that will not run.
    struct Completion {
        explicit Completion(std::shared_ptr<Shared> state) : shared(std::move(state)) {}
        Completion(const Completion&) = delete;
        Completion& operator=(const Completion&) = delete;
        std::shared_ptr<Shared> shared;
        ~Completion() {
            std::lock_guard lock(shared->mutex);
            shared->finished = true;
            shared->done.notify_all();
        }
    };
    auto shared = std::make_shared<Shared>();
    auto completion = std::make_shared<Completion>(shared);
    const bool posted = Post([completion, work = std::move(work)]() mutable {
        std::optional<Result> result(work());
        std::lock_guard lock(completion->shared->mutex);
        completion->shared->result = std::move(result);
    });
    completion.reset();
    if (!posted) {
        return std::nullopt;
    }
    std::unique_lock lock(shared->mutex);
    if (!shared->done.wait_for(lock, timeLimit, [&] { return shared->finished; })) {
        return std::nullopt;
    }
    return std::move(shared->result);
}

} // namespace Korvel::VelHost
