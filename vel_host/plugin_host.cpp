#include "vel_host/plugin_host.h"

#include "vel_host/declared_functions.h"
#include "vel_host/external_client.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace Korvel::VelHost {

namespace {

// The one host of this process; the resource release function gets nothing but the record.
PluginHost* g_liveHost = nullptr;

// A plug-in never asks for a delay this long; longer ones are cut so the sum stays in range.
constexpr double kMaxTimerDelaySeconds = 366.0 * 24 * 3600;

std::string TextOrEmpty(const char* text) {
    return text != nullptr ? std::string(text) : std::string();
}

const char* MethodName(uint32_t code) {
    switch (code) {
    case 1:
        return "DELETE";
    case 2:
        return "GET";
    case 3:
        return "HEAD";
    case 4:
        return "OPTIONS";
    case 5:
        return "PATCH";
    case 6:
        return "POST";
    case 7:
        return "PUT";
    default:
        return nullptr;
    }
}

bool IsCompatible(const ApiVersionNumber& plugin, const ApiVersionNumber& host) {
    if (host.major != plugin.major) {
        return false;
    }
    return host.minor != plugin.minor ? host.minor > plugin.minor : host.patch >= plugin.patch;
}

} // namespace

std::string ApiVersionNumber::Text() const {
    return std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(patch);
}

std::optional<ApiVersionNumber> ApiVersionNumber::Parse(const std::string& text) {
    ApiVersionNumber version;
    uint32_t* parts[] = {&version.major, &version.minor, &version.patch};
    std::size_t at = 0;
    for (std::size_t i = 0; i < 3; ++i) {
        if (i > 0) {
            if (at >= text.size() || text[at] != '.') {
                return std::nullopt;
            }
            ++at;
        }
        const std::size_t start = at;
        uint64_t value = 0;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9' && at - start < 10) {
            value = value * 10 + static_cast<uint64_t>(text[at] - '0');
            ++at;
        }
        if (at == start || value > UINT32_MAX) {
            return std::nullopt;
        }
        *parts[i] = static_cast<uint32_t>(value);
    }
    if (at != text.size()) {
        return std::nullopt;
    }
    return version;
}

PluginHost::PluginHost(HostLoop& loop, EventHub& hub, DataStore& store, PluginHostOptions options)
    : loop_(loop), hub_(hub), store_(store), options_(std::move(options)) {
    table_.functions.sendRequest = &PluginHost::SendRequestEntry;
    table_.functions.sendExternalRequest = &PluginHost::SendExternalRequestEntry;
    table_.functions.fireEvent = &PluginHost::FireEventEntry;
    table_.functions.subscribe = &PluginHost::SubscribeEntry;
    table_.functions.unsubscribe = &PluginHost::UnsubscribeEntry;
    table_.functions.setTimer = &PluginHost::SetTimerEntry;
    table_.functions.yield = &PluginHost::YieldEntry;
    table_.functions.beginWait = &PluginHost::BeginWaitEntry;
    table_.functions.endWait = &PluginHost::EndWaitEntry;
    table_.functions.log = &PluginHost::LogEntry;
    table_.host = this;
    g_liveHost = this;
}

PluginHost::~PluginHost() {
    if (initialized_ && !shutDown_) {
        Shutdown();
    }
    declared_.reset();
    resourceStorage_.clear();
    externalStorage_.clear();
    if (library_ != nullptr) {
        dlclose(library_);
    }
    if (g_liveHost == this) {
        g_liveHost = nullptr;
    }
}

PluginHost& PluginHost::From(const HostFunctionTable* table) {
    return *reinterpret_cast<const TableBlock*>(table)->host;
}

