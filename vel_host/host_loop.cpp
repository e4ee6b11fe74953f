#include "vel_host/host_loop.h"

#include <algorithm>

namespace Korvel::VelHost {

bool HostLoop::Post(Task task) {
    {
        std::lock_guard lock(mutex_);
        if (closed_) {
            return false;
        }
        tasks_.push_back(std::move(task));
    }
    wake_.notify_all();
    return true;
}

void HostLoop::AddTimer(Clock::duration delay, Task task) {
    if (delay < Clock::duration::zero()) {
        delay = Clock::duration::zero();
    }
    {
        std::lock_guard lock(mutex_);
        timers_.emplace(Clock::now() + delay, Timer{std::move(task)});
    }
    wake_.notify_all();
}

void HostLoop::DropTimers() {
    std::lock_guard lock(mutex_);
    timers_.clear();
}

std::size_t HostLoop::PendingTimerCount() const {
    std::lock_guard lock(mutex_);
    return timers_.size();
}

std::optional<HostLoop::Task> HostLoop::Next(Clock::time_point deadline) {
    std::unique_lock lock(mutex_);
    while (!stop_ && !closed_) {
        if (!tasks_.empty()) {
            Task task = std::move(tasks_.front());
            tasks_.pop_front();
            return task;
        }
        const Clock::time_point now = Clock::now();
        if (!timers_.empty() && timers_.begin()->first <= now) {
            // Timers due at the same time run in the order they were set (multimap keeps
            // insertion order among equal keys).
            Task task = std::move(timers_.begin()->second.task);
            timers_.erase(timers_.begin());
            return task;
        }
        if (now >= deadline) {
            return std::nullopt;
        }
        // Wake at least once a minute, so that no far-off deadline is handed to the wait.
        Clock::time_point wakeAt = std::min(deadline, now + std::chrono::minutes(1));
        if (!timers_.empty() && timers_.begin()->first < wakeAt) {
            wakeAt = timers_.begin()->first;
        }
        wake_.wait_until(lock, wakeAt);
    }
    return std::nullopt;
}

void HostLoop::Run() {
    while (std::optional<Task> task = Next(Clock::time_point::max())) {
        (*task)();
    }
}

bool HostLoop::RunUntil(const std::function<bool()>& done, Clock::time_point deadline) {
    if (done()) {
        return true;
    }
    while (std::optional<Task> task = Next(deadline)) {
        (*task)();
        if (done()) {
            return true;
        }
    }
    return done();
}

void HostLoop::Stop() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
}

bool HostLoop::StopRequested() const {
    std::lock_guard lock(mutex_);
    return stop_;
}

void HostLoop::Close() {
    std::deque<Task> dropped;
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
        dropped.swap(tasks_);
    }
    wake_.notify_all();
    // Destroyed outside the lock: a dropped Call task holds its caller's shared state only.
}

} // namespace Korvel::VelHost
