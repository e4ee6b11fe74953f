// Seeded pseudo-random sequences of subscriptions, resource and LCDS listeners, plain host events,
// named timers and deferred tasks, some of them performed from inside listeners, timer handlers
// and tasks. Each sequence runs through a plug-in object served by the test host and through a
// plain model of the same rules that simulates the host as well; after every step both must
// agree on what the listeners heard, the subscribe and unsubscribe calls and the timers that
// reached the host, the log and the sizes of the object's tables.

#include "test_plugin.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace Korvel::Testing {
namespace {

using Client::PluginResourceEventOf;

constexpr int64_t kMillisecond = 1000000;
constexpr uint32_t kPluginId = 7;
// A callback performs its reaction on its first runs only, so that sequences stay finite.
constexpr int kMaxReactions = 2;

// --- Operations -------------------------------------------------------------------------

enum class OpKind {
    ObserveResource,
    Subscribe,
    Unsubscribe,
    ObserveLcds,
    SubscribePlain,
    AddTimer,
    RemoveTimer,
    AddDeferred,
    Shutdown,
    // The host's Shutdown entry point: the object is shut down and destroyed (at the end of the
    // outermost callback under way); later operations of the plug-in are skipped.
    HostShutdown,
    Publish,
    // Host-driven.
    DeliverResource,
    DeliverLcds,
    DeliverPlain,
    Advance,
};

struct Op;
using OpPtr = std::shared_ptr<const Op>;

struct Op {
    OpKind kind = OpKind::Shutdown;
    std::string text;        // path, class name, event name, timer name or label
    std::string text2;       // uri or type name of a delivered event
    int id = 0;              // the new listener, handler or task
    int64_t number = 0;      // period, due offset or time step (ms); data of a delivered event
    int eventType = 0;       // 0 Create, 1 Update, 2 Delete, 3 a name that is no event type
    bool convertible = true; // delivered data or body is an integer (else a structure)
    OpPtr reaction;          // what the new callback does when it runs
};

const char* const kEventTypeNames[] = {"Create", "Update", "Delete", "Bogus"};

std::string Describe(const Op& op) {
    static const char* const names[] = {
        "ObserveResource", "Subscribe",       "Unsubscribe", "ObserveLcds",  "SubscribePlain",
        "AddTimer",        "RemoveTimer",     "AddDeferred", "Shutdown",     "HostShutdown",
        "Publish",         "DeliverResource", "DeliverLcds", "DeliverPlain", "Advance"};
    std::ostringstream out;
    out << names[static_cast<int>(op.kind)] << "(" << op.text;
    if (!op.text2.empty()) {
        out << ", " << op.text2;
    }
    out << ", id " << op.id << ", n " << op.number << ", type " << op.eventType
        << (op.convertible ? "" : ", struct") << ")";
    if (op.reaction) {
        out << " -> [" << Describe(*op.reaction) << "]";
    }
    return out.str();
}

// --- The vocabulary the sequences draw from ----------------------------------------------

const std::vector<std::string> kObservedPaths = {"/",
                                                 "/a/v1/x",
                                                 "/a/v1/x/deep",
                                                 "/a/v1/y",
                                                 "/b/v2/z",
                                                 "a/v1/x",
                                                 "/a/v1/*",
                                                 "/a/*/x",
                                                 "/a/v1/x/*",
                                                 "/*/v1/y",
                                                 "/a/v1/x*",
                                                 "/vel-platform-config/v1/p/q/r",
                                                 "/vel-platform-config/v1/p/q/*"};
const std::vector<std::string> kDeliveredUris = {
    "/a/v1/x",  "a/v1/x",  "/a/v1/x/deep",
    "/a/v1/y",  "/a//x",   "/a/v1/",
    "/a/v1/xy", "/b/v2/z", "/vel-platform-config/v1/p/q/r",
    "",         "/c/v1/y"};
const std::vector<std::string> kLcdsClasses = {"k.A", "k.B", "k_A"};
const std::vector<std::string> kLcdsTypeNames = {"k.A", "k.B", "k_A", "z"};
const std::vector<std::string> kTimerNames = {"t1", "t2", "t3"};
const std::vector<std::string> kServiceProxyNames = {
    "OnServiceProxyUuidEvent", "OnServiceProxyMethodEvent", "OnServiceProxyAsyncEvent"};

// --- The model ---------------------------------------------------------------------------

// The rules as plain code: event names, the wildcard match, counted subscriptions, dispatch of
// resource and LCDS events, deferred tasks and timers, and a host that keeps subscriptions in
// the order made and runs timers by due time, equal due times in the order set.
class Model {
public:
    Model() {
        for (const std::string& name : kServiceProxyNames) {
            hostTable_[name] = Handler{HandlerKind::ServiceProxy, 0, nullptr};
            hostSubscriptions_.push_back(name);
        }
        resources_["/a/v1/x"] = Json(7);
        resources_["/a/v1/y"] = Json{{"k", 1}};
        resources_["/vel-platform-config/v1/p/q/r"] = Json(9);
    }