void PluginHost::Load() {
    const std::string& path = options_.libraryPath;
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        throw PluginError("plug-in library '" + path + "' not found: " + std::strerror(errno));
    }
    if (!S_ISREG(info.st_mode)) {
        throw PluginError("plug-in library '" + path + "' is not a file");
    }
    library_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library_ == nullptr) {
        const char* error = dlerror();
        throw PluginError("cannot load plug-in library '" + path +
                          "': " + (error != nullptr ? error : "unknown error"));
    }
    auto load = reinterpret_cast<LoadPluginFunction>(dlsym(library_, "load_vel_service_status"));
    if (load == nullptr) {
        throw PluginError("'" + path +
                          "' is not a vel-service-status plug-in: it does not export "
                          "load_vel_service_status");
    }
    descriptor_ = PluginApiDescriptor{};
    descriptor_.apiMajor = options_.hostVersion.major;
    descriptor_.apiMinor = options_.hostVersion.minor;
    descriptor_.apiPatch = options_.hostVersion.patch;
    loopThread_ = std::this_thread::get_id();
    Enter([&] { load(&descriptor_); });
    if (descriptor_.plugin == nullptr || descriptor_.pluginFunctions == nullptr ||
        descriptor_.pluginFunctions->initialize == nullptr ||
        descriptor_.pluginFunctions->shutdown == nullptr) {
        throw PluginError("the plug-in in '" + path + "' did not accept the host (plug-in API " +
                          options_.hostVersion.Text() + ")");
    }
    functions_ = *descriptor_.pluginFunctions;
    pluginName_ = TextOrEmpty(descriptor_.name);
    const ApiVersionNumber pluginVersion{descriptor_.apiMajor, descriptor_.apiMinor,
                                         descriptor_.apiPatch};
    if (!IsCompatible(pluginVersion, options_.hostVersion)) {
        // The plug-in object exists; let it go before refusing it.
        Enter([&] { functions_.shutdown(descriptor_.plugin); });
        shutDown_ = true;
        throw PluginError("plug-in " + pluginName_ + " supports plug-in API " +
                          pluginVersion.Text() + ", which host API " + options_.hostVersion.Text() +
                          " cannot serve");
    }
    declared_ = std::make_unique<DeclaredFunctions>(descriptor_.apiDeclaration);
}

bool PluginHost::Initialize() {
    loopThread_ = std::this_thread::get_id();
    context_.functions = &table_.functions;
    context_.pluginId = options_.pluginId;
    bool started = false;
    initialized_ = true;
    Enter([&] { started = functions_.initialize(descriptor_.plugin, &context_); });
    return started;
}

void PluginHost::Shutdown() {
    if (!initialized_ || shutDown_) {
        return;
    }
    shutDown_ = true;
    Enter([&] { functions_.shutdown(descriptor_.plugin); });
    // The plug-in object is gone: no timer, event or function may reach it any more.
    loop_.DropTimers();
    subscriptions_.clear();
    declared_.reset();
    resourceStorage_.clear();
}

void PluginHost::Enter(const std::function<void()>& call) {
    if (std::this_thread::get_id() != loopThread_) {
        std::fprintf(stderr, "vel-host: internal error: plug-in entered outside the host loop\n");
        std::abort();
    }
    ++entryDepth_;
    call();
    if (--entryDepth_ == 0) {
        externalStorage_.clear();
    }
}

// --- Events ----------------------------------------------------------------------------------

void KORVEL_CDECL PluginHost::SubscribeEntry(const HostFunctionTable* table, const char* eventName,
                                             uint32_t pluginId, HostEventCallback callback,
                                             void* userData, uint32_t flag) {
    PluginHost& host = From(table);
    if (eventName == nullptr || callback == nullptr) {
        host.hub_.AddLog(2, "vel-host: Subscribe without an event name or callback ignored");
        return;
    }
    host.subscriptions_.push_back(Subscription{eventName, pluginId, callback, userData, flag});
}

void KORVEL_CDECL PluginHost::UnsubscribeEntry(const HostFunctionTable* table,
                                               const char* eventName, uint32_t pluginId) {
    PluginHost& host = From(table);
    const std::string name = TextOrEmpty(eventName);
    std::erase_if(host.subscriptions_, [&](const Subscription& subscription) {
        return subscription.eventName == name && subscription.pluginId == pluginId;
    });
}

