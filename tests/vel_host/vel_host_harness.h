#pragma once

// Helpers of the vel-host tests: a vel-host process started from the build, a status server of
// the test's own on 127.0.0.1, a client of the host's event stream and a temporary folder.
// Every wait is bounded.

#include "vel_host/host_value_json.h"

#include <httplib.h>

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace Korvel::VelHost::Testing {

using namespace std::chrono_literals;

// A folder that is removed with everything in it when the object goes.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    const std::string& Path() const { return path_; }
    std::string Write(const std::string& name, const std::string& content) const;

private:
    std::string path_;
};

std::string ReadFile(const std::string& path);

// Waits until `condition` holds, checking every 50 ms; false after `timeLimit`.
bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeLimit);

// A child process with standard output and error captured in files.
class ChildProcess {
public:
    ChildProcess() = default;
    // Kills the process when it is still running.
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts `program` with `arguments`; output goes to files in `folder`. `extraFds` maps a
    // descriptor of this process to the number it gets in the child.
    bool Start(const std::string& program, const std::vector<std::string>& arguments,
               const std::string& folder, const std::map<int, int>& extraFds = {});
    pid_t Pid() const { return pid_; }
    bool Running();
    // Sends the signal; then waits for the exit. Empty when it did not end in time.
    std::optional<int> Signal(int signal, std::chrono::milliseconds timeLimit);
    // Waits for the exit; the exit status, or 128 + signal number, or empty after the time.
    std::optional<int> Wait(std::chrono::milliseconds timeLimit);
    std::string Stdout() const;
    std::string Stderr() const;

private:
    pid_t pid_ = -1;
    std::optional<int> status_;
    std::string stdoutPath_;
    std::string stderrPath_;
};

std::string VelHostPath();
std::string PluginPath();
// Any free port on 127.0.0.1 (bound and released; good enough for one test at a time).
int FreePort();

// vel-host started by a test.
class VelHost {
public:
    explicit VelHost(const TempFolder& folder) : folder_(folder) {}
    ~VelHost();

    // Starts vel-host on a free port with the arguments (plus --port) and waits until it
    // serves. False, with the output in Failure(), when it does not come up.
    bool Start(std::vector<std::string> arguments);
    // Starts it without waiting for anything (for tests of start-up failures).
    void Launch(std::vector<std::string> arguments);
    // Ctrl-C: the exit status, or empty when it did not end within the time.
    std::optional<int> Interrupt(std::chrono::milliseconds timeLimit = 20s);
    std::optional<int> Wait(std::chrono::milliseconds timeLimit) {
        return process_.Wait(timeLimit);
    }

    int Port() const { return port_; }
    httplib::Client Client() const;
    // GET returning the status and the parsed JSON body (null when it is not JSON).
    std::pair<int, Json> Get(const std::string& path) const;
    std::pair<int, Json> Post(const std::string& path, const Json& body) const;
    // Fires a host event into the plug-in; returns the number of callbacks made (-1: failed).
    int FireEvent(const std::string& name, const Json& payload) const;
    // The latest published value of a resource, from the host's record (null when none yet).
    Json Resource(const std::string& path) const;
    // Waits until the plug-in has logged a line containing `text`.
    bool WaitForLog(const std::string& text, std::chrono::milliseconds timeLimit = 20s) const;
    std::string Stdout() const { return process_.Stdout(); }
    std::string Stderr() const { return process_.Stderr(); }
    std::string Failure() const;

private:
    const TempFolder& folder_;
    ChildProcess process_;
    int port_ = 0;
};

// What the test's status server answers for one path.
struct StatusAnswer {
    int status = 200;
    std::string body;
    std::string contentType = "application/json";
    std::chrono::milliseconds delay{0};
};

// A service-status web API of the test's own, on 127.0.0.1.
class StatusServer {
public:
    StatusServer();
    ~StatusServer();

    void Set(const std::string& path, StatusAnswer answer);
    std::string Url(const std::string& path) const;
    // Requests received so far for the path.
    std::size_t Hits(const std::string& path) const;
    // Headers of the latest request for the path.
    httplib::Headers LastHeaders(const std::string& path) const;

private:
    httplib::Server server_;
    std::thread thread_;
    int port_ = 0;
    mutable std::mutex mutex_;
    std::map<std::string, StatusAnswer> answers_;
    std::map<std::string, std::size_t> hits_;
    std::map<std::string, httplib::Headers> headers_;
};

// A client of GET /host/events, collecting the events on a thread of its own.
class EventStream {
public:
    struct Event {
        std::string name;
        Json data;
    };

    explicit EventStream(int port);
    ~EventStream();
    // Waits until the stream is open (the host greeted it).
    bool WaitOpen(std::chrono::milliseconds timeLimit = 10s);
    // Waits for an event satisfying `match`; returns it, or empty after the time.
    std::optional<Event> WaitFor(const std::function<bool(const Event&)>& match,
                                 std::chrono::milliseconds timeLimit = 20s);
    std::vector<Event> Events() const;
    // Whether the host ended the stream.
    bool Ended() const { return ended_; }

private:
    void Parse(const char* data, std::size_t length);

    std::unique_ptr<httplib::Client> client_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> ended_{false};
    std::atomic<bool> open_{false};
    std::thread thread_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::string pending_;
    std::vector<Event> events_;
};

// A data store with the regions NA and EUW pointing at `naUrl` and `euwUrl`, globals region
// NA / locale en_US, and optionally a login data packet.
Json MakeDataStore(const std::string& naUrl, const std::string& euwUrl,
                   const Json& loginDataPacket = nullptr);

// A status document: overall status and messages.
Json MakeStatusDocument(const std::string& status, const Json& messages);

} // namespace Korvel::VelHost::Testing
