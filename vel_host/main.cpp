// vel-host: runs the vel-service-status plug-in on a development machine. It loads the plug-in
// library as the platform's core does, gives it real services (a host loop with real timers, a
// data store read from a file, outside HTTP requests, logging, event recording) and serves the
// plug-in's functions and events on a local HTTP port.

#include "vel_host/data_store.h"
#include "vel_host/event_hub.h"
#include "vel_host/example_content.h"
#include "vel_host/external_client.h"
#include "vel_host/host_loop.h"
#include "vel_host/http_api.h"
#include "vel_host/plugin_host.h"

#include <CLI/CLI.hpp>

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <iostream>
#include <string>
#include <thread>

namespace {

using namespace Korvel::VelHost;

constexpr const char kStatusPath[] = "/vel-service-status/v1/zum-status";
constexpr const char kTickerPath[] = "/vel-service-status/v1/ticker-messages";

// The plug-in library built beside this program.
std::string DefaultPluginPath() {
    char path[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof(path) - 1);
    std::string directory = ".";
    if (length > 0) {
        path[length] = '\0';
        directory = path;
        const std::size_t slash = directory.rfind('/');
        directory = slash == std::string::npos ? "." : directory.substr(0, slash);
    }
    return directory + "/tep-be-vel-service-status.so";
}

void Fail(const std::string& message) {
    std::fprintf(stderr, "vel-host: %s\n", message.c_str());
}

// Waits for SIGINT or SIGTERM (blocked in every thread) and stops the host loop; a second
// signal while the host shuts down ends the process at once.
class SignalWatcher {
public:
    explicit SignalWatcher(HostLoop& loop) : loop_(loop) {
        thread_ = std::thread([this] { Watch(); });
    }
    ~SignalWatcher() {
        done_ = true;
        thread_.join();
    }

    static void BlockSignals() {
        sigset_t signals;
        sigemptyset(&signals);
        sigaddset(&signals, SIGINT);
        sigaddset(&signals, SIGTERM);
        pthread_sigmask(SIG_BLOCK, &signals, nullptr);
        ::signal(SIGPIPE, SIG_IGN);
    }

private:
    void Watch() {
        sigset_t signals;
        sigemptyset(&signals);
        sigaddset(&signals, SIGINT);
        sigaddset(&signals, SIGTERM);
        bool stopping = false;
        while (!done_) {
            const timespec wait{0, 200 * 1000 * 1000};
            const int signal = sigtimedwait(&signals, nullptr, &wait);
            if (signal < 0) {
                continue;
            }
            if (stopping) {
                static const char text[] = "vel-host: second signal, exiting at once\n";
                (void)!::write(STDERR_FILENO, text, sizeof(text) - 1);
                std::_Exit(130);
            }
            stopping = true;
            std::fprintf(stderr, "vel-host: %s received, shutting down\n",
                         signal == SIGINT ? "SIGINT" : "SIGTERM");
            loop_.Stop();
        }
    }

