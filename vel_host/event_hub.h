#pragma once

// What the host records of the plug-in's activity, shared between the host loop (which adds to
// it) and the HTTP server's workers (which read it and stream it): the events the plug-in fires,
// the latest value of every resource it publishes, and its log lines.

#include "vel_host/host_value_json.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace Korvel::VelHost {

struct LogRecord {
    int32_t level;
    std::string text;
};

// One client of the event stream; holds the events not sent to it yet.
class EventSubscriber {
public:
    // Events queued beyond this many are not kept: the client is too slow and is dropped.
    static constexpr std::size_t kMaxQueued = 1000;

private:
    friend class EventHub;
    std::deque<std::string> queue_; // ready-made Server-Sent Events blocks
    bool dropped_ = false;
};

class EventHub {
public:
    // Level names of the plug-in's log levels: 0 OKAY, 1 WARN, 2 ERROR, 3 ALWAYS; other levels
    // print as their number.
    static std::string LevelName(int32_t level);
    // Log lines kept for GET /host/log; older ones are dropped.
    static constexpr std::size_t kMaxLogRecords = 2000;

    // Records an event the plug-in fired and queues it for every stream client. A payload of the
    // resource-event shape {"uri", "eventType", "data"} also updates the latest value of that
    // resource ("Delete" forgets it).
    void Publish(const std::string& name, const Json& payload);
    // Latest value of every published resource, by path.
    Json Resources() const;
    std::optional<Json> Resource(const std::string& path) const;
    // How many events have been fired so far.
    uint64_t EventCount() const;

    void AddLog(int32_t level, const std::string& text);
    // The kept log lines as [{"level": 1, "levelName": "WARN", "text": "..."}].
    Json Log() const;

    // Stream clients. Subscribe refuses (returns null) once `limit` clients are subscribed.
    std::shared_ptr<EventSubscriber> Subscribe(std::size_t limit = SIZE_MAX);
    void Unsubscribe(const std::shared_ptr<EventSubscriber>& subscriber);
    std::size_t SubscriberCount() const;
    // Waits up to `timeLimit` for the client's next block. Returns the block; the empty text when
    // the time ran out; nothing once the hub is closed or the client was dropped.
    std::optional<std::string> Next(const std::shared_ptr<EventSubscriber>& subscriber,
                                    std::chrono::milliseconds timeLimit);
    // Ends every stream (at shutdown).
    void Close();

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    uint64_t eventCount_ = 0;
    std::map<std::string, Json> resources_;
    std::deque<LogRecord> log_;
    std::vector<std::shared_ptr<EventSubscriber>> subscribers_;
    bool closed_ = false;
};

} // namespace Korvel::VelHost