    static std::string EventName(const std::string& path) {
        std::vector<std::string> pieces;
        std::string piece;
        for (char c : path + "/") {
            if (c == '/') {
                if (!piece.empty()) {
                    pieces.push_back(piece);
                }
                piece.clear();
            } else {
                piece += c;
            }
        }
        const size_t take = !pieces.empty() && pieces[0] == "vel-platform-config" ? 5 : 3;
        std::string name = "OnJsonApiEvent";
        for (size_t i = 0; i < pieces.size() && i < take; ++i) {
            name += "_" + pieces[i];
        }
        return name;
    }

    static std::string LcdsName(const std::string& className) {
        std::string name = "OnLcdsEvent_" + className;
        for (size_t i = 12; i < name.size(); ++i) {
            if (name[i] == '.') {
                name[i] = '_';
            }
        }
        return name;
    }

    static bool Matches(const std::string& pattern, const std::string& path) {
        size_t at = 0;
        for (size_t p = 0; p < pattern.size(); ++p) {
            if (pattern[p] == '*') {
                const size_t start = at;
                while (at < path.size() && path[at] != '/') {
                    ++at;
                }
                if (at == start) {
                    return false;
                }
            } else if (at < path.size() && path[at] == pattern[p]) {
                ++at;
            } else {
                return false;
            }
        }
        return at == path.size();
    }

    void Apply(const Op& op) {
        if (disposed_ && op.kind < OpKind::DeliverResource) {
            return;
        }
        switch (op.kind) {
        case OpKind::ObserveResource:
            ObserveResource(op);
            break;
        case OpKind::Subscribe:
            Subscribe(op.text);
            break;
        case OpKind::Unsubscribe:
            Unsubscribe(op.text);
            break;
        case OpKind::ObserveLcds:
            lcds_[op.text].push_back(Listener{op.id, op.reaction});
            SubscribeRaw(LcdsName(op.text), Handler{HandlerKind::Lcds, 0, nullptr}, 1);
            break;
        case OpKind::SubscribePlain:
            SubscribeRaw(op.text, Handler{HandlerKind::Plain, op.id, op.reaction}, 0);
            break;
        case OpKind::AddTimer:
            AddTimer(op);
            break;
        case OpKind::RemoveTimer:
            timers_.erase(op.text);
            break;
        case OpKind::AddDeferred: {
            const int id = op.id;
            OpPtr reaction = op.reaction;
            const uint64_t entry = AddDeferred(
                op.text,
                [this, id, reaction] {
                    heard_.push_back("D" + std::to_string(id) + " @" + std::to_string(now_));
                    React(id, reaction);
                },
                now_ + op.number * kMillisecond);
            heard_.push_back("entry " + std::to_string(entry));
            break;
        }
        case OpKind::Shutdown:
            Shutdown();
            break;
        case OpKind::HostShutdown:
            // Deferred tasks are withdrawn: their host timers find nothing to run.
            Shutdown();
            disposed_ = true;
            deferred_.clear();
            break;
        case OpKind::Publish:
            Publish(op);
            break;
        case OpKind::DeliverResource:
        case OpKind::DeliverLcds:
        case OpKind::DeliverPlain:
            Deliver(op);
            break;
        case OpKind::Advance:
            Advance(op.number * kMillisecond);
            break;
        }
    }

    std::vector<std::string> heard_;
    std::vector<std::string> fired_;
    std::vector<std::string> requests_; // paths read from the host
    std::vector<std::string> subscriptionCalls_;
    std::vector<std::string> timerCalls_;
    std::vector<std::string> warnings_;
    std::vector<std::string> hostSubscriptions_;

