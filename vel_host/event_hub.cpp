#include "vel_host/event_hub.h"

#include <algorithm>

namespace Korvel::VelHost {

namespace {

bool IsDelete(const Json& eventType) {
    return (eventType.is_string() && eventType.get_ref<const std::string&>() == "Delete") ||
           (eventType.is_number_integer() && eventType.get<int64_t>() == 2);
}

} // namespace

std::string EventHub::LevelName(int32_t level) {
    switch (level) {
    case 0:
        return "OKAY";
    case 1:
        return "WARN";
    case 2:
        return "ERROR";
    case 3:
        return "ALWAYS";
    default:
        return std::to_string(level);
    }
}

void EventHub::Publish(const std::string& name, const Json& payload) {
    std::lock_guard lock(mutex_);
    const uint64_t id = ++eventCount_;
    if (payload.is_object() && payload.contains("uri") && payload["uri"].is_string() &&
        payload.contains("eventType")) {
        std::string uri = payload["uri"].get<std::string>();
        if (!uri.starts_with("/")) {
            uri.insert(uri.begin(), '/');
        }
        if (IsDelete(payload["eventType"])) {
            resources_.erase(uri);
        } else {
            resources_[uri] = payload.contains("data") ? payload["data"] : Json(nullptr);
        }
    }
    if (subscribers_.empty()) {
        return;
    }
    // An event name holds no line break (the plug-in builds them from paths and class names);
    // one that did would be cut there rather than break the stream's framing.
    std::string eventName = name.substr(0, name.find_first_of("\r\n"));
    const std::string block = "id: " + std::to_string(id) + "\nevent: " + eventName +
                              "\ndata: " + DumpCompact(payload) + "\n\n";
    for (const auto& subscriber : subscribers_) {
        if (subscriber->dropped_) {
            continue;
        }
        if (subscriber->queue_.size() >= EventSubscriber::kMaxQueued) {
            subscriber->dropped_ = true;
            subscriber->queue_.clear();
            continue;
        }
        subscriber->queue_.push_back(block);
    }
    changed_.notify_all();
}

Json EventHub::Resources() const {
    std::lock_guard lock(mutex_);
    Json all = Json::object();
    for (const auto& [path, value] : resources_) {
        all[path] = value;
    }
    return all;
}

std::optional<Json> EventHub::Resource(const std::string& path) const {
    std::lock_guard lock(mutex_);
    const auto found = resources_.find(path);
    if (found == resources_.end()) {
        return std::nullopt;
    }
    return found->second;
}

uint64_t EventHub::EventCount() const {
    std::lock_guard lock(mutex_);
    return eventCount_;
}

void EventHub::AddLog(int32_t level, const std::string& text) {
    std::lock_guard lock(mutex_);
    if (log_.size() >= kMaxLogRecords) {
        log_.pop_front();
    }
    log_.push_back(LogRecord{level, text});
}

Json EventHub::Log() const {
    std::lock_guard lock(mutex_);
    Json lines = Json::array();
    for (const LogRecord& record : log_) {
        lines.push_back({{"level", record.level},
                         {"levelName", LevelName(record.level)},
                         {"text", record.text}});
    }
    return lines;
}

std::shared_ptr<EventSubscriber> EventHub::Subscribe(std::size_t limit) {
    auto subscriber = std::make_shared<EventSubscriber>();
    std::lock_guard lock(mutex_);
    if (!closed_ && subscribers_.size() >= limit) {
        return nullptr;
    }
    if (closed_) {
        subscriber->dropped_ = true;
    } else {
        subscribers_.push_back(subscriber);
    }
    return subscriber;
}

void EventHub::Unsubscribe(const std::shared_ptr<EventSubscriber>& subscriber) {
    std::lock_guard lock(mutex_);
    std::erase(subscribers_, subscriber);
}

std::size_t EventHub::SubscriberCount() const {
    std::lock_guard lock(mutex_);
    return subscribers_.size();
}

std::optional<std::string> EventHub::Next(const std::shared_ptr<EventSubscriber>& subscriber,
                                          std::chrono::milliseconds timeLimit) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, timeLimit, [&] {
        return closed_ || subscriber->dropped_ || !subscriber->queue_.empty();
    });
    if (closed_ || subscriber->dropped_) {
        return std::nullopt;
    }
    if (subscriber->queue_.empty()) {
        return std::string();
    }
    std::string block = std::move(subscriber->queue_.front());
    subscriber->queue_.pop_front();
    return block;
}

void EventHub::Close() {
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
    }
    changed_.notify_all();
}

} // namespace Korvel::VelHost
