#include "vel_host/http_api.h"

#include "vel_host/example_content.h"

#include <httplib.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace Korvel::VelHost {

namespace {

constexpr const char kJson[] = "application/json";
// Threads of the server; each open event stream holds one.
constexpr std::size_t kServerThreads = 16;
// Open event streams at most: the other threads stay free for the other requests, which would
// otherwise wait behind the streams until one closes.
constexpr std::size_t kMaxEventStreams = kServerThreads - 4;
// A comment line keeps idle event streams open through proxies and shows a closed client.
constexpr std::chrono::seconds kKeepAliveInterval{15};

void AnswerJson(httplib::Response& response, int status, const Json& body) {
    response.status = status;
    response.set_content(DumpPretty(body) + "\n", kJson);
}

void AnswerError(httplib::Response& response, int status, const std::string& message) {
    AnswerJson(response, status, Json{{"error", message}});
}

void AnswerBusy(httplib::Response& response) {
    AnswerError(response, 503, "the host loop did not answer in time or is shutting down");
}

// Why 127.0.0.1:port cannot be bound, from a socket of our own (the server reports no reason).
std::string BindFailure(int port) {
    const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
    if (probe < 0) {
        return std::strerror(errno);
    }
    const int yes = 1;
    ::setsockopt(probe, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string reason = "unknown error";
    if (::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
        reason = std::strerror(errno);
        if (errno == EADDRINUSE) {
            reason += " (another program, perhaps another vel-host, listens there; choose "
                      "another with --port)";
        }
    }
    ::close(probe);
    return reason;
}

// Reads the request body into `body`; false, with the answer set, when it cannot be read. A
// request with neither a length nor a chunked body has none: the server library would otherwise
// wait for the client to close the connection. A form-encoded content type (what "curl -d"
// sends) does not change how the body is read or how large it may be.
bool ReadBody(const httplib::Request& request, httplib::Response& response,
              const httplib::ContentReader& reader, std::string& body) {
    if (!request.has_header("Content-Length") &&
        request.get_header_value("Transfer-Encoding").find("chunked") == std::string::npos) {
        return true;
    }
    bool tooLarge = false;
    const auto receive = [&](const char* data, std::size_t length) {
        if (length > HttpApi::kMaxBodyBytes - body.size()) {
            tooLarge = true;
            return false;
        }
        body.append(data, length);
        return true;
    };
    // The parts of a multipart body are not the plug-in's business; they are read and dropped.
    const bool read = request.is_multipart_form_data()
                          ? reader([](const httplib::MultipartFormData&) { return true; },
                                   [](const char*, std::size_t) { return true; })
                          : reader(receive);
    if (read) {
        return true;
    }
    if (tooLarge || response.status == 413) {
        AnswerError(response, 413,
                    "the body is larger than " + std::to_string(HttpApi::kMaxBodyBytes) + " bytes");
    } else {
        AnswerError(response, 400, "the body could not be read");
    }
    return false;
}

} // namespace

HttpApi::HttpApi(HostLoop& loop, EventHub& hub, PluginHost& plugin)
    : loop_(loop), hub_(hub), plugin_(plugin), server_(std::make_unique<httplib::Server>()) {
    server_->new_task_queue = [] { return new httplib::ThreadPool(kServerThreads); };
    server_->set_payload_max_length(kMaxBodyBytes);
    server_->set_keep_alive_timeout(2);
    // Address reuse only: the server library's default adds port sharing, which would let a
    // second vel-host listen on a port that is already taken.
    server_->set_socket_options([](socket_t socket) {
        const int yes = 1;
        ::setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes));
    });
    Routes();
}

HttpApi::~HttpApi() {
    Stop();
}

std::string HttpApi::Bind(int port) {
    if (port < 0 || port > 65535) {
        return "port " + std::to_string(port) + " is out of range";
    }
    if (port == 0) {
        port_ = server_->bind_to_any_port("127.0.0.1");
        return port_ > 0 ? std::string() : "cannot listen on 127.0.0.1: " + BindFailure(0);
    }
    if (!server_->bind_to_port("127.0.0.1", port)) {
        return "cannot listen on 127.0.0.1:" + std::to_string(port) + ": " + BindFailure(port);
    }
    port_ = port;
    return std::string();
}

std::string HttpApi::Address() const {
    return "http://127.0.0.1:" + std::to_string(port_);
}

void HttpApi::Start() {
    thread_ = std::thread([this] { server_->listen_after_bind(); });
}

void HttpApi::Stop() {
    if (server_ != nullptr) {
        server_->stop();
    }
    if (thread_.joinable()) {
        thread_.join();
    }
}

