#pragma once

#include "host_values.h"
#include "plugin/host_function_table.h"
#include "plugin/plugin_api_descriptor.h"
#include "plugin/plugin_function_table.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// A fake host for tests. It implements the ten host functions over the real
// host interface: a virtual clock with a timer queue, a data store of canned
// resources, canned responses of outside web servers, and records of every
// call a plug-in makes. It loads the built plug-in library through the
// platform layer (dlopen, or LoadLibraryW on Windows) and drives it through
// its export and entry points exactly as a host does:
//
//   TestHost host;
//   host.Load({18, 0, 0});
//   host.Initialize();
//   host.AdvanceTime(std::chrono::seconds(120));
//   EXPECT_EQ(host.Events().size(), 2u);
//
// It can also serve a plug-in object created in the test's own process:
// hand it Context() at initialisation and, to share the virtual clock, Clock
// with the host's address as the clock of the object.
namespace Korvel::Testing {

struct HostVersion {
    uint32_t major = 18;
    uint32_t minor = 0;
    uint32_t patch = 0;
};

struct LogLine {
    int32_t level;
    std::string text;
};

struct FiredEvent {
    std::string name;
    Json payload;
    Json payloadKinds; // ReadHostValueKinds of the payload
    int32_t flag;
};

struct SubscriptionCall {
    bool subscribe; // false for Unsubscribe
    std::string eventName;
    uint32_t pluginId;
    uint32_t flag; // 0 for Unsubscribe
};

struct Subscription {
    std::string eventName;
    uint32_t pluginId;
    HostEventCallback callback;
    void* userData;
    uint32_t flag;
};

struct TimerCall {
    std::string label;
    double delaySeconds;
    uint32_t flags;
    int64_t requestedAt; // virtual nanoseconds
    HostTimerCallback callback;
    void* userData;
};

struct ResourceRequest {
    uint32_t method;
    std::string path;
    std::vector<std::pair<std::string, Json>> arguments;
    uint32_t pluginId;
    bool reservedBytesZero; // every byte the host does not read is 0
};

struct ExternalRequest {
    uint32_t method;
    std::string url;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    uint32_t timeLimit;
    uint32_t flag;
};

// A piece of a streamed body: the bytes delivered by one read and whether
// the more-data byte stays set after them.
struct StreamChunk {
    std::string bytes;
    bool more;
};

// What an outside web server answers, as the host reports it.
struct CannedExternalResponse {
    uint32_t transportCode = 0;
    uint32_t status = 200;
    std::vector<std::pair<std::string, std::string>> headers;
    std::optional<std::string> body; // nullopt: null body pointer
    bool nullHeaders = false;        // header pointer null, count as given
};

class TestHost {
public:
    TestHost();
    // Shuts a plug-in down that is still running (timers still pending are
    // dropped, not fired) and unloads the library.
    ~TestHost();
    TestHost(const TestHost&) = delete;
    TestHost& operator=(const TestHost&) = delete;

    // --- The plug-in library -------------------------------------------------

    // Loads the library built by the project (KORVEL_PLUGIN_PATH) and calls its
    // export with a descriptor holding `version`. Fails the test when the
    // library or the export cannot be found. The host unloads the library
    // when it goes, so each host that is alone in the process starts from a
    // freshly loaded library (logger, memory counters).
    void Load(HostVersion version = {});
    // The two steps of Load: open the library (unloaded before, so that its
    // state is fresh), then call its export. Between them MemoryStats reads
    // the library's figures before the export ran.
    void Open();
    void CallExport(HostVersion version = {});
    // The descriptor the export filled in; what it points to lives inside the
    // plug-in object, until Shutdown.
    const PluginApiDescriptor& Descriptor() const { return descriptor_; }
    // Calls the Initialize entry point with this host's context.
    bool Initialize(uint32_t pluginId = 7);
    // Calls the Shutdown entry point; the plug-in object is gone afterwards
    // (and with it the tables the descriptor points to).
    void Shutdown();
    // The library's memory statistics through its GetMemoryStats entry
    // point. Before the export has handed the entry point over, the host
    // finds it at the offset from the export that an earlier load of the
    // same library showed (Open learns it once per process).
    PluginMemoryStats MemoryStats() const;
    // Raw memory-statistics record, to check bytes beyond the counters.
    void ReadMemoryStats(void* record) const;
    // Bytes the library holds: allocated minus freed.
    static uint64_t LiveBytes(const PluginMemoryStats& stats) {
        return stats.bytesAllocated - stats.bytesFreed;
    }
    static uint64_t LiveBlocks(const PluginMemoryStats& stats) {
        return stats.blocksAllocated - stats.blocksFreed;
    }

    // --- Serving a plug-in object of the test's own process ---------------

    const HostFunctionTable* Functions() const { return &table_.functions; }
    const HostContext* Context(uint32_t pluginId = 7);
    // A clock function reading the virtual clock of the host passed as
    // context (matches the plug-in's replaceable clock).
    static int64_t Clock(void* host);

    // --- Virtual clock and timers ------------------------------------------

