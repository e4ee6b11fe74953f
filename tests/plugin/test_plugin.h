#pragma once

#include "plugin/plugin_base.h"
#include "support/test_host.h"

#include <memory>

namespace Korvel::Testing {

// A plug-in object of the test's own process, with a start-up that only
// counts its calls.
class TestPlugin : public PluginBase {
public:
    bool Start() override {
        ++starts;
        return startResult;
    }

    int starts = 0;
    bool startResult = true;
};

// Creates a TestPlugin on the host's virtual clock and runs the handshake
// with the given host API version.
inline std::unique_ptr<TestPlugin> MakeTestPlugin(TestHost& host,
                                                  PluginApiDescriptor* descriptor = nullptr,
                                                  HostVersion version = {}) {
    auto plugin = std::make_unique<TestPlugin>();
    plugin->SetClock(&TestHost::Clock, &host);
    PluginApiDescriptor local{};
    PluginApiDescriptor* target = descriptor != nullptr ? descriptor : &local;
    target->apiMajor = version.major;
    target->apiMinor = version.minor;
    target->apiPatch = version.patch;
    plugin->Handshake(target, "vel-service-status");
    return plugin;
}

// The payload of a service-proxy reply event ("OnServiceProxyUuidEvent" and its kin).
inline Json ServiceProxyReply(const char* uuid, const char* service, const char* method,
                              const char* payload) {
    return Json{{"uuid", uuid},       {"serviceName", service}, {"methodName", method},
                {"payload", payload}, {"status", "200"},        {"error", ""}};
}

} // namespace Korvel::Testing