bool PluginHost::IsSubscribed(const std::string& name) const {
    return std::any_of(subscriptions_.begin(), subscriptions_.end(),
                       [&](const Subscription& s) { return s.eventName == name; });
}

std::vector<std::string> PluginHost::Subscriptions() const {
    std::vector<std::string> names;
    for (const Subscription& subscription : subscriptions_) {
        names.push_back(subscription.eventName);
    }
    return names;
}

std::size_t PluginHost::DeliverEvent(const std::string& name, const Json& payload) {
    if (!Running()) {
        return 0;
    }
    // Converted first: a payload the host cannot hand over (nested too deep) changes nothing,
    // and the store never keeps a packet it could not serve.
    HostValueArena arena;
    const HostValue value = arena.Build(payload);
    // A login-data update changes what the data store serves for the login data packet.
    const auto uri = payload.is_object() ? payload.find("uri") : payload.end();
    if (uri != payload.end() && uri->is_string() &&
        (*uri == DataStore::kLoginDataPacketPath || *uri == DataStore::kLoginDataPacketPath + 1)) {
        const Json eventType = payload.contains("eventType") ? payload["eventType"] : Json();
        if (eventType == "Delete" || eventType == 2) {
            store_.ClearLoginDataPacket();
        } else if (payload.contains("data") && payload["data"].is_object()) {
            store_.SetLoginDataPacket(payload["data"]);
        }
    }
    // Callbacks may subscribe or unsubscribe; deliver to the subscriptions as they were.
    const std::vector<Subscription> targets = subscriptions_;
    std::size_t calls = 0;
    for (const Subscription& subscription : targets) {
        if (subscription.eventName != name || shutDown_) {
            continue;
        }
        HostEventRecord record;
        std::memset(&record, 0, sizeof(record));
        record.name = name.c_str();
        record.payload = value;
        record.flag = 0;
        record.userData = subscription.userData;
        Enter([&] { subscription.callback(&record); });
        ++calls;
    }
    return calls;
}

void KORVEL_CDECL PluginHost::FireEventEntry(const HostFunctionTable* table,
                                             const HostEventRecord* event) {
    PluginHost& host = From(table);
    if (event == nullptr) {
        return;
    }
    const std::string name = TextOrEmpty(event->name);
    const HostValue payload = event->payload;
    Json value = ReadHostValue(payload);
    if (host.options_.verbose) {
        std::fprintf(stderr, "vel-host: event %s %s\n", name.c_str(), DumpCompact(value).c_str());
    }
    host.hub_.Publish(name, value);
}

// --- Timers and waits -----------------------------------------------------------------------

void KORVEL_CDECL PluginHost::SetTimerEntry(const HostFunctionTable* table, const char* label,
                                            HostTimerCallback callback, void* userData,
                                            double delaySeconds, uint32_t /*flags*/) {
    PluginHost& host = From(table);
    if (callback == nullptr) {
        host.hub_.AddLog(2, "vel-host: SetTimer without a callback ignored");
        return;
    }
    double delay = std::isfinite(delaySeconds) && delaySeconds > 0 ? delaySeconds : 0.0;
    delay = std::min(delay, kMaxTimerDelaySeconds);
    const auto span =
        std::chrono::duration_cast<HostLoop::Clock::duration>(std::chrono::duration<double>(delay));
    PluginHost* self = &host;
    std::string name = TextOrEmpty(label);
    host.loop_.AddTimer(span, [self, callback, userData, name = std::move(name)] {
        if (!self->Running()) {
            return;
        }
        if (self->options_.verbose) {
            std::fprintf(stderr, "vel-host: timer %s\n", name.c_str());
        }
        self->Enter([&] { callback(userData); });
    });
}

void KORVEL_CDECL PluginHost::YieldEntry(const HostFunctionTable* /*table*/) {
    // The plug-in waits for more of a streamed body. The data store has it all at hand, so there
    // is nothing to wait for; other plug-in callbacks must not run in between.
    std::this_thread::yield();
}

