#include "vel_host_harness.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace Korvel::VelHost::Testing {

// --- Files -----------------------------------------------------------------------------------

TempFolder::TempFolder() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "vel-host-test-XXXXXX").string();
    char* made = ::mkdtemp(pattern.data());
    path_ = made != nullptr ? std::string(made) : std::string();
}

TempFolder::~TempFolder() {
    if (!path_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
}

std::string TempFolder::Write(const std::string& name, const std::string& content) const {
    const std::string path = path_ + "/" + name;
    std::ofstream(path, std::ios::binary) << content;
    return path;
}

std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeLimit) {
    const auto deadline = std::chrono::steady_clock::now() + timeLimit;
    while (true) {
        if (condition()) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(50ms);
    }
}

// --- Processes -------------------------------------------------------------------------------

ChildProcess::~ChildProcess() {
    if (pid_ > 0 && !status_) {
        ::kill(pid_, SIGKILL);
        Wait(10s);
    }
}

bool ChildProcess::Start(const std::string& program, const std::vector<std::string>& arguments,
                         const std::string& folder, const std::map<int, int>& extraFds) {
    static std::atomic<int> counter{0};
    const std::string stem = folder + "/process-" + std::to_string(++counter);
    stdoutPath_ = stem + ".out";
    stderrPath_ = stem + ".err";
    std::vector<std::string> texts;
    texts.push_back(program);
    texts.insert(texts.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& text : texts) {
        argv.push_back(text.data());
    }
    argv.push_back(nullptr);

    // Only async-signal-safe calls may follow the fork (the test has threads); everything the
    // child needs is prepared here.
    std::vector<std::pair<int, int>> extra(extraFds.begin(), extraFds.end());
    pid_ = ::fork();
    if (pid_ < 0) {
        return false;
    }
    if (pid_ == 0) {
        const int out = ::open(stdoutPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = ::open(stderrPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int in = ::open("/dev/null", O_RDONLY);
        if (out < 0 || err < 0 || in < 0) {
            ::_exit(127);
        }
        ::dup2(in, 0);
        ::dup2(out, 1);
        ::dup2(err, 2);
        // Move the extra descriptors out of the way first, so that none overwrites another.
        for (auto& [from, to] : extra) {
            from = ::fcntl(from, F_DUPFD, 100);
        }
        for (const auto& [from, to] : extra) {
            ::dup2(from, to);
        }
        // Signals blocked in the test's threads stay blocked in the child; unblock them.
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    return true;
}

bool ChildProcess::Running() {
    if (pid_ <= 0 || status_) {
        return false;
    }
    int status = 0;
    const pid_t done = ::waitpid(pid_, &status, WNOHANG);
    if (done == pid_) {
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return false;
    }
    return true;
}

std::optional<int> ChildProcess::Wait(std::chrono::milliseconds timeLimit) {
    if (pid_ <= 0) {
        return std::nullopt;
    }
    WaitFor([&] { return !Running(); }, timeLimit);
    return status_;
}

std::optional<int> ChildProcess::Signal(int signal, std::chrono::milliseconds timeLimit) {
    if (Running()) {
        ::kill(pid_, signal);
    }
    return Wait(timeLimit);
}

std::string ChildProcess::Stdout() const {
    return ReadFile(stdoutPath_);
}

std::string ChildProcess::Stderr() const {
    return ReadFile(stderrPath_);
}

std::string VelHostPath() {
    return KORVEL_VEL_HOST_PATH;
}

std::string PluginPath() {
    return KORVEL_PLUGIN_PATH;
}

int FreePort() {
    const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = 0;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    int port = 0;
    if (::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
        ::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        port = ntohs(address.sin_port);
    }
    ::close(probe);
    return port;
}

// --- vel-host --------------------------------------------------------------------------------

VelHost::~VelHost() {
    if (process_.Running()) {
        process_.Signal(SIGINT, 20s);
    }
}

void VelHost::Launch(std::vector<std::string> arguments) {
    process_.Start(VelHostPath(), arguments, folder_.Path());
}

bool VelHost::Start(std::vector<std::string> arguments) {
    port_ = FreePort();
    arguments.push_back("--port");
    arguments.push_back(std::to_string(port_));
    if (!process_.Start(VelHostPath(), arguments, folder_.Path())) {
        return false;
    }
    // Up once it answers; the plug-in has started by then (Initialize runs before serving
    // begins to matter: requests wait for the host loop).
    return WaitFor(
               [&] {
                   if (!process_.Running()) {
                       return true;
                   }
                   return Get("/host/plugin").first == 200;
               },
               30s) &&
           process_.Running();
}

std::optional<int> VelHost::Interrupt(std::chrono::milliseconds timeLimit) {
    return process_.Signal(SIGINT, timeLimit);
}

httplib::Client VelHost::Client() const {
    httplib::Client client("127.0.0.1", port_);
    client.set_connection_timeout(5);
    client.set_read_timeout(70);
    return client;
}

namespace {

Json ParseOrNull(const std::string& text) {
    try {
        return Json::parse(text);
    } catch (const Json::parse_error&) {
        return nullptr;
    }
}

} // namespace

std::pair<int, Json> VelHost::Get(const std::string& path) const {
    httplib::Client client = Client();
    const auto result = client.Get(path);
    if (!result) {
        return {-1, nullptr};
    }
    return {result->status, ParseOrNull(result->body)};
}

std::pair<int, Json> VelHost::Post(const std::string& path, const Json& body) const {
    httplib::Client client = Client();
    const auto result = client.Post(path, body.dump(), "application/json");
    if (!result) {
        return {-1, nullptr};
    }
    return {result->status, ParseOrNull(result->body)};
}

int VelHost::FireEvent(const std::string& name, const Json& payload) const {
    const auto [status, body] = Post("/host/events/" + name, payload);
    if (status != 200 || !body.is_object() || !body.contains("delivered")) {
        return -1;
    }
    return body["delivered"].get<int>();
}

Json VelHost::Resource(const std::string& path) const {
    const auto [status, body] = Get("/host/resources");
    if (status != 200 || !body.is_object() || !body.contains(path)) {
        return nullptr;
    }
    return body[path];
}

bool VelHost::WaitForLog(const std::string& text, std::chrono::milliseconds timeLimit) const {
    return WaitFor(
        [&] {
            const auto [status, lines] = Get("/host/log");
            if (status != 200 || !lines.is_array()) {
                return false;
            }
            for (const Json& line : lines) {
                if (line.value("text", std::string()).find(text) != std::string::npos) {
                    return true;
                }
            }
            return false;
        },
        timeLimit);
}

std::string VelHost::Failure() const {
    return "vel-host standard error:\n" + Stderr() + "\nstandard output:\n" + Stdout();
}

// --- Status server ---------------------------------------------------------------------------

StatusServer::StatusServer() {
    server_.Get(R"(/.*)", [this](const httplib::Request& request, httplib::Response& response) {
        StatusAnswer answer;
        {
            std::lock_guard lock(mutex_);
            ++hits_[request.path];
            headers_[request.path] = request.headers;
            const auto found = answers_.find(request.path);
            if (found == answers_.end()) {
                response.status = 404;
                return;
            }
            answer = found->second;
        }
        if (answer.delay.count() > 0) {
            std::this_thread::sleep_for(answer.delay);
        }
        response.status = answer.status;
        response.set_content(answer.body, answer.contentType);
    });
    port_ = server_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
}

StatusServer::~StatusServer() {
    server_.stop();
    thread_.join();
}

void StatusServer::Set(const std::string& path, StatusAnswer answer) {
    std::lock_guard lock(mutex_);
    answers_[path] = std::move(answer);
}

std::string StatusServer::Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::size_t StatusServer::Hits(const std::string& path) const {
    std::lock_guard lock(mutex_);
    const auto found = hits_.find(path);
    return found == hits_.end() ? 0 : found->second;
}

httplib::Headers StatusServer::LastHeaders(const std::string& path) const {
    std::lock_guard lock(mutex_);
    const auto found = headers_.find(path);
    return found == headers_.end() ? httplib::Headers() : found->second;
}

// --- Event stream ----------------------------------------------------------------------------

EventStream::EventStream(int port) : client_(std::make_unique<httplib::Client>("127.0.0.1", port)) {
    client_->set_connection_timeout(5);
    client_->set_read_timeout(60);
    thread_ = std::thread([this] {
        client_->Get("/host/events", [&](const char* data, size_t length) {
            Parse(data, length);
            return !stop_;
        });
        ended_ = true;
        changed_.notify_all();
    });
}

EventStream::~EventStream() {
    stop_ = true;
    client_->stop();
    thread_.join();
}

void EventStream::Parse(const char* data, std::size_t length) {
    std::lock_guard lock(mutex_);
    pending_.append(data, length);
    for (std::size_t end = pending_.find("\n\n"); end != std::string::npos;
         end = pending_.find("\n\n")) {
        const std::string block = pending_.substr(0, end);
        pending_.erase(0, end + 2);
        open_ = true;
        Event event;
        std::string data;
        bool haveData = false;
        std::istringstream lines(block);
        for (std::string line; std::getline(lines, line);) {
            if (line.starts_with("event: ")) {
                event.name = line.substr(7);
            } else if (line.starts_with("data: ")) {
                data += line.substr(6);
                haveData = true;
            }
        }
        if (haveData) {
            event.data = ParseOrNull(data);
            events_.push_back(std::move(event));
        }
    }
    changed_.notify_all();
}

bool EventStream::WaitOpen(std::chrono::milliseconds timeLimit) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeLimit, [&] { return open_ || ended_; }) && open_;
}

std::optional<EventStream::Event>
EventStream::WaitFor(const std::function<bool(const Event&)>& match,
                     std::chrono::milliseconds timeLimit) {
    std::unique_lock lock(mutex_);
    std::optional<Event> found;
    changed_.wait_for(lock, timeLimit, [&] {
        for (const Event& event : events_) {
            if (match(event)) {
                found = event;
                return true;
            }
        }
        return ended_.load();
    });
    return found;
}

std::vector<EventStream::Event> EventStream::Events() const {
    std::lock_guard lock(mutex_);
    return events_;
}

// --- Documents -------------------------------------------------------------------------------

Json MakeDataStore(const std::string& naUrl, const std::string& euwUrl,
                   const Json& loginDataPacket) {
    const auto region = [](const std::string& url, const std::string& page) {
        return Json{
            {"servers",
             {{"service_status", {{"api_url", url}, {"human_readable_status_url", page}}}}}};
    };
    Json store = {{"system-settings",
                   {{"region_data",
                     {{"NA", region(naUrl, "https://status.example/#/na")},
                      {"EUW", region(euwUrl, "https://status.example/euw")}}}}},
                  {"install-settings", {{"globals", {{"region", "NA"}, {"locale", "en_US"}}}}}};
    if (!loginDataPacket.is_null()) {
        store["login-data-packet"] = loginDataPacket;
    }
    return store;
}

Json MakeStatusDocument(const std::string& status, const Json& messages) {
    return Json{{"status", status}, {"messages", messages}};
}

} // namespace Korvel::VelHost::Testing
