#pragma once

// The plug-in as the host sees it: loads the library, hands it the ten host functions, and
// enters it only from the host loop's thread, one callback at a time.

#include "plugin/host_function_table.h"
#include "plugin/plugin_api_descriptor.h"
#include "plugin/plugin_function_table.h"
#include "vel_host/data_store.h"
#include "vel_host/event_hub.h"
#include "vel_host/host_loop.h"
#include "vel_host/host_value_json.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace Korvel::VelHost {

class DeclaredFunctions;

// The plug-in library cannot be used; what() says why.
class PluginError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct ApiVersionNumber {
    uint32_t major = 18;
    uint32_t minor = 0;
    uint32_t patch = 0;

    std::string Text() const;
    // "18.0.0" -> 18, 0, 0; nothing for any other shape.
    static std::optional<ApiVersionNumber> Parse(const std::string& text);
};

struct PluginHostOptions {
    std::string libraryPath;
    ApiVersionNumber hostVersion;
    uint32_t pluginId = 1;
    // Data-store entries whose JSON text is longer than this are handed over as a stream
    // through the response's read function instead of as a value.
    std::size_t streamThreshold = 16 * 1024;
    // Outside requests end after at most this many seconds, whatever time limit the plug-in
    // gives (0: the plug-in's limit holds).
    uint32_t maxRequestSeconds = 0;
    // Prints every fired event and outside request on standard error.
    bool verbose = false;
};

// A call of one of the plug-in's declared functions, as it came in over HTTP.
struct FunctionCall {
    std::string method; // "GET", "POST", ...
    std::string target; // path with its query
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
};

struct FunctionAnswer {
    int status = 200;
    std::string contentType = "application/json";
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;
};

class PluginHost {
public:
    PluginHost(HostLoop& loop, EventHub& hub, DataStore& store, PluginHostOptions options);
    // Shuts a running plug-in down and unloads the library.
    ~PluginHost();
    PluginHost(const PluginHost&) = delete;
    PluginHost& operator=(const PluginHost&) = delete;

    // Loads the library and calls its export. Throws PluginError when the file is missing, the
    // library cannot be loaded, it has no export, or the plug-in does not fill the descriptor or
    // declares an API this host is not compatible with.
    void Load();
    // The rest runs on the loop's thread.
    // Calls the Initialize entry point; returns its result.
    bool Initialize();
    // Calls the Shutdown entry point (once) and forgets the plug-in's pending timers, so that
    // nothing enters the plug-in afterwards.
    void Shutdown();
    bool Running() const { return initialized_ && !shutDown_; }

    // Delivers a named host event to every subscription of that name. Returns the number of
    // callbacks made. Throws std::invalid_argument for a payload nested too deep.
    std::size_t DeliverEvent(const std::string& name, const Json& payload);
    bool IsSubscribed(const std::string& name) const;
    // Names the plug-in is subscribed to, in subscription order.
    std::vector<std::string> Subscriptions() const;

    // Calls the declared function whose route fits the call.
    FunctionAnswer CallFunction(const FunctionCall& call);
    // The declared functions: [{"name", "path", "method"}].
    Json DescribeFunctions() const;
    // Name, versions, memory statistics and subscriptions.
    Json Describe() const;

    const std::string& PluginName() const { return pluginName_; }
    const PluginApiDescriptor& Descriptor() const { return descriptor_; }

private:
    struct TableBlock {
        HostFunctionTable functions; // first, so that the table's address is the block's
        PluginHost* host;
    };
    struct Subscription {
        std::string eventName;
        uint32_t pluginId;
        HostEventCallback callback;
        void* userData;
        uint32_t flag;
    };
    struct ResourceStream {
        std::string text;
        std::size_t offset = 0;
    };
    // Host storage behind one resource response record, until the plug-in releases it.
    struct ResourceStorage {
        HostValueArena arena;
        std::string error;
        std::unique_ptr<ResourceStream> stream;
    };
    // Host storage behind one external response record, kept until the plug-in returns to the
    // host loop (the record has no release function).
    struct ExternalStorage {
        std::string body;
        std::deque<std::string> texts;
        std::vector<HostHeaderEntry> headers;
    };

    static PluginHost& From(const HostFunctionTable* table);
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

    // Runs `call` as one entry into the plug-in. Storage the host handed out during the entry
    // and that has no release of its own is freed when the outermost entry returns.
    void Enter(const std::function<void()>& call);
    void SendRequest(HostResourceResponse& response, const HostResourceRequest& request);
    void SendExternalRequest(ExternalResponseRecord& response,
                             const ExternalRequestRecord& request);

    HostLoop& loop_;
    EventHub& hub_;
    DataStore& store_;
    PluginHostOptions options_;

    TableBlock table_{};
    HostContext context_{};
    PluginApiDescriptor descriptor_{};
    PluginFunctionTable functions_{};
    void* library_ = nullptr;
    std::string pluginName_;
    bool initialized_ = false;
    bool shutDown_ = false;
    std::thread::id loopThread_;
    int entryDepth_ = 0;

    std::vector<Subscription> subscriptions_;
    std::map<const HostResourceResponse*, std::unique_ptr<ResourceStorage>> resourceStorage_;
    std::deque<ExternalStorage> externalStorage_;
    std::unique_ptr<DeclaredFunctions> declared_;
    uint32_t nextToken_ = 0;
};

} // namespace Korvel::VelHost