    size_t HostTimerCount() const { return hostTimers_.size(); }
    size_t HostTableSize() const { return hostTable_.size(); }
    size_t DeferredCount() const { return deferred_.size(); }
    bool HasTimer(const std::string& name) const { return timers_.count(name) != 0; }
    size_t ResourceListenerCount() const {
        size_t count = wildcards_.size();
        for (const auto& [path, listeners] : exact_) {
            count += listeners.size();
        }
        return count;
    }
    size_t LcdsListenerCount() const {
        size_t count = 0;
        for (const auto& [name, listeners] : lcds_) {
            count += listeners.size();
        }
        return count;
    }

private:
    enum class HandlerKind { Resource, Lcds, Plain, ServiceProxy };
    struct Handler {
        HandlerKind kind;
        int id;
        OpPtr reaction;
    };
    struct Listener {
        int id;
        OpPtr reaction;
    };
    struct Timer {
        int64_t period; // ns
        double seconds;
        int64_t due = 0;
        uint64_t generation = 0;
    };
    struct HostTimer {
        std::string label;
        uint64_t entry;
    };

    void React(int id, const OpPtr& reaction) {
        if (reaction && runs_[id]++ < kMaxReactions) {
            Apply(*reaction);
        }
    }

    // --- Host side -------------------------------------------------------------------
    // A disposed object still finishes the callback under way but reaches the host no more.
    void HostSubscribe(const std::string& name, uint32_t flag) {
        if (disposed_) {
            return;
        }
        subscriptionCalls_.push_back("+" + name + "/" + std::to_string(flag));
        hostSubscriptions_.push_back(name);
    }
    void HostUnsubscribe(const std::string& name) {
        if (disposed_) {
            return;
        }
        subscriptionCalls_.push_back("-" + name);
        std::erase(hostSubscriptions_, name);
    }
    void HostSetTimer(const std::string& label, uint64_t entry, double delay) {
        char text[64];
        std::snprintf(text, sizeof(text), "|%.17g|", delay);
        timerCalls_.push_back(label + text + std::to_string(now_));
        const int64_t due = now_ + static_cast<int64_t>(std::llround(delay * 1e9));
        hostTimers_[{due, sequence_++}] = HostTimer{label, entry};
    }
    bool RunNextTimer(int64_t limit) {
        if (hostTimers_.empty() || hostTimers_.begin()->first.first > limit) {
            return false;
        }
        auto next = hostTimers_.begin();
        now_ = std::max(now_, next->first.first);
        const uint64_t entry = next->second.entry;
        hostTimers_.erase(next);
        RunDeferred(entry);
        return true;
    }
    // The host records a fired event and hands it at once to the subscriptions of its name,
    // unless it is already doing so for an event fired before.
    void HostFireEvent(const std::string& name, const Op& publication) {
        if (disposed_) {
            return;
        }
        fired_.push_back(name + " " + publication.text + " " +
                         kEventTypeNames[publication.eventType] + " " +
                         std::to_string(publication.number));
        if (inPublishHook_) {
            return;
        }
        inPublishHook_ = true;
        Op delivery;
        delivery.kind = OpKind::DeliverResource;
        delivery.text = name;
        delivery.text2 = publication.text;
        delivery.eventType = publication.eventType;
        delivery.number = publication.number;
        Deliver(delivery);
        inPublishHook_ = false;
    }
    void Advance(int64_t span) {
        const int64_t target = now_ + span;
        while (RunNextTimer(target)) {
        }
        now_ = std::max(now_, target);
    }
    void Deliver(const Op& op) {
        const std::vector<std::string> targets = hostSubscriptions_;
        for (const std::string& name : targets) {
            if (name != op.text) {
                continue;
            }
            auto found = hostTable_.find(name);
            if (found == hostTable_.end()) {
                continue;
            }
            const Handler handler = found->second;
            switch (handler.kind) {
            case HandlerKind::Plain:
                heard_.push_back("P" + std::to_string(handler.id));
                React(handler.id, handler.reaction);
                break;
            case HandlerKind::Resource:
                if (op.kind == OpKind::DeliverResource && op.eventType < 3) {
                    DispatchResource(op);
                }
                break;
            case HandlerKind::Lcds:
                if (op.kind == OpKind::DeliverLcds) {
                    DispatchLcds(op);
                }
                break;
            case HandlerKind::ServiceProxy:
                break;
            }
        }
    }

