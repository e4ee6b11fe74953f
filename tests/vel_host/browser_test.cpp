// The status page in a real browser: headless Chromium opens vel-host's page, shows the status
// and the ticker, and follows a broadcast posted to the host. Chromium is driven through the
// DevTools protocol over a pipe (--remote-debugging-pipe: JSON messages separated by NUL bytes,
// commands on descriptor 3, answers on descriptor 4).

#include "vel_host_harness.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

namespace Korvel::VelHost::Testing {
namespace {

std::string FindChromium() {
    for (const char* candidate : {"/usr/bin/chromium", "/usr/bin/chromium-browser"}) {
        if (::access(candidate, X_OK) == 0) {
            return candidate;
        }
    }
    return std::string();
}

class DevToolsPipe {
public:
    ~DevToolsPipe() {
        if (browser_.Running()) {
            browser_.Signal(SIGTERM, 10s);
        }
        for (int fd : {commands_, answers_}) {
            if (fd >= 0) {
                ::close(fd);
            }
        }
    }

    bool Start(const std::string& chromium, const TempFolder& folder) {
        int toBrowser[2];
        int fromBrowser[2];
        if (::pipe(toBrowser) != 0 || ::pipe(fromBrowser) != 0) {
            return false;
        }
        const bool started = browser_.Start(
            chromium,
            {"--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
             "--disable-background-networking", "--disable-component-update", "--disable-sync",
             "--disable-dev-shm-usage", "--user-data-dir=" + folder.Path() + "/profile",
             "--remote-debugging-pipe", "about:blank"},
            folder.Path(), {{toBrowser[0], 3}, {fromBrowser[1], 4}});
        ::close(toBrowser[0]);
        ::close(fromBrowser[1]);
        commands_ = toBrowser[1];
        answers_ = fromBrowser[0];
        return started;
    }

    std::string BrowserOutput() const { return browser_.Stderr(); }

    // Sends a command and waits for its answer (events in between are skipped).
    Json Send(const std::string& method, const Json& params, const std::string& session = "",
              std::chrono::milliseconds timeLimit = 20s) {
        const int id = ++lastId_;
        Json message = {{"id", id}, {"method", method}, {"params", params}};
        if (!session.empty()) {
            message["sessionId"] = session;
        }
        std::string text = message.dump();
        text.push_back('\0');
        if (::write(commands_, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
            return nullptr;
        }
        const auto deadline = std::chrono::steady_clock::now() + timeLimit;
        while (std::chrono::steady_clock::now() < deadline) {
            const std::size_t end = buffer_.find('\0');
            if (end != std::string::npos) {
                Json answer = Json::parse(buffer_.substr(0, end), nullptr, false);
                buffer_.erase(0, end + 1);
                if (answer.is_object() && answer.value("id", 0) == id) {
                    return answer;
                }
                continue;
            }
            pollfd ready{answers_, POLLIN, 0};
            if (::poll(&ready, 1, 200) <= 0) {
                continue;
            }
            char chunk[65536];
            const ssize_t got = ::read(answers_, chunk, sizeof(chunk));
            if (got <= 0) {
                return nullptr;
            }
            buffer_.append(chunk, static_cast<std::size_t>(got));
        }
        return nullptr;
    }

private:
    ChildProcess browser_;
    int commands_ = -1;
    int answers_ = -1;
    int lastId_ = 0;
    std::string buffer_;
};

TEST(BrowserTest, PageShowsStatusAndTickerAndFollowsABroadcast) {
    const std::string chromium = FindChromium();
    if (chromium.empty()) {
        GTEST_SKIP() << "chromium is not installed (scripts/setup.sh installs it)";
    }
    TempFolder folder;
    VelHost host(folder);
    // The bundled example: NA is "degraded" with three messages.
    ASSERT_TRUE(host.Start({})) << host.Failure();
    ASSERT_TRUE(
        WaitFor([&] { return !host.Resource("/vel-service-status/v1/zum-status").is_null(); }, 30s))
        << host.Failure();

    DevToolsPipe browser;
    ASSERT_TRUE(browser.Start(chromium, folder));
    const Json target = browser.Send(
        "Target.createTarget", {{"url", "http://127.0.0.1:" + std::to_string(host.Port()) + "/"}});
    ASSERT_TRUE(target.contains("result")) << target.dump() << browser.BrowserOutput();
    const Json attached = browser.Send(
        "Target.attachToTarget", {{"targetId", target["result"]["targetId"]}, {"flatten", true}});
    ASSERT_TRUE(attached.contains("result")) << attached.dump();
    const std::string session = attached["result"]["sessionId"];

    const auto read = [&](const std::string& expression) {
        const Json answer = browser.Send(
            "Runtime.evaluate", {{"expression", expression}, {"returnByValue", true}}, session);
        const Json value = answer.is_object() && answer.contains("result")
                               ? answer["result"]["result"].value("value", Json())
                               : Json();
        return value.is_string() ? value.get<std::string>() : std::string();
    };
    const auto status = [&] { return read("document.getElementById('status').textContent"); };
    const auto ticker = [&] { return read("document.getElementById('ticker').innerText"); };
    const auto connection = [&] {
        return read("document.getElementById('connection').textContent");
    };

    EXPECT_TRUE(WaitFor([&] { return status() == "degraded"; }, 30s)) << status();
    EXPECT_TRUE(WaitFor(
        [&] { return ticker().find("Matchmaking delays in North America") != std::string::npos; },
        10s))
        << ticker();
    EXPECT_NE(ticker().find("Scheduled maintenance on Thursday"), std::string::npos);
    EXPECT_TRUE(WaitFor([&] { return connection() == "live"; }, 10s)) << connection();

    // A broadcast posted to the host reaches the page through the event stream.
    EXPECT_EQ(
        host.FireEvent(
            "OnLcdsEvent_com_korvelworks_platform_broadcast_BroadcastNotification",
            {{"typeName", "com.korvelworks.platform.broadcast.BroadcastNotification"},
             {"body",
              {{"broadcastMessages", Json::array({{{"content", "Servers restart in 10 minutes"},
                                                   {"severity", "warn"}}})}}}}),
        1);
    EXPECT_TRUE(WaitFor(
        [&] { return ticker().find("Servers restart in 10 minutes") != std::string::npos; }, 20s))
        << ticker();
    EXPECT_EQ(ticker().find("Matchmaking delays"), std::string::npos) << ticker();
    EXPECT_EQ(read("document.querySelector('#ticker li').className"), "warn");
    EXPECT_EQ(status(), "degraded");

    // A picture of the page for people, beside the test's other output.
    const Json shot = browser.Send("Page.captureScreenshot", {{"format", "png"}}, session);
    if (shot.contains("result") && std::getenv("VEL_HOST_SCREENSHOT") != nullptr) {
        const std::string data = shot["result"]["data"];
        TempFolder scratch;
        const std::string encoded = scratch.Write("shot.b64", data);
        const std::string command =
            "base64 -d '" + encoded + "' > '" + std::getenv("VEL_HOST_SCREENSHOT") + "'";
        EXPECT_EQ(std::system(command.c_str()), 0);
    }
    EXPECT_EQ(host.Interrupt(), 0) << host.Failure();
}

} // namespace
} // namespace Korvel::VelHost::Testing