void KORVEL_CDECL PluginHost::BeginWaitEntry(const HostFunctionTable* /*table*/,
                                             const char* /*label*/, uint32_t /*flags*/) {}

void KORVEL_CDECL PluginHost::EndWaitEntry(const HostFunctionTable* /*table*/) {}

// --- Log -------------------------------------------------------------------------------------

void KORVEL_CDECL PluginHost::LogEntry(const HostFunctionTable* table, int32_t level,
                                       const char* text) {
    PluginHost& host = From(table);
    std::string line = TextOrEmpty(text);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
        line.pop_back();
    }
    std::fprintf(stderr, "%-6s| %s\n", EventHub::LevelName(level).c_str(), line.c_str());
    std::fflush(stderr);
    host.hub_.AddLog(level, line);
}

// --- Data store ------------------------------------------------------------------------------

void KORVEL_CDECL PluginHost::SendRequestEntry(const HostFunctionTable* table,
                                               HostResourceResponse* response,
                                               const HostResourceRequest* request) {
    if (response == nullptr || request == nullptr) {
        return;
    }
    From(table).SendRequest(*response, *request);
}

void PluginHost::SendRequest(HostResourceResponse& response, const HostResourceRequest& request) {
    auto storage = std::make_unique<ResourceStorage>();
    const std::string path = TextOrEmpty(request.path);
    const auto fail = [&](int32_t code, std::string text) {
        storage->error = std::move(text);
        response.error = storage->error.c_str();
        response.errorCode = code;
    };
    if (request.method != 2) {
        fail(405, "Method not allowed: the data store is read with GET");
    } else if (std::optional<Json> entry = store_.Find(path)) {
        const std::string text = DumpCompact(*entry);
        if (text.size() > options_.streamThreshold) {
            storage->stream = std::make_unique<ResourceStream>();
            storage->stream->text = text;
            response.read = &PluginHost::ReadEntry;
            response.readContext = storage->stream.get();
            response.sizeHint = static_cast<uint32_t>(text.size());
        } else {
            response.body = storage->arena.Build(*entry);
        }
    } else {
        fail(404, "Not found");
    }
    response.release = &PluginHost::ReleaseEntry;
    resourceStorage_[&response] = std::move(storage);
}

bool KORVEL_CDECL PluginHost::ReadEntry(void* context, void* buffer, uint32_t* length,
                                        uint8_t* moreData) {
    auto* stream = static_cast<ResourceStream*>(context);
    if (stream == nullptr || length == nullptr || moreData == nullptr ||
        (buffer == nullptr && *length != 0)) {
        return false;
    }
    const std::size_t left = stream->text.size() - stream->offset;
    const std::size_t count = std::min<std::size_t>(left, *length);
    if (count > 0) {
        std::memcpy(buffer, stream->text.data() + stream->offset, count);
    }
    stream->offset += count;
    *length = static_cast<uint32_t>(count);
    *moreData = stream->offset < stream->text.size() ? 1 : 0;
    return true;
}

void KORVEL_CDECL PluginHost::ReleaseEntry(HostResourceResponse* response) {
    if (g_liveHost != nullptr) {
        g_liveHost->resourceStorage_.erase(response);
    }
}

// --- Outside requests ------------------------------------------------------------------------

void KORVEL_CDECL PluginHost::SendExternalRequestEntry(const HostFunctionTable* table,
                                                       ExternalResponseRecord* response,
                                                       const ExternalRequestRecord* request) {
    if (response == nullptr || request == nullptr) {
        return;
    }
    From(table).SendExternalRequest(*response, *request);
}