    // --- Plug-in side ------------------------------------------------------------------
    void SubscribeRaw(const std::string& name, Handler handler, uint32_t flag) {
        hostTable_[name] = std::move(handler);
        HostSubscribe(name, flag);
    }
    void Subscribe(const std::string& path) {
        const std::string name = EventName(path);
        if (++counts_[name] == 1) {
            SubscribeRaw(name, Handler{HandlerKind::Resource, 0, nullptr}, 0);
        }
    }
    void Unsubscribe(const std::string& path) {
        const std::string name = EventName(path);
        auto found = counts_.find(name);
        if (found == counts_.end() || --found->second != 0) {
            return;
        }
        counts_.erase(found);
        HostUnsubscribe(name);
        hostTable_.erase(name);
    }
    void HearResource(const Listener& listener, const std::string& uri, int type, bool convertible,
                      int64_t data) {
        if (!convertible) {
            return;
        }
        heard_.push_back("R" + std::to_string(listener.id) + " " + uri + " " +
                         std::to_string(type) + " " + std::to_string(data));
        React(listener.id, listener.reaction);
    }
    void ObserveResource(const Op& op) {
        const Listener listener{op.id, op.reaction};
        const bool wildcard = op.text.find('*') != std::string::npos;
        if (wildcard) {
            wildcards_.emplace_back(op.text, listener);
        } else {
            exact_[op.text].push_back(listener);
        }
        Subscribe(op.text);
        if (wildcard) {
            return;
        }
        requests_.push_back(op.text);
        auto resource = resources_.find(op.text);
        if (resource == resources_.end()) {
            return;
        }
        const bool convertible = resource->second.is_number_integer();
        HearResource(listener, op.text, 0, convertible,
                     convertible ? resource->second.get<int64_t>() : 0);
    }
    void DispatchResource(const Op& op) {
        std::string uri = op.text2;
        if (uri.empty() || uri[0] != '/') {
            uri = "/" + uri;
        }
        std::vector<Listener> listeners;
        if (auto found = exact_.find(uri); found != exact_.end()) {
            listeners = found->second;
        }
        const auto wildcards = wildcards_;
        const uint64_t shutdowns = shutdowns_;
        for (const Listener& listener : listeners) {
            if (shutdowns_ != shutdowns) {
                return;
            }
            HearResource(listener, uri, op.eventType, op.convertible, op.number);
        }
        for (const auto& [pattern, listener] : wildcards) {
            if (shutdowns_ != shutdowns) {
                return;
            }
            if (Matches(pattern, uri)) {
                HearResource(listener, uri, op.eventType, op.convertible, op.number);
            }
        }
    }
    void DispatchLcds(const Op& op) {
        const std::string typeName = op.text2;
        auto found = lcds_.find(typeName);
        if (found == lcds_.end() || found->second.empty()) {
            return;
        }
        const bool convertible = op.convertible;
        const int64_t body = op.number;
        AddDeferred(
            "Event: OnLcdsEvent (" + typeName + ")",
            [this, typeName, convertible, body] {
                auto listeners = lcds_.find(typeName);
                if (listeners == lcds_.end()) {
                    return;
                }
                const std::vector<Listener> copies = listeners->second;
                const uint64_t shutdowns = shutdowns_;
                for (const Listener& listener : copies) {
                    if (shutdowns_ != shutdowns) {
                        return;
                    }
                    if (convertible) {
                        heard_.push_back("C" + std::to_string(listener.id) + " " +
                                         std::to_string(body));
                        React(listener.id, listener.reaction);
                    }
                }
            },
            now_);
    }
    uint64_t AddDeferred(const std::string& label, std::function<void()> task, int64_t due) {
        const double delay = due <= now_ ? 0.0 : static_cast<double>(due - now_) / 1e9;
        const uint64_t id = nextDeferred_++;
        if (disposed_) {
            return id; // a disposed object hands the host no more tasks
        }
        deferred_[id] = std::move(task);
        HostSetTimer(label, id, delay);
        return id;
    }
    void RunDeferred(uint64_t id) {
        auto found = deferred_.find(id);
        if (found == deferred_.end()) {
            return;
        }
        const std::function<void()> task = found->second;
        task();
        deferred_.erase(id);
    }
    void AddTimer(const Op& op) {
        Timer& timer = timers_[op.text];
        timer.seconds = static_cast<double>(op.number) / 1000.0;
        timer.period = static_cast<int64_t>(timer.seconds * 1e9);
        timer.due = now_ + timer.period;
        timer.generation = ++lastGeneration_;
        ArmTimer(op.text, timer.generation, Listener{op.id, op.reaction}, timer.due);
    }
    void ArmTimer(const std::string& name, uint64_t generation, const Listener& handler,
                  int64_t due) {
        AddDeferred(
            "Timer: " + name,
            [this, name, generation, handler] {
                auto found = timers_.find(name);
                if (found == timers_.end()) {
                    if (!disposed_) {
                        warnings_.push_back("Couldn't find timer named " + name);
                    }
                    return;
                }
                if (found->second.generation != generation) {
                    return;
                }
                found->second.due = now_ + found->second.period;
                heard_.push_back("T" + std::to_string(handler.id) + " @" + std::to_string(now_));
                React(handler.id, handler.reaction);
                auto after = timers_.find(name);
                if (after != timers_.end() && after->second.generation == generation) {
                    ArmTimer(name, generation, handler, after->second.due);
                }
            },
            due);
    }
    void Publish(const Op& op) {
        const uint64_t publication = ++publications_[op.text];
        const std::string name = EventName(op.text);
        HostFireEvent(name, op);
        if (name != "OnJsonApiEvent" && publications_[op.text] == publication) {
            HostFireEvent("OnJsonApiEvent", op);
        }
    }
    void Shutdown() {
        ++shutdowns_;
        const auto table = std::move(hostTable_);
        hostTable_.clear();
        for (const auto& [name, handler] : table) {
            HostUnsubscribe(name);
        }
        counts_.clear();
        lcds_.clear();
        timers_.clear();
        exact_.clear();
        wildcards_.clear();
    }