void HttpApi::Routes() {
    httplib::Server& server = *server_;

    server.Get("/", [](const httplib::Request&, httplib::Response& response) {
        response.set_header("Cache-Control", "no-store");
        response.set_content(StatusPage(), "text/html; charset=utf-8");
    });

    server.Get("/example/status/", [](const httplib::Request&, httplib::Response& response) {
        response.set_content(ExampleStatusPage(), "text/html; charset=utf-8");
    });
    server.Get(R"(/example/status/([^/]+))",
               [](const httplib::Request& request, httplib::Response& response) {
                   if (const auto document = ExampleStatusDocument(request.matches[1].str())) {
                       response.set_content(*document, kJson);
                   } else {
                       AnswerError(response, 404, "no example document " + request.path);
                   }
               });

    server.Get("/host/events", [this](const httplib::Request&, httplib::Response& response) {
        auto subscriber = hub_.Subscribe(kMaxEventStreams);
        if (!subscriber) {
            AnswerError(response, 503,
                        "too many event streams are open (at most " +
                            std::to_string(kMaxEventStreams) + "); close one and try again");
            return;
        }
        response.set_header("Cache-Control", "no-store");
        response.set_header("X-Accel-Buffering", "no");
        auto opened = std::make_shared<bool>(false);
        response.set_chunked_content_provider(
            "text/event-stream",
            [this, subscriber, opened](size_t, httplib::DataSink& sink) {
                if (!*opened) {
                    *opened = true;
                    static const std::string hello = "retry: 1000\n: connected\n\n";
                    return sink.write(hello.data(), hello.size());
                }
                const auto block = hub_.Next(
                    subscriber,
                    std::chrono::duration_cast<std::chrono::milliseconds>(kKeepAliveInterval));
                if (!block) {
                    sink.done();
                    return true;
                }
                static const std::string keepAlive = ": keep-alive\n\n";
                const std::string& text = block->empty() ? keepAlive : *block;
                return sink.write(text.data(), text.size());
            },
            [this, subscriber](bool) { hub_.Unsubscribe(subscriber); });
    });

    server.Post(R"(/host/events/([^/]+))", [this](const httplib::Request& request,
                                                  httplib::Response& response,
                                                  const httplib::ContentReader& reader) {
        const std::string name = request.matches[1].str();
        std::string body;
        if (!ReadBody(request, response, reader, body)) {
            return;
        }
        Json payload;
        if (!body.empty()) {
            try {
                payload = Json::parse(body);
            } catch (const Json::parse_error& error) {
                AnswerError(response, 400,
                            std::string("the body is not valid JSON: ") + error.what());
                return;
            }
        }
        struct Delivery {
            std::size_t calls = 0;
            std::string error;
        };
        // The task owns its inputs: after a timeout it may still run.
        const auto delivered = loop_.Call<Delivery>(
            [this, name, payload = std::move(payload)] {
                Delivery delivery;
                try {
                    delivery.calls = plugin_.DeliverEvent(name, payload);
                } catch (const std::exception& error) {
                    delivery.error = error.what();
                }
                return delivery;
            },
            kLoopTimeLimit);
        if (!delivered) {
            AnswerBusy(response);
        } else if (!delivered->error.empty()) {
            AnswerError(response, 400, delivered->error);
        } else {
            AnswerJson(response, 200, Json{{"event", name}, {"delivered", delivered->calls}});
        }
    });

    server.Get("/host/resources", [this](const httplib::Request&, httplib::Response& response) {
        AnswerJson(response, 200, hub_.Resources());
    });
    server.Get("/host/log", [this](const httplib::Request&, httplib::Response& response) {
        AnswerJson(response, 200, hub_.Log());
    });
    server.Get("/host/functions", [this](const httplib::Request&, httplib::Response& response) {
        const auto functions =
            loop_.Call<Json>([this] { return plugin_.DescribeFunctions(); }, kLoopTimeLimit);
        functions ? AnswerJson(response, 200, *functions) : AnswerBusy(response);
    });
    server.Get("/host/plugin", [this](const httplib::Request&, httplib::Response& response) {
        const auto description = loop_.Call<Json>(
            [this] {
                Json result = plugin_.Describe();
                result["eventStreams"] = hub_.SubscriberCount();
                result["eventsFired"] = hub_.EventCount();
                return result;
            },
            kLoopTimeLimit);
        description ? AnswerJson(response, 200, *description) : AnswerBusy(response);
    });
    // Unknown /host/... paths are the host's, not the plug-in's.
    server.Get(R"(/host/.*)", [](const httplib::Request& request, httplib::Response& response) {
        AnswerError(response, 404, "no such host resource " + request.path);
    });

    // Everything else goes to the plug-in's declared functions.
    const auto callFunction = [this](const httplib::Request& request, httplib::Response& response,
                                     std::string body) {
        FunctionCall call;
        call.method = request.method;
        call.target = request.target.empty() ? request.path : request.target;
        for (const auto& [name, value] : request.headers) {
            // The server adds these two itself; they are not the client's.
            if (name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" ||
                name == "LOCAL_PORT") {
                continue;
            }
            call.headers.emplace_back(name, value);
        }
        call.body = std::move(body);
        const auto answer = loop_.Call<FunctionAnswer>(
            [this, call = std::move(call)] { return plugin_.CallFunction(call); }, kLoopTimeLimit);
        if (!answer) {
            AnswerBusy(response);
            return;
        }
        response.status = answer->status;
        for (const auto& [name, value] : answer->headers) {
            response.set_header(name, value);
        }
        std::string content = answer->body;
        if (answer->contentType == kJson && !content.empty() && content.back() != '\n') {
            content += '\n';
        }
        response.set_content(content, answer->contentType);
    };
    const auto callWithoutBody = [callFunction](const httplib::Request& request,
                                                httplib::Response& response) {
        callFunction(request, response, std::string());
    };
    const auto callWithBody = [callFunction](const httplib::Request& request,
                                             httplib::Response& response,
                                             const httplib::ContentReader& reader) {
        std::string body;
        if (ReadBody(request, response, reader, body)) {
            callFunction(request, response, std::move(body));
        }
    };
    server.Get(R"(/.*)", callWithoutBody);
    server.Post(R"(/.*)", callWithBody);
    server.Put(R"(/.*)", callWithBody);
    server.Patch(R"(/.*)", callWithBody);
    server.Delete(R"(/.*)", callWithBody);
    // A DELETE without a body is routed to the handlers without a reader.
    server.Delete(R"(/.*)", callWithoutBody);
    server.Options(R"(/.*)", callWithoutBody);
}

} // namespace Korvel::VelHost