void PluginHost::SendExternalRequest(ExternalResponseRecord& response,
                                     const ExternalRequestRecord& request) {
    ExternalStorage& storage = externalStorage_.emplace_back();
    ExternalResult result;
    const char* method = MethodName(request.method);
    if (method == nullptr) {
        result.code = TransportCode::Failed;
        result.body = "unsupported method code " + std::to_string(request.method);
    } else if (request.url == nullptr || request.url[0] == '\0') {
        result.code = TransportCode::Failed;
        result.body = "the request has no url";
    } else {
        ExternalCall call;
        call.method = method;
        call.url = request.url;
        if (request.headers != nullptr) {
            for (uint32_t i = 0; i < request.headerCount; ++i) {
                const HostHeaderEntry& header = request.headers[i];
                if (header.name != nullptr && header.name[0] != '\0') {
                    call.headers.emplace_back(header.name, TextOrEmpty(header.value));
                }
            }
        }
        if (request.body != nullptr && request.bodyLength > 0) {
            call.body.assign(reinterpret_cast<const char*>(request.body), request.bodyLength);
            call.hasBody = true;
        }
        call.timeLimitSeconds = request.timeLimit;
        if (options_.maxRequestSeconds != 0 &&
            (call.timeLimitSeconds == 0 || call.timeLimitSeconds > options_.maxRequestSeconds)) {
            call.timeLimitSeconds = options_.maxRequestSeconds;
        }
        const auto started = std::chrono::steady_clock::now();
        result = PerformExternalRequest(call);
        if (options_.verbose) {
            const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(
                std::chrono::steady_clock::now() - started);
            std::fprintf(stderr, "vel-host: %s %s -> transport %u, status %u (%lld ms)\n", method,
                         call.url.c_str(), static_cast<unsigned>(result.code), result.status,
                         static_cast<long long>(spent.count()));
        }
    }
    storage.body = std::move(result.body);
    for (const auto& [name, value] : result.headers) {
        const char* keptName = storage.texts.emplace_back(name).c_str();
        const char* keptValue = storage.texts.emplace_back(value).c_str();
        storage.headers.push_back(HostHeaderEntry{keptName, keptValue});
    }
    response.transportCode = static_cast<uint32_t>(result.code);
    response.status = result.status;
    response.headers = storage.headers.empty() ? nullptr : storage.headers.data();
    response.headerCount = static_cast<uint32_t>(storage.headers.size());
    // The body stays NUL-terminated behind its length, for readers that treat it as text.
    response.body = reinterpret_cast<const uint8_t*>(storage.body.c_str());
    response.bodyLength = static_cast<uint32_t>(storage.body.size());
}

// --- Declared functions ----------------------------------------------------------------------

FunctionAnswer PluginHost::CallFunction(const FunctionCall& call) {
    if (!Running() || declared_ == nullptr) {
        FunctionAnswer answer;
        answer.status = 503;
        answer.body = DumpCompact(Json{{"error", "the plug-in is not running"}});
        return answer;
    }
    return declared_->Call(call, ++nextToken_,
                           [&](const std::function<void()>& entry) { Enter(entry); });
}

Json PluginHost::DescribeFunctions() const {
    return declared_ != nullptr ? declared_->Describe() : Json::array();
}

Json PluginHost::Describe() const {
    Json description = {
        {"name", pluginName_},
        {"hostApiVersion", options_.hostVersion.Text()},
        {"pluginApiVersion",
         ApiVersionNumber{descriptor_.apiMajor, descriptor_.apiMinor, descriptor_.apiPatch}.Text()},
        {"running", Running()},
        {"subscriptions", Subscriptions()}};
    if (library_ != nullptr && functions_.getMemoryStats != nullptr && !shutDown_) {
        PluginMemoryStats stats;
        std::memset(&stats, 0, sizeof(stats));
        functions_.getMemoryStats(nullptr, &stats);
        description["memory"] = {{"peakBytes", stats.peakBytes},
                                 {"peakBlocks", stats.peakBlocks},
                                 {"bytesAllocated", stats.bytesAllocated},
                                 {"blocksAllocated", stats.blocksAllocated},
                                 {"bytesFreed", stats.bytesFreed},
                                 {"blocksFreed", stats.blocksFreed},
                                 {"liveBytes", stats.bytesAllocated - stats.bytesFreed},
                                 {"liveBlocks", stats.blocksAllocated - stats.blocksFreed}};
    }
    return description;
}

} // namespace Korvel::VelHost