    // Virtual time in nanoseconds; starts at 0.
    int64_t Now() const { return now_; }
    // Moves the clock forward, running every timer that falls due on the way
    // in order of due time (timers due together in the order they were set),
    // with the clock at each timer's due time while it runs. Timers that
    // those callbacks set are run too when they fall due in the interval.
    void AdvanceTime(std::chrono::nanoseconds span);
    // Runs the timers due now (also those set with delay 0 while running).
    // Returns how many ran.
    size_t RunDueTimers();
    // Runs every pending timer whatever its due time, moving the clock to the
    // latest due time reached. Returns how many ran.
    size_t RunAllTimers();
    size_t PendingTimerCount() const { return timers_.size(); }
    // Every SetTimer call, in order.
    const std::vector<TimerCall>& TimerCalls() const { return timerCalls_; }

    // --- Data store (SendRequest) -------------------------------------------

    // The resource at `path` answers with the value as its body HostValue.
    void SetResource(const std::string& path, const Json& value);
    // ... with a HostValue the test built through Arena() (any kind).
    void SetResourceValue(const std::string& path, const HostValue& value);
    // ... with a body streamed through the read function, chunk by chunk;
    // with failAfter set, the read after that many chunks returns false.
    void SetStreamedResource(const std::string& path, std::vector<StreamChunk> chunks,
                             uint32_t sizeHint = 0, std::optional<size_t> failAfter = {});
    // ... with an error text and code.
    void SetResourceError(const std::string& path, int32_t code, const std::string& text);
    void RemoveResource(const std::string& path);
    // Unknown paths answer with the error "Not found" and code 404.
    const std::vector<ResourceRequest>& Requests() const { return requests_; }
    // Responses the plug-in has released through the release function.
    size_t ReleasedResponseCount() const { return releasedResponses_; }
    // Responses handed out and not released yet.
    size_t UnreleasedResponseCount() const { return responses_.size(); }
    // Storage for HostValues built by tests; lives as long as the host.
    HostValueArena& Arena() { return arena_; }

    // --- Outside web servers (SendExternalRequest) ------------------------

    // Unknown urls answer with transport code 1 and nothing else.
    void SetExternalResponse(const std::string& url, CannedExternalResponse response);
    const std::vector<ExternalRequest>& ExternalRequests() const { return externalRequests_; }
    // Runs `hook` with the url inside SendExternalRequest, before the answer is filled in, as a
    // host does that delivers other events while a request is in flight. Requests the hook
    // itself causes do not run it again. An empty hook removes it.
    void WhileFetching(std::function<void(const std::string& url)> hook) {
        fetchHook_ = std::move(hook);
    }

    // --- Events ----------------------------------------------------------------

    // Delivers a named event to every current subscription of that name, in
    // subscription order, with the payload built from JSON (or given as a
    // HostValue). Returns the number of callbacks made.
    size_t Deliver(const std::string& eventName, const Json& payload);
    size_t DeliverValue(const std::string& eventName, const HostValue& payload);
    // Runs `hook` with the event name inside FireEvent, after the event is recorded, as a host
    // does that hands its listeners the event at once and delivers other events meanwhile. Events
    // the hook itself causes do not run it again. An empty hook removes it.
    void WhilePublishing(std::function<void(const std::string& eventName)> hook) {
        publishHook_ = std::move(hook);
    }
    // Events the plug-in fired, in order.
    const std::vector<FiredEvent>& Events() const { return events_; }
    // Current subscriptions, in the order made.
    const std::vector<Subscription>& Subscriptions() const { return subscriptions_; }
    bool IsSubscribed(const std::string& eventName) const;
    // Every Subscribe and Unsubscribe call, in order.
    const std::vector<SubscriptionCall>& SubscriptionCalls() const { return subscriptionCalls_; }

    // --- Log and waits ----------------------------------------------------------

    const std::vector<LogLine>& LogLines() const { return logLines_; }
    // Log lines whose text contains `fragment`.
    std::vector<LogLine> LogLinesContaining(const std::string& fragment) const;
    // "BeginWait(<label>, <flags>)", "Yield" and "EndWait", in call order.
    const std::vector<std::string>& WaitCalls() const { return waitCalls_; }

    // Forgets the recorded calls (not the canned data, timers or subscriptions).
    void ClearRecords();

    // --- Every host call ---------------------------------------------------------

    // Host calls the plug-in made: the ten host functions, and the read and release functions of
    // the responses handed out. Not reset by ClearRecords.
    size_t HostCallCount() const { return hostCalls_; }
    // Runs `hook` with the number of the call (from 1) and the function's name at the end of every
    // host call, after its effect, as a host does that ends the plug-in or delivers events from
    // inside any of its functions. Calls the hook itself causes are counted but do not run it
    // again. An empty hook removes it.
    void AtHostCall(std::function<void(size_t number, const std::string& function)> hook) {
        callHook_ = std::move(hook);
    }

private:
    struct Table {
        HostFunctionTable functions;
        TestHost* host;
    };

    struct PendingTimer {
        std::string label;
        HostTimerCallback callback;
        void* userData;
    };