    int64_t now_ = 0;
    uint64_t sequence_ = 0;
    std::map<std::pair<int64_t, uint64_t>, HostTimer> hostTimers_;
    std::map<std::string, Json> resources_;
    bool inPublishHook_ = false;
    std::map<std::string, uint64_t> publications_;

    std::map<std::string, Handler> hostTable_;
    std::map<std::string, int> counts_;
    std::map<std::string, std::vector<Listener>> exact_;
    std::vector<std::pair<std::string, Listener>> wildcards_;
    std::map<std::string, std::vector<Listener>> lcds_;
    std::map<std::string, Timer> timers_;
    uint64_t lastGeneration_ = 0;
    std::map<uint64_t, std::function<void()>> deferred_;
    uint64_t nextDeferred_ = 1;
    uint64_t shutdowns_ = 0;
    bool disposed_ = false;
    std::map<int, int> runs_;
};

// --- The plug-in object in the test host ------------------------------------------------

// The plug-in's own code runs only inside the host's calls into the object (entry points, event
// and timer callbacks); the test's top-level operations of the plug-in run as inside one too,
// so that a shutdown by the host during them behaves as it would there.
class ModelPlugin : public TestPlugin {
public:
    void AsHostCallback(const std::function<void()>& work) {
        const CallbackScope scope(*this);
        work();
    }
};

class Real {
public:
    Real() {
        plugin_ = std::make_unique<ModelPlugin>();
        RegisterTestPlugin(*plugin_, host_);
        EXPECT_TRUE(plugin_->Initialize(host_.Context(kPluginId)));
        host_.ClearRecords();
        host_.SetResource("/a/v1/x", Json(7));
        host_.SetResource("/a/v1/y", Json{{"k", 1}});
        host_.SetResource("/vel-platform-config/v1/p/q/r", Json(9));
        // The host hands each event the plug-in fires to the subscriptions of its name at once.
        host_.WhilePublishing([this](const std::string& name) {
            const Json payload = host_.Events().back().payload;
            host_.Deliver(name, payload);
        });
    }

    // An operation of the test's top level.
    void Run(const Op& op) {
        if (op.kind >= OpKind::DeliverResource) {
            Apply(op);
        } else if (!dead_) {
            plugin_->AsHostCallback([this, &op] { Apply(op); });
        }
    }

