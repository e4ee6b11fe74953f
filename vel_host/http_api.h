#pragma once

// The host's local HTTP server on 127.0.0.1:
//
//   GET  /                      the status page (updates live from /host/events)
//   GET  /host/events           every event the plug-in fires, as Server-Sent Events
//   POST /host/events/{name}    fires the host event {name} into the plug-in; the body is the
//                               JSON payload (none: an empty payload)
//   GET  /host/resources        latest value of every resource the plug-in published
//   GET  /host/log              the plug-in's recent log lines
//   GET  /host/functions        the functions the plug-in declares
//   GET  /host/plugin           name, API versions, subscriptions, memory statistics
//   GET  /example/status/...    the example status documents of the bundled data store
//   any  other path             the plug-in's declared function for that path and method
//
// Work that enters the plug-in is handed to the host loop; the server's own threads never call
// the plug-in.

#include "vel_host/event_hub.h"
#include "vel_host/host_loop.h"
#include "vel_host/plugin_host.h"

#include <chrono>
#include <memory>
#include <string>
#include <thread>

namespace httplib {
class Server;
}

namespace Korvel::VelHost {

class HttpApi {
public:
    // How long a request waits for the host loop (the plug-in's outside requests may hold it
    // for the length of their time limit).
    static constexpr std::chrono::seconds kLoopTimeLimit{60};
    // Largest request body accepted.
    static constexpr std::size_t kMaxBodyBytes = 4u * 1024u * 1024u;

    HttpApi(HostLoop& loop, EventHub& hub, PluginHost& plugin);
    ~HttpApi();
    HttpApi(const HttpApi&) = delete;
    HttpApi& operator=(const HttpApi&) = delete;

    // Binds 127.0.0.1:port (0: any free port). Returns the empty text on success, else why not.
    std::string Bind(int port);
    int Port() const { return port_; }
    // The address the server answers on, e.g. http://127.0.0.1:8089.
    std::string Address() const;

    // Serves on a thread of its own until Stop.
    void Start();
    // Stops serving and waits for the server's threads.
    void Stop();

private:
    void Routes();

    HostLoop& loop_;
    EventHub& hub_;
    PluginHost& plugin_;
    std::unique_ptr<httplib::Server> server_;
    std::thread thread_;
    int port_ = 0;
};

} // namespace Korvel::VelHost