    HostLoop& loop_;
    std::atomic<bool> done_{false};
    std::thread thread_;
};

struct Options {
    std::string plugin;
    std::string apiVersion = "18.0.0";
    std::string dataStore;
    int port = 8089;
    bool portGiven = false;
    bool once = false;
    int onceSeconds = 60;
    std::size_t streamThreshold = 16 * 1024;
    uint32_t maxRequestSeconds = 0;
    bool verbose = false;
};

int Run(const Options& options) {
    const std::optional<ApiVersionNumber> version = ApiVersionNumber::Parse(options.apiVersion);
    if (!version) {
        Fail("--api-version must look like 18.0.0, not '" + options.apiVersion + "'");
        return 2;
    }

    InitializeExternalRequests();
    HostLoop loop;
    EventHub hub;
    // The store's "${vel-host}" texts need the server's address, so the server binds first; it
    // serves only once everything is in place.
    DataStore store;
    PluginHostOptions hostOptions;
    hostOptions.libraryPath = options.plugin.empty() ? DefaultPluginPath() : options.plugin;
    hostOptions.hostVersion = *version;
    hostOptions.streamThreshold = options.streamThreshold;
    hostOptions.maxRequestSeconds = options.maxRequestSeconds;
    // The host loop waits for an outside request to end, so --once bounds them by its own time
    // limit: it ends in time also when the status server does not answer.
    if (options.once &&
        (hostOptions.maxRequestSeconds == 0 ||
         hostOptions.maxRequestSeconds > static_cast<uint32_t>(options.onceSeconds))) {
        hostOptions.maxRequestSeconds = static_cast<uint32_t>(options.onceSeconds);
    }
    hostOptions.verbose = options.verbose;
    PluginHost plugin(loop, hub, store, hostOptions);
    HttpApi http(loop, hub, plugin);

    // --once binds a free port unless one is asked for, so that it never collides with a
    // running vel-host.
    const int port = options.once && !options.portGiven ? 0 : options.port;
    if (const std::string error = http.Bind(port); !error.empty()) {
        Fail(error);
        return 1;
    }
    try {
        store = options.dataStore.empty()
                    ? DataStore::Parse(ExampleDataStore(), "(bundled example)", http.Address())
                    : DataStore::Load(options.dataStore, http.Address());
    } catch (const DataStoreError& error) {
        Fail(error.what());
        return 1;
    }
    for (const std::string& key : store.UnknownKeys()) {
        Fail("warning: the data store's key \"" + key + "\" is not used");
    }

    try {
        plugin.Load();
    } catch (const PluginError& error) {
        Fail(error.what());
        return 1;
    }

    SignalWatcher signals(loop);
    http.Start();
    std::fprintf(stderr, "vel-host: %s loaded from %s (plug-in API %s, host API %s)\n",
                 plugin.PluginName().c_str(), hostOptions.libraryPath.c_str(),
                 ApiVersionNumber{plugin.Descriptor().apiMajor, plugin.Descriptor().apiMinor,
                                  plugin.Descriptor().apiPatch}
                     .Text()
                     .c_str(),
                 version->Text().c_str());
    std::fprintf(stderr, "vel-host: data store %s\n",
                 options.dataStore.empty() ? "(bundled example)" : options.dataStore.c_str());

    const bool started = plugin.Initialize();
    int exitCode = 0;
    if (!started) {
        Fail("the plug-in's Initialize reported failure");
        exitCode = 1;
    } else if (options.once) {
        const auto deadline = HostLoop::Clock::now() + std::chrono::seconds(options.onceSeconds);
        // A status published only after the deadline (once the outside request ran out of
        // time) came too late.
        const bool published =
            loop.RunUntil([&] { return hub.Resource(kStatusPath).has_value(); }, deadline) &&
            HostLoop::Clock::now() <= deadline;
        if (!published) {
            Fail(loop.StopRequested()
                     ? "interrupted before the plug-in published its status"
                     : "the plug-in did not publish " + std::string(kStatusPath) + " within " +
                           std::to_string(options.onceSeconds) + " seconds");
            exitCode = 1;
        } else {
            Json output = Json::object();
            output[kStatusPath] = *hub.Resource(kStatusPath);
            output[kTickerPath] = hub.Resource(kTickerPath).value_or(Json::array());
            std::cout << DumpPretty(output) << std::endl;
        }
    } else {
        std::fprintf(stderr, "vel-host: serving on %s - open %s/ in a browser (Ctrl-C stops)\n",
                     http.Address().c_str(), http.Address().c_str());
        std::fflush(stderr);
        loop.Run();
    }

    // Shutting down: no request reaches the plug-in any more, the event streams end, the
    // server stops, then the plug-in goes.
    loop.Close();
    hub.Close();
    http.Stop();
    plugin.Shutdown();
    FinishExternalRequests();
    if (!options.once && exitCode == 0) {
        std::fprintf(stderr, "vel-host: stopped\n");
    }
    return exitCode;
}

} // namespace

int main(int argc, char** argv) {
    SignalWatcher::BlockSignals();

    CLI::App app{"vel-host: runs the vel-service-status plug-in with real host services and "
                 "serves it on 127.0.0.1.\nWith no options it uses a bundled example data store "
                 "whose status documents it serves itself."};
    Options options;
    app.add_option("--plugin", options.plugin,
                   "Plug-in library to load (default: tep-be-vel-service-status.so beside "
                   "vel-host)");
    app.add_option("--api-version", options.apiVersion,
                   "Plug-in API version the host offers, MAJOR.MINOR.PATCH")
        ->capture_default_str();
    app.add_option("--data-store", options.dataStore,
                   "JSON file with \"system-settings\", \"install-settings\" and optionally "
                   "\"login-data-packet\" (default: the bundled example)");
    CLI::Option* port = app.add_option("--port", options.port, "Port on 127.0.0.1 to serve on")
                            ->capture_default_str()
                            ->check(CLI::Range(0, 65535));
    app.add_flag("--once", options.once,
                 "Run the initial status pass, print both resources as JSON and exit");
    app.add_option("--once-time-limit", options.onceSeconds,
                   "Seconds --once waits for the status to be published")
        ->capture_default_str()
        ->check(CLI::Range(1, 3600));
    app.add_option("--stream-above", options.streamThreshold,
                   "Data-store entries whose JSON is longer than this many bytes are streamed")
        ->capture_default_str()
        // Unsigned options take "-1" as the largest value; a size is never negative.
        ->check(CLI::Validator(
            [](std::string& text) {
                return text.find('-') != std::string::npos ? std::string("must not be negative")
                                                           : std::string();
            },
            "BYTES"));
    app.add_option("--max-request-seconds", options.maxRequestSeconds,
                   "Cut the time limit of the plug-in's outside requests to this many seconds "
                   "(0: keep the plug-in's own)")
        ->capture_default_str();
    app.add_flag("-v,--verbose", options.verbose,
                 "Print every event, timer and outside request on standard error");
    CLI11_PARSE(app, argc, argv);
    options.portGiven = port->count() > 0;
    return Run(options);
}