    void Apply(const Op& op) {
        if (dead_ && op.kind < OpKind::DeliverResource) {
            return;
        }
        const int id = op.id;
        const OpPtr reaction = op.reaction;
        switch (op.kind) {
        case OpKind::ObserveResource:
            plugin_->ObserveResource<int64_t>(
                op.text, [this, id, reaction](const PluginResourceEventOf<int64_t>& event) {
                    heard_.push_back("R" + std::to_string(id) + " " + event.uri + " " +
                                     std::to_string(static_cast<int>(event.eventType)) + " " +
                                     std::to_string(event.data));
                    React(id, reaction);
                });
            break;
        case OpKind::Subscribe:
            plugin_->Subscribe(op.text);
            break;
        case OpKind::Unsubscribe:
            plugin_->Unsubscribe(op.text);
            break;
        case OpKind::ObserveLcds:
            plugin_->ObserveLcds<int64_t>(op.text, [this, id, reaction](const int64_t& body) {
                heard_.push_back("C" + std::to_string(id) + " " + std::to_string(body));
                React(id, reaction);
            });
            break;
        case OpKind::SubscribePlain:
            plugin_->SubscribeHostEvent(op.text,
                                        PlainEventHandler([this, id, reaction](const auto&) {
                                            heard_.push_back("P" + std::to_string(id));
                                            React(id, reaction);
                                        }),
                                        0);
            break;
        case OpKind::AddTimer:
            plugin_->AddTimer(
                op.text, static_cast<double>(op.number) / 1000.0, [this, id, reaction] {
                    heard_.push_back("T" + std::to_string(id) + " @" + std::to_string(host_.Now()));
                    React(id, reaction);
                });
            break;
        case OpKind::RemoveTimer:
            plugin_->RemoveTimer(op.text);
            break;
        case OpKind::AddDeferred:
            heard_.push_back("entry " + std::to_string(plugin_->AddDeferred(
                                            op.text,
                                            [this, id, reaction] {
                                                heard_.push_back("D" + std::to_string(id) + " @" +
                                                                 std::to_string(host_.Now()));
                                                React(id, reaction);
                                            },
                                            host_.Now() + op.number * kMillisecond)));
            break;
        case OpKind::Shutdown:
            plugin_->Shutdown();
            break;
        case OpKind::HostShutdown:
            dead_ = true;
            PluginBase::ShutdownEntry(plugin_.release());
            break;
        case OpKind::Publish:
            EXPECT_TRUE(plugin_->PublishResource(
                static_cast<Client::PluginResourceEventType>(op.eventType), op.text, op.number));
            break;
        case OpKind::DeliverResource:
            host_.Deliver(op.text, Json{{"uri", op.text2},
                                        {"eventType", kEventTypeNames[op.eventType]},
                                        {"data", Data(op)}});
            break;
        case OpKind::DeliverLcds:
            host_.Deliver(op.text, Json{{"clientId", "c"},
                                        {"subtopic", "s"},
                                        {"typeName", op.text2},
                                        {"body", Data(op)}});
            break;
        case OpKind::DeliverPlain:
            host_.Deliver(op.text, Json{{"n", op.number}});
            break;
        case OpKind::Advance:
            host_.AdvanceTime(std::chrono::nanoseconds(op.number * kMillisecond));
            break;
        }
    }

    std::vector<std::string> SubscriptionCalls() const {
        std::vector<std::string> calls;
        for (const SubscriptionCall& call : host_.SubscriptionCalls()) {
            EXPECT_EQ(call.pluginId, kPluginId);
            calls.push_back(call.subscribe ? "+" + call.eventName + "/" + std::to_string(call.flag)
                                           : "-" + call.eventName);
        }
        return calls;
    }
    std::vector<std::string> TimerCalls() const {
        std::vector<std::string> calls;
        for (const TimerCall& call : host_.TimerCalls()) {
            EXPECT_EQ(call.flags, 0u);
            char text[64];
            std::snprintf(text, sizeof(text), "|%.17g|", call.delaySeconds);
            calls.push_back(call.label + text + std::to_string(call.requestedAt));
        }
        return calls;
    }
    std::vector<std::string> LogTexts() const {
        std::vector<std::string> texts;
        for (const LogLine& line : host_.LogLines()) {
            // Only the WARN line of a timer gone is expected; its message ends the line.
            const std::string marker = "Couldn't find timer named ";
            const size_t at = line.text.find(marker);
            texts.push_back(line.level == 1 && at != std::string::npos
                                ? line.text.substr(at)
                                : "unexpected: " + std::to_string(line.level) + " " + line.text);
        }
        return texts;
    }
    std::vector<std::string> Fired() const {
        std::vector<std::string> fired;
        for (const FiredEvent& event : host_.Events()) {
            EXPECT_EQ(event.flag, 0);
            fired.push_back(event.name + " " + event.payload.value("uri", "?") + " " +
                            event.payload.value("eventType", "?") + " " +
                            std::to_string(event.payload.value("data", int64_t{-1})));
        }
        return fired;
    }
    std::vector<std::string> Requests() const {
        std::vector<std::string> paths;
        for (const ResourceRequest& request : host_.Requests()) {
            EXPECT_EQ(request.method, static_cast<uint32_t>(HttpMethod::Get));
            paths.push_back(request.path);
        }
        return paths;
    }
    std::vector<std::string> HostSubscriptions() const {
        std::vector<std::string> names;
        for (const Subscription& subscription : host_.Subscriptions()) {
            names.push_back(subscription.eventName);
        }
        return names;
    }

