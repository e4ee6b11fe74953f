#include "test_host.h"

#include <gtest/gtest.h>

#include "platform/dynamic_library.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>

namespace Korvel::Testing {

namespace {

// A plug-in that re-arms a zero-delay timer forever would never let time
// advance; stop and fail after this many callbacks in one call.
constexpr size_t kMaxTimerRuns = 100000;

std::string TextOrEmpty(const char* text) {
    return text != nullptr ? std::string(text) : std::string();
}

// Whether the plug-in library is loaded in this process, without loading it.
bool PluginLibraryLoaded() {
#ifdef _WIN32
    std::string path = KORVEL_PLUGIN_PATH;
    std::replace(path.begin(), path.end(), '/', '\\');
    return GetModuleHandleA(path.c_str()) != nullptr;
#else
    void* loaded = dlopen(KORVEL_PLUGIN_PATH, RTLD_NOW | RTLD_NOLOAD);
    if (loaded != nullptr) {
        dlclose(loaded);
    }
    return loaded != nullptr;
#endif
}

bool AllZero(const uint8_t* bytes, size_t size) {
    return std::all_of(bytes, bytes + size, [](uint8_t byte) { return byte == 0; });
}

} // namespace

// Counts the host call when the host function returns, whichever way it does.
class TestHost::CallEnd {
public:
    CallEnd(TestHost& host, const char* function) : host_(host), function_(function) {}
    ~CallEnd() { host_.HostCalled(function_); }
    CallEnd(const CallEnd&) = delete;
    CallEnd& operator=(const CallEnd&) = delete;

private:
    TestHost& host_;
    const char* function_;
};

void TestHost::HostCalled(const char* function) {
    const size_t number = ++hostCalls_;
    if (callHook_ && !inCallHook_) {
        // A copy: the hook may replace or remove itself.
        const auto hook = callHook_;
        inCallHook_ = true;
        hook(number, function);
        inCallHook_ = false;
    }
}

TestHost::TestHost() {
    table_.functions.sendRequest = &TestHost::SendRequestEntry;
    table_.functions.sendExternalRequest = &TestHost::SendExternalRequestEntry;
    table_.functions.fireEvent = &TestHost::FireEventEntry;
    table_.functions.subscribe = &TestHost::SubscribeEntry;
    table_.functions.unsubscribe = &TestHost::UnsubscribeEntry;
    table_.functions.setTimer = &TestHost::SetTimerEntry;
    table_.functions.yield = &TestHost::YieldEntry;
    table_.functions.beginWait = &TestHost::BeginWaitEntry;
    table_.functions.endWait = &TestHost::EndWaitEntry;
    table_.functions.log = &TestHost::LogEntry;
    table_.host = this;
    LiveHosts().push_back(this);
}

TestHost::~TestHost() {
    if (library_ != nullptr) {
        if (!shutDown_ && haveFunctions_ && descriptor_.plugin != nullptr) {
            Shutdown();
        }
        Platform::CloseLibrary(library_);
    }
    std::erase(LiveHosts(), this);
}

std::vector<TestHost*>& TestHost::LiveHosts() {
    static std::vector<TestHost*> hosts;
    return hosts;
}

TestHost& TestHost::From(const HostFunctionTable* table) {
    // The function table is the first member of Table, so its address is the
    // Table's address.
    return *reinterpret_cast<const Table*>(table)->host;
}

void TestHost::Load(HostVersion version) {
    Open();
    if (library_ != nullptr) {
        CallExport(version);
    }
}

void TestHost::Open() {
    ASSERT_EQ(library_, nullptr) << "a test host loads the library once";
    if (!MemoryStatsOffset()) {
        LearnMemoryStatsOffset();
    }
    library_ = Platform::OpenLibrary(KORVEL_PLUGIN_PATH);
    ASSERT_NE(library_, nullptr) << "cannot load " << KORVEL_PLUGIN_PATH;
    export_ = reinterpret_cast<LoadPluginFunction>(
        Platform::FindLibraryFunction(library_, "load_vel_service_status"));
    ASSERT_NE(export_, nullptr) << "load_vel_service_status not exported";
}

void TestHost::CallExport(HostVersion version) {
    ASSERT_NE(export_, nullptr) << "the library is not open";
    ASSERT_FALSE(haveFunctions_) << "a test host calls the export once";
    descriptor_ = PluginApiDescriptor{};
    descriptor_.apiMajor = version.major;
    descriptor_.apiMinor = version.minor;
    descriptor_.apiPatch = version.patch;
    export_(&descriptor_);
    if (descriptor_.pluginFunctions != nullptr) {
        functions_ = *descriptor_.pluginFunctions;
        haveFunctions_ = true;
    }
}

std::optional<intptr_t>& TestHost::MemoryStatsOffset() {
    static std::optional<intptr_t> offset;
    return offset;
}

void TestHost::LearnMemoryStatsOffset() {
    if (PluginLibraryLoaded()) {
        // Another host has the library open; a load now would share its
        // state. The offset stays unknown until a host loads it alone.
        return;
    }
    Platform::LibraryHandle library = Platform::OpenLibrary(KORVEL_PLUGIN_PATH);
    if (library == nullptr) {
        return;
    }
    auto load = reinterpret_cast<LoadPluginFunction>(
        Platform::FindLibraryFunction(library, "load_vel_service_status"));
    if (load != nullptr) {
        PluginApiDescriptor descriptor{};
        descriptor.apiMajor = 18;
        load(&descriptor);
        if (descriptor.pluginFunctions != nullptr) {
            const PluginFunctionTable functions = *descriptor.pluginFunctions;
            MemoryStatsOffset() =
                static_cast<intptr_t>(reinterpret_cast<uintptr_t>(functions.getMemoryStats) -
                                      reinterpret_cast<uintptr_t>(load));
            functions.shutdown(descriptor.plugin);
        }
    }
    Platform::CloseLibrary(library);
}

PluginGetMemoryStatsFunction TestHost::MemoryStatsEntry() const {
    if (haveFunctions_) {
        return functions_.getMemoryStats;
    }
    if (export_ == nullptr || !MemoryStatsOffset()) {
        return nullptr;
    }
    return reinterpret_cast<PluginGetMemoryStatsFunction>(
        reinterpret_cast<uintptr_t>(export_) + static_cast<uintptr_t>(*MemoryStatsOffset()));
}

bool TestHost::Initialize(uint32_t pluginId) {
    if (!haveFunctions_ || functions_.initialize == nullptr) {
        ADD_FAILURE() << "the plug-in gave no Initialize entry point";
        return false;
    }
    return functions_.initialize(descriptor_.plugin, Context(pluginId));
}

void TestHost::Shutdown() {
    if (!haveFunctions_ || functions_.shutdown == nullptr) {
        ADD_FAILURE() << "the plug-in gave no Shutdown entry point";
        return;
    }
    if (shutDown_) {
        ADD_FAILURE() << "Shutdown called twice";
        return;
    }
    shutDown_ = true;
    functions_.shutdown(descriptor_.plugin);
}

PluginMemoryStats TestHost::MemoryStats() const {
    PluginMemoryStats stats;
    std::memset(&stats, 0xA5, sizeof(stats));
    ReadMemoryStats(&stats);
    return stats;
}

void TestHost::ReadMemoryStats(void* record) const {
    const PluginGetMemoryStatsFunction entry = MemoryStatsEntry();
    if (entry == nullptr) {
        ADD_FAILURE() << "no GetMemoryStats entry point known";
        return;
    }
    // The first argument is ignored by the plug-in; pass something useless.
    entry(nullptr, static_cast<PluginMemoryStats*>(record));
}

const HostContext* TestHost::Context(uint32_t pluginId) {
    context_.functions = &table_.functions;
    context_.pluginId = pluginId;
    return &context_;
}

int64_t TestHost::Clock(void* host) {
    return static_cast<const TestHost*>(host)->now_;
}

// --- Timers ------------------------------------------------------------------

void KORVEL_CDECL TestHost::SetTimerEntry(const HostFunctionTable* table, const char* label,
                                          HostTimerCallback callback, void* userData,
                                          double delaySeconds, uint32_t flags) {
    TestHost& host = From(table);
    const CallEnd end(host, "SetTimer");
    host.timerCalls_.push_back(
        TimerCall{TextOrEmpty(label), delaySeconds, flags, host.now_, callback, userData});
    if (callback == nullptr) {
        ADD_FAILURE() << "SetTimer without a callback";
        return;
    }
    int64_t delay = 0;
    if (std::isfinite(delaySeconds) && delaySeconds > 0) {
        delay = static_cast<int64_t>(std::llround(delaySeconds * 1e9));
    }
    host.timers_.emplace(std::make_pair(host.now_ + delay, host.timerSequence_++),
                         PendingTimer{TextOrEmpty(label), callback, userData});
}

bool TestHost::RunNextTimer(int64_t limit) {
    if (timers_.empty() || timers_.begin()->first.first > limit) {
        return false;
    }
    auto next = timers_.begin();
    now_ = std::max(now_, next->first.first);
    PendingTimer timer = next->second;
    timers_.erase(next);
    timer.callback(timer.userData);
    return true;
}

void TestHost::AdvanceTime(std::chrono::nanoseconds span) {
    const int64_t target = now_ + span.count();
    size_t runs = 0;
    while (RunNextTimer(target)) {
        if (++runs > kMaxTimerRuns) {
            ADD_FAILURE() << "timers keep re-arming without time passing";
            return;
        }
    }
    now_ = std::max(now_, target);
}

size_t TestHost::RunDueTimers() {
    size_t runs = 0;
    while (RunNextTimer(now_)) {
        if (++runs > kMaxTimerRuns) {
            ADD_FAILURE() << "timers keep re-arming without time passing";
            break;
        }
    }
    return runs;
}

size_t TestHost::RunAllTimers() {
    size_t runs = 0;
    while (RunNextTimer(INT64_MAX)) {
        if (++runs > kMaxTimerRuns) {
            ADD_FAILURE() << "timers keep re-arming";
            break;
        }
    }
    return runs;
}

// --- Data store ----------------------------------------------------------------

void TestHost::SetResource(const std::string& path, const Json& value) {
    SetResourceValue(path, arena_.Build(value));
}

void TestHost::SetResourceValue(const std::string& path, const HostValue& value) {
    CannedResource resource;
    resource.kind = CannedResource::Kind::Value;
    resource.value = value;
    resources_[path] = std::move(resource);
}

void TestHost::SetStreamedResource(const std::string& path, std::vector<StreamChunk> chunks,
                                   uint32_t sizeHint, std::optional<size_t> failAfter) {
    CannedResource resource;
    resource.kind = CannedResource::Kind::Stream;
    resource.chunks = std::move(chunks);
    resource.sizeHint = sizeHint;
    resource.failAfter = failAfter;
    resources_[path] = std::move(resource);
}

void TestHost::SetResourceError(const std::string& path, int32_t code, const std::string& text) {
    CannedResource resource;
    resource.kind = CannedResource::Kind::Error;
    resource.errorCode = code;
    resource.errorText = text;
    resources_[path] = std::move(resource);
}

void TestHost::RemoveResource(const std::string& path) {
    resources_.erase(path);
}

void KORVEL_CDECL TestHost::SendRequestEntry(const HostFunctionTable* table,
                                             HostResourceResponse* response,
                                             const HostResourceRequest* request) {
    TestHost& host = From(table);
    const CallEnd end(host, "SendRequest");
    if (request == nullptr || response == nullptr) {
        ADD_FAILURE() << "SendRequest without a request or response record";
        return;
    }
    ResourceRequest recorded;
    recorded.method = request->method;
    recorded.path = TextOrEmpty(request->path);
    recorded.pluginId = request->pluginId;
    recorded.reservedBytesZero = AllZero(request->reserved0, sizeof(request->reserved0)) &&
                                 AllZero(request->reserved1, sizeof(request->reserved1));
    if (request->arguments != nullptr) {
        for (uint32_t i = 0; i < request->argumentCount; ++i) {
            recorded.arguments.emplace_back(TextOrEmpty(request->arguments[i].name),
                                            ReadHostValue(request->arguments[i].value));
        }
    }
    host.requests_.push_back(recorded);

    auto storage = std::make_unique<ResponseStorage>();
    auto found = host.resources_.find(recorded.path);
    if (found == host.resources_.end()) {
        storage->error = "Not found";
        response->error = storage->error.c_str();
        response->errorCode = 404;
    } else {
        const CannedResource& resource = found->second;
        switch (resource.kind) {
        case CannedResource::Kind::Value:
            response->body = resource.value;
            break;
        case CannedResource::Kind::Error:
            storage->error = resource.errorText;
            response->error = storage->error.c_str();
            response->errorCode = resource.errorCode;
            break;
        case CannedResource::Kind::Stream:
            storage->stream = std::make_unique<StreamState>();
            storage->stream->host = &host;
            storage->stream->chunks = resource.chunks;
            storage->stream->failAfter = resource.failAfter;
            response->read = &TestHost::ReadEntry;
            response->readContext = storage->stream.get();
            response->sizeHint = resource.sizeHint;
            break;
        }
    }
    response->release = &TestHost::ReleaseEntry;
    host.responses_.emplace_back(response, std::move(storage));
}

bool KORVEL_CDECL TestHost::ReadEntry(void* context, void* buffer, uint32_t* length,
                                      uint8_t* moreData) {
    auto* stream = static_cast<StreamState*>(context);
    if (stream == nullptr || length == nullptr || moreData == nullptr) {
        ADD_FAILURE() << "read function called without its context or outputs";
        return false;
    }
    const CallEnd end(*stream->host, "Read");
    if (stream->failAfter && stream->reads >= *stream->failAfter) {
        *length = 0;
        return false;
    }
    ++stream->reads;
    if (stream->chunk >= stream->chunks.size()) {
        *length = 0;
        *moreData = 0;
        return true;
    }
    const StreamChunk& chunk = stream->chunks[stream->chunk];
    const size_t left = chunk.bytes.size() - stream->offset;
    const size_t count = std::min<size_t>(left, *length);
    if (count > 0) {
        if (buffer == nullptr) {
            ADD_FAILURE() << "read function called without a buffer";
            return false;
        }
        std::memcpy(buffer, chunk.bytes.data() + stream->offset, count);
    }
    *length = static_cast<uint32_t>(count);
    stream->offset += count;
    if (stream->offset < chunk.bytes.size()) {
        *moreData = 1;
    } else {
        *moreData = chunk.more ? 1 : 0;
        ++stream->chunk;
        stream->offset = 0;
    }
    return true;
}

void KORVEL_CDECL TestHost::ReleaseEntry(HostResourceResponse* response) {
    // The release function carries no host pointer; the record's address
    // finds the host storage among the live hosts' responses. Tests use one
    // host at a time per response record, so the latest match is the one.
    for (TestHost* host : LiveHosts()) {
        auto& responses = host->responses_;
        for (auto it = responses.rbegin(); it != responses.rend(); ++it) {
            if (it->first == response) {
                responses.erase(std::next(it).base());
                ++host->releasedResponses_;
                host->HostCalled("Release");
                return;
            }
        }
    }
    ADD_FAILURE() << "release called with a record the host did not fill";
}

// --- Outside web servers ----------------------------------------------------

void TestHost::SetExternalResponse(const std::string& url, CannedExternalResponse response) {
    externalResponses_[url] = std::move(response);
}

void KORVEL_CDECL TestHost::SendExternalRequestEntry(const HostFunctionTable* table,
                                                     ExternalResponseRecord* response,
                                                     const ExternalRequestRecord* request) {
    TestHost& host = From(table);
    const CallEnd end(host, "SendExternalRequest");
    if (request == nullptr || response == nullptr) {
        ADD_FAILURE() << "SendExternalRequest without a request or response record";
        return;
    }
    ExternalRequest recorded;
    recorded.method = request->method;
    recorded.url = TextOrEmpty(request->url);
    if (request->headers != nullptr) {
        for (uint32_t i = 0; i < request->headerCount; ++i) {
            recorded.headers.emplace_back(TextOrEmpty(request->headers[i].name),
                                          TextOrEmpty(request->headers[i].value));
        }
    } else if (request->headerCount != 0) {
        ADD_FAILURE() << "external request with a header count but no headers";
    }
    if (request->body != nullptr) {
        recorded.body.assign(reinterpret_cast<const char*>(request->body), request->bodyLength);
    }
    recorded.timeLimit = request->timeLimit;
    recorded.flag = request->flag;
    host.externalRequests_.push_back(recorded);
    if (host.fetchHook_ && !host.inFetchHook_) {
        // A copy: the hook may replace or remove itself.
        const auto hook = host.fetchHook_;
        host.inFetchHook_ = true;
        hook(recorded.url);
        host.inFetchHook_ = false;
    }

    auto found = host.externalResponses_.find(recorded.url);
    if (found == host.externalResponses_.end()) {
        response->transportCode = 1;
        return;
    }
    const CannedExternalResponse& canned = found->second;
    ExternalStorage& storage = host.externalStorage_.emplace_back();
    response->transportCode = canned.transportCode;
    response->status = canned.status;
    for (const auto& [name, value] : canned.headers) {
        const char* keptName = storage.texts.emplace_back(name).c_str();
        const char* keptValue = storage.texts.emplace_back(value).c_str();
        storage.headers.push_back(HostHeaderEntry{keptName, keptValue});
    }
    response->headers =
        canned.nullHeaders || storage.headers.empty() ? nullptr : storage.headers.data();
    response->headerCount = static_cast<uint32_t>(canned.headers.size());
    if (canned.body) {
        storage.body = *canned.body;
        response->body = reinterpret_cast<const uint8_t*>(storage.body.data());
        response->bodyLength = static_cast<uint32_t>(storage.body.size());
    }
}

// --- Events --------------------------------------------------------------------

void KORVEL_CDECL TestHost::FireEventEntry(const HostFunctionTable* table,
                                           const HostEventRecord* event) {
    TestHost& host = From(table);
    const CallEnd end(host, "FireEvent");
    if (event == nullptr) {
        ADD_FAILURE() << "FireEvent without an event record";
        return;
    }
    host.events_.push_back(FiredEvent{TextOrEmpty(event->name), ReadHostValue(event->payload),
                                      ReadHostValueKinds(event->payload), event->flag});
    if (host.publishHook_ && !host.inPublishHook_) {
        // Copies: the hook may replace or remove itself, and events the plug-in fires while it
        // runs may move the records, so the name must not refer into them.
        const auto hook = host.publishHook_;
        const std::string name = host.events_.back().name;
        host.inPublishHook_ = true;
        hook(name);
        host.inPublishHook_ = false;
    }
}

void KORVEL_CDECL TestHost::SubscribeEntry(const HostFunctionTable* table, const char* eventName,
                                           uint32_t pluginId, HostEventCallback callback,
                                           void* userData, uint32_t flag) {
    TestHost& host = From(table);
    const CallEnd end(host, "Subscribe");
    const std::string name = TextOrEmpty(eventName);
    host.subscriptionCalls_.push_back(SubscriptionCall{true, name, pluginId, flag});
    if (callback == nullptr) {
        ADD_FAILURE() << "Subscribe to " << name << " without a callback";
        return;
    }
    host.subscriptions_.push_back(Subscription{name, pluginId, callback, userData, flag});
}

void KORVEL_CDECL TestHost::UnsubscribeEntry(const HostFunctionTable* table, const char* eventName,
                                             uint32_t pluginId) {
    TestHost& host = From(table);
    const CallEnd end(host, "Unsubscribe");
    const std::string name = TextOrEmpty(eventName);
    host.subscriptionCalls_.push_back(SubscriptionCall{false, name, pluginId, 0});
    std::erase_if(host.subscriptions_, [&](const Subscription& subscription) {
        return subscription.eventName == name && subscription.pluginId == pluginId;
    });
}

bool TestHost::IsSubscribed(const std::string& eventName) const {
    return std::any_of(subscriptions_.begin(), subscriptions_.end(),
                       [&](const Subscription& s) { return s.eventName == eventName; });
}

size_t TestHost::Deliver(const std::string& eventName, const Json& payload) {
    HostValueArena arena;
    return DeliverValue(eventName, arena.Build(payload));
}

size_t TestHost::DeliverValue(const std::string& eventName, const HostValue& payload) {
    // Callbacks may subscribe or unsubscribe; work on the list as it was.
    const std::vector<Subscription> targets = subscriptions_;
    size_t calls = 0;
    for (const Subscription& subscription : targets) {
        if (subscription.eventName != eventName) {
            continue;
        }
        HostEventRecord record{};
        record.name = eventName.c_str();
        record.payload = payload;
        record.flag = 0;
        record.userData = subscription.userData;
        subscription.callback(&record);
        ++calls;
    }
    return calls;
}

// --- Log and waits ------------------------------------------------------------

void KORVEL_CDECL TestHost::LogEntry(const HostFunctionTable* table, int32_t level,
                                     const char* text) {
    TestHost& host = From(table);
    const CallEnd end(host, "Log");
    host.logLines_.push_back(LogLine{level, TextOrEmpty(text)});
}

std::vector<LogLine> TestHost::LogLinesContaining(const std::string& fragment) const {
    std::vector<LogLine> lines;
    for (const LogLine& line : logLines_) {
        if (line.text.find(fragment) != std::string::npos) {
            lines.push_back(line);
        }
    }
    return lines;
}

void KORVEL_CDECL TestHost::YieldEntry(const HostFunctionTable* table) {
    TestHost& host = From(table);
    const CallEnd end(host, "Yield");
    host.waitCalls_.push_back("Yield");
}

void KORVEL_CDECL TestHost::BeginWaitEntry(const HostFunctionTable* table, const char* label,
                                           uint32_t flags) {
    TestHost& host = From(table);
    const CallEnd end(host, "BeginWait");
    host.waitCalls_.push_back("BeginWait(" + TextOrEmpty(label) + ", " + std::to_string(flags) +
                              ")");
}

void KORVEL_CDECL TestHost::EndWaitEntry(const HostFunctionTable* table) {
    TestHost& host = From(table);
    const CallEnd end(host, "EndWait");
    host.waitCalls_.push_back("EndWait");
}

void TestHost::ClearRecords() {
    timerCalls_.clear();
    requests_.clear();
    externalRequests_.clear();
    events_.clear();
    subscriptionCalls_.clear();
    logLines_.clear();
    waitCalls_.clear();
}

} // namespace Korvel::Testing