    struct CannedResource {
        enum class Kind { Value, Stream, Error } kind = Kind::Value;
        HostValue value{};
        std::vector<StreamChunk> chunks;
        uint32_t sizeHint = 0;
        std::optional<size_t> failAfter;
        int32_t errorCode = 0;
        std::string errorText;
    };

    struct StreamState {
        TestHost* host = nullptr;
        std::vector<StreamChunk> chunks;
        size_t chunk = 0;
        size_t offset = 0;
        size_t reads = 0;
        std::optional<size_t> failAfter;
    };

    // Host storage behind one response record, until it is released.
    struct ResponseStorage {
        HostValueArena arena;
        std::string error;
        std::unique_ptr<StreamState> stream;
    };

    struct ExternalStorage {
        std::string body;
        std::deque<std::string> texts;
        std::vector<HostHeaderEntry> headers;
    };

    static TestHost& From(const HostFunctionTable* table);
    // Every TestHost in existence, for the release function, which is given
    // nothing but the response record.
    static std::vector<TestHost*>& LiveHosts();
    static void KORVEL_CDECL SendRequestEntry(const HostFunctionTable* table,
                                              HostResourceResponse* response,
                                              const HostResourceRequest* request);
    static void KORVEL_CDECL SendExternalRequestEntry(const HostFunctionTable* table,
                                                      ExternalResponseRecord* response,
                                                      const ExternalRequestRecord* request);
    static void KORVEL_CDECL FireEventEntry(const HostFunctionTable* table,
                                            const HostEventRecord* event);
    static void KORVEL_CDECL SubscribeEntry(const HostFunctionTable* table, const char* eventName,
                                            uint32_t pluginId, HostEventCallback callback,
                                            void* userData, uint32_t flag);
    static void KORVEL_CDECL UnsubscribeEntry(const HostFunctionTable* table, const char* eventName,
                                              uint32_t pluginId);
    static void KORVEL_CDECL SetTimerEntry(const HostFunctionTable* table, const char* label,
                                           HostTimerCallback callback, void* userData,
                                           double delaySeconds, uint32_t flags);
    static void KORVEL_CDECL YieldEntry(const HostFunctionTable* table);
    static void KORVEL_CDECL BeginWaitEntry(const HostFunctionTable* table, const char* label,
                                            uint32_t flags);
    static void KORVEL_CDECL EndWaitEntry(const HostFunctionTable* table);
    static void KORVEL_CDECL LogEntry(const HostFunctionTable* table, int32_t level,
                                      const char* text);
    static bool KORVEL_CDECL ReadEntry(void* context, void* buffer, uint32_t* length,
                                       uint8_t* moreData);
    static void KORVEL_CDECL ReleaseEntry(HostResourceResponse* response);

    // Counts a host call and runs the call hook; at the end of each host function.
    void HostCalled(const char* function);
    class CallEnd;

    // Runs the earliest timer due at or before `limit`; false when none is.
    bool RunNextTimer(int64_t limit);
    // The GetMemoryStats entry point of the open library: from the table
    // the export handed over, or at the learned offset from the export.
    PluginGetMemoryStatsFunction MemoryStatsEntry() const;
    // Loads the library once, alone, to learn where GetMemoryStats lies
    // relative to the export.
    static void LearnMemoryStatsOffset();
    static std::optional<intptr_t>& MemoryStatsOffset();

    Table table_;
    HostContext context_{};
    PluginApiDescriptor descriptor_{};
    // The entry points, copied at load: the table the descriptor points to
    // lives inside the plug-in object and goes away with it.
    PluginFunctionTable functions_{};
    bool haveFunctions_ = false;
    void* library_ = nullptr;
    LoadPluginFunction export_ = nullptr;
    bool shutDown_ = false;

    int64_t now_ = 0;
    uint64_t timerSequence_ = 0;
    std::map<std::pair<int64_t, uint64_t>, PendingTimer> timers_;
    std::vector<TimerCall> timerCalls_;

    HostValueArena arena_;
    std::map<std::string, CannedResource> resources_;
    std::vector<std::pair<const HostResourceResponse*, std::unique_ptr<ResponseStorage>>>
        responses_;
    size_t releasedResponses_ = 0;
    std::vector<ResourceRequest> requests_;

    std::map<std::string, CannedExternalResponse> externalResponses_;
    std::deque<ExternalStorage> externalStorage_;
    std::vector<ExternalRequest> externalRequests_;
    std::function<void(const std::string& url)> fetchHook_;
    bool inFetchHook_ = false;

    std::vector<FiredEvent> events_;
    std::function<void(const std::string& eventName)> publishHook_;
    bool inPublishHook_ = false;
    std::vector<Subscription> subscriptions_;
    std::vector<SubscriptionCall> subscriptionCalls_;
    std::vector<LogLine> logLines_;
    std::vector<std::string> waitCalls_;
    size_t hostCalls_ = 0;
    std::function<void(size_t number, const std::string& function)> callHook_;
    bool inCallHook_ = false;
};

} // namespace Korvel::Testing