    TestHost host_;
    std::unique_ptr<ModelPlugin> plugin_;
    std::vector<std::string> heard_;
    bool dead_ = false;

private:
    static Json Data(const Op& op) {
        return op.convertible ? Json(op.number) : Json{{"v", op.number}};
    }
    void React(int id, const OpPtr& reaction) {
        if (reaction && runs_[id]++ < kMaxReactions) {
            Apply(*reaction);
        }
    }

    std::map<int, int> runs_;
};

// --- Random sequences ------------------------------------------------------------------

class Generator {
public:
    explicit Generator(uint64_t seed) : random_(seed) {}

    OpPtr Next() { return Make(0); }

private:
    size_t Pick(size_t count) { return static_cast<size_t>(random_() % count); }
    template <typename T>
    const T& From(const std::vector<T>& items) {
        return items[Pick(items.size())];
    }

    // A reaction for a callback made at `depth`: none at depth 2, often none before.
    OpPtr Reaction(int depth) {
        if (depth >= 2 || Pick(3) != 0) {
            return nullptr;
        }
        return Make(depth + 1);
    }

    OpPtr Make(int depth) {
        auto op = std::make_shared<Op>();
        // Shutdown is rare; a reaction is more often the plug-in's own work than the host's.
        const size_t choice = depth == 0 || Pick(2) == 0 ? Pick(43) : Pick(30);
        if (choice < 4) {
            op->kind = OpKind::ObserveResource;
            op->text = From(kObservedPaths);
        } else if (choice < 7) {
            op->kind = OpKind::Subscribe;
            op->text = From(kObservedPaths);
        } else if (choice < 10) {
            op->kind = OpKind::Unsubscribe;
            op->text = From(kObservedPaths);
        } else if (choice < 12) {
            op->kind = OpKind::ObserveLcds;
            op->text = From(kLcdsClasses);
        } else if (choice < 13) {
            op->kind = OpKind::SubscribePlain;
            static const std::vector<std::string> names = {
                "OnPlain", "OnJsonApiEvent", "OnJsonApiEvent_a_v1_y", "OnLcdsEvent_k_A"};
            op->text = From(names);
        } else if (choice < 17) {
            op->kind = OpKind::AddTimer;
            op->text = From(kTimerNames);
            op->number = 250 * static_cast<int64_t>(1 + Pick(12));
        } else if (choice < 20) {
            op->kind = OpKind::RemoveTimer;
            op->text = From(kTimerNames);
        } else if (choice < 26) {
            op->kind = OpKind::AddDeferred;
            static const std::vector<std::string> labels = {"Initial UpdateServicesStatus", "job"};
            op->text = From(labels);
            op->number = 250 * (static_cast<int64_t>(Pick(17)) - 4);
        } else if (choice < 27) {
            const size_t which = Pick(4);
            op->kind = which == 0   ? OpKind::Shutdown
                       : which == 1 ? OpKind::HostShutdown
                                    : OpKind::RemoveTimer;
            op->text = From(kTimerNames);
        } else if (choice < 30) {
            op->kind = OpKind::Publish;
            static const std::vector<std::string> paths = {"/a/v1/x", "/a/v1/y", "/b/v2/z",
                                                           "/vel-platform-config/v1/p/q/r"};
            op->text = From(paths);
            op->eventType = static_cast<int>(Pick(3));
            op->number = static_cast<int64_t>(Pick(100));
        } else if (choice < 35) {
            op->kind = OpKind::DeliverResource;
            op->text = Model::EventName(From(kObservedPaths));
            op->text2 = From(kDeliveredUris);
            op->eventType = Pick(10) == 0 ? 3 : static_cast<int>(Pick(3));
        } else if (choice < 37) {
            op->kind = OpKind::DeliverLcds;
            op->text = Model::LcdsName(From(kLcdsClasses));
            op->text2 = From(kLcdsTypeNames);
        } else if (choice < 38) {
            op->kind = OpKind::DeliverPlain;
            op->text = "OnPlain";
        } else {
            op->kind = OpKind::Advance;
            op->number = 250 * static_cast<int64_t>(Pick(13));
        }
        if (op->kind == OpKind::DeliverResource || op->kind == OpKind::DeliverLcds ||
            op->kind == OpKind::DeliverPlain) {
            op->number = static_cast<int64_t>(Pick(100));
            op->convertible = Pick(8) != 0;
        }
        if (op->kind == OpKind::ObserveResource || op->kind == OpKind::ObserveLcds ||
            op->kind == OpKind::SubscribePlain || op->kind == OpKind::AddTimer ||
            op->kind == OpKind::AddDeferred) {
            op->id = ++nextId_;
            op->reaction = Reaction(depth);
        }
        return op;
    }

