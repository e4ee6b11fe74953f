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
// Puts `plugin` on the test host's clock and registers it with the host's version, as the
// export does; the plug-in still has to be initialised.
inline void RegisterTestPlugin(TestPlugin& plugin, TestHost& host,
                               PluginApiDescriptor* descriptor = nullptr,
                               HostVersion version = {}) {
    plugin.SetClock(&TestHost::Clock, &host);
    PluginApiDescriptor local{};
    PluginApiDescriptor* target = descriptor != nullptr ? descriptor : &local;
    target->apiMajor = version.major;
    target->apiMinor = version.minor;
    target->apiPatch = version.patch;
    plugin.Handshake(target, "vel-service-status");
}

inline std::unique_ptr<TestPlugin> MakeTestPlugin(TestHost& host,
                                                  PluginApiDescriptor* descriptor = nullptr,
                                                  HostVersion version = {}) {
    auto plugin = std::make_unique<TestPlugin>();
    RegisterTestPlugin(*plugin, host, descriptor, version);
    return plugin;
}

// The payload of a service-proxy reply event ("OnServiceProxyUuidEvent" and its kin).
inline Json ServiceProxyReply(const char* uuid, const char* service, const char* method,
                              const char* payload) {
    return Json{{"uuid", uuid},       {"serviceName", service}, {"methodName", method},
                {"payload", payload}, {"status", "200"},        {"error", ""}};
}

} // namespace Korvel::Testing