    std::mt19937_64 random_;
    int nextId_ = 0;
};

std::string Tail(const std::vector<std::string>& items, size_t from) {
    std::string text;
    for (size_t i = from; i < items.size(); ++i) {
        text += "  " + items[i] + "\n";
    }
    return text;
}

// The first place where two records differ, with what follows it on both sides.
::testing::AssertionResult Same(const char* what, const std::vector<std::string>& real,
                                const std::vector<std::string>& model) {
    if (real == model) {
        return ::testing::AssertionSuccess();
    }
    size_t at = 0;
    while (at < real.size() && at < model.size() && real[at] == model[at]) {
        ++at;
    }
    return ::testing::AssertionFailure() << what << " differ at entry " << at << "\nplug-in:\n"
                                         << Tail(real, at) << "model:\n"
                                         << Tail(model, at);
}

// Runs one sequence; false (with failures reported) at the first difference. Counts what was
// heard by the first letter of its record (R resource, C LCDS, P plain, T timer, D deferred)
// and the log lines of timers gone (W), so that the test can tell the sequences reach them all.
bool RunSequence(uint64_t seed, size_t steps, std::map<char, size_t>& heard) {
    Generator generator(seed);
    Real real;
    Model model;
    std::string trace;
    for (size_t step = 0; step < steps; ++step) {
        const OpPtr op = generator.Next();
        trace += "  " + std::to_string(step) + ": " + Describe(*op) + "\n";
        real.Run(*op);
        model.Apply(*op);

        bool same = true;
        const auto check = [&](::testing::AssertionResult result) {
            if (!result) {
                ADD_FAILURE() << "seed " << seed << ", step " << step << ": " << result.message()
                              << "\noperations:\n"
                              << trace;
                same = false;
            }
        };
        check(Same("heard", real.heard_, model.heard_));
        check(Same("subscription calls", real.SubscriptionCalls(), model.subscriptionCalls_));
        check(Same("host subscriptions", real.HostSubscriptions(), model.hostSubscriptions_));
        check(Same("fired events", real.Fired(), model.fired_));
        check(Same("resource reads", real.Requests(), model.requests_));
        check(Same("timer calls", real.TimerCalls(), model.timerCalls_));
        check(Same("log", real.LogTexts(), model.warnings_));
        if (real.dead_) {
            if (!same) {
                return false;
            }
            continue;
        }
        const std::vector<std::string> realSizes = {
            "host timers " + std::to_string(real.host_.PendingTimerCount()),
            "deferred " + std::to_string(real.plugin_->PendingDeferredCount()),
            "host table " + std::to_string(real.plugin_->HostSubscriptionCount()),
            "resource listeners " + std::to_string(real.plugin_->ResourceListenerCount()),
            "lcds listeners " + std::to_string(real.plugin_->LcdsListenerCount()),
            "timers " + std::to_string(real.plugin_->HasTimer("t1")) +
                std::to_string(real.plugin_->HasTimer("t2")) +
                std::to_string(real.plugin_->HasTimer("t3"))};
        const std::vector<std::string> modelSizes = {
            "host timers " + std::to_string(model.HostTimerCount()),
            "deferred " + std::to_string(model.DeferredCount()),
            "host table " + std::to_string(model.HostTableSize()),
            "resource listeners " + std::to_string(model.ResourceListenerCount()),
            "lcds listeners " + std::to_string(model.LcdsListenerCount()),
            "timers " + std::to_string(model.HasTimer("t1")) +
                std::to_string(model.HasTimer("t2")) + std::to_string(model.HasTimer("t3"))};
        check(Same("table sizes", realSizes, modelSizes));
        if (!same) {
            return false;
        }
    }
    for (const std::string& entry : model.heard_) {
        ++heard[entry[0]];
    }
    heard['W'] += model.warnings_.size();
    return true;
}

TEST(EventModel, RandomSequencesAgreeWithTheModel) {
    std::map<char, size_t> heard;
    for (uint64_t seed = 1; seed <= 3000; ++seed) {
        if (!RunSequence(seed, 50, heard)) {
            return;
        }
    }
    for (char kind : std::string("RCPTDW")) {
        EXPECT_GT(heard[kind], 100u) << kind;
    }
}

} // namespace
} // namespace Korvel::Testing
