// The API declaration as the host sees it through the built shared library, and calls of the
// declared functions through their entry points.

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/function_caller.h"
#include "support/test_host.h"

namespace Korvel::Testing {
namespace {

constexpr char kRegionData[] = "/data-store/v1/system-settings/region_data";
constexpr char kGlobals[] = "/data-store/v1/install-settings/globals";
constexpr char kApiUrl[] = "https://status.example/euw/v1/status";
constexpr char kStatusPath[] = "/vel-service-status/v1/zum-status";
constexpr char kTickerPath[] = "/vel-service-status/v1/ticker-messages";
constexpr char kStatusFunction[] = "GetVelServiceStatusV1ZumStatus";
constexpr char kTickerFunction[] = "GetVelServiceStatusV1TickerMessages";

// The data-store entries of a player in EUW whose status document is served at kApiUrl.
void ServeEuwSettings(TestHost& host) {
    host.SetResource(
        kRegionData,
        Json{{"EUW",
              {{"servers",
                {{"service_status",
                  {{"api_url", kApiUrl},
                   {"human_readable_status_url", "https://status.example/#/euw"}}}}}}}});
    host.SetResource(kGlobals, Json{{"locale", "en_US"}, {"region", "EUW"}});
}

std::vector<std::string> Texts(const char* const* texts, uint32_t count) {
    std::vector<std::string> out;
    for (uint32_t i = 0; i < count; ++i) {
        out.emplace_back(texts[i]);
    }
    return out;
}

// A type as declared: its fields ("name:kind:elementKind:typeName") or enumerators
// ("name=value"), in declaration order.
struct DeclaredType {
    std::vector<std::string> tags;
    std::vector<std::string> members;
    bool isEnum = false;
};

std::map<std::string, DeclaredType> ReadTypes(const ApiDeclaration& declaration) {
    std::map<std::string, DeclaredType> types;
    const ApiTypeEntry* entry = declaration.types;
    for (uint32_t i = 0; i < declaration.typeCount; ++i, entry = entry->next) {
        EXPECT_EQ(entry, &declaration.types[i]);
        DeclaredType& type = types[entry->name];
        type.tags = Texts(entry->tags, entry->tagCount);
        type.isEnum = entry->values != nullptr;
        for (uint32_t j = 0; j < entry->memberCount; ++j) {
            if (entry->values != nullptr) {
                type.members.push_back(std::string(entry->values[j].name) + "=" +
                                       std::to_string(entry->values[j].value));
            } else {
                const ApiFieldEntry& field = entry->fields[j];
                type.members.push_back(std::string(field.name) + ":" + std::to_string(field.kind) +
                                       ":" + std::to_string(field.elementKind) + ":" +
                                       field.typeName);
            }
        }
    }
    EXPECT_EQ(entry, nullptr);
    return types;
}

class PluginApi : public ::testing::Test {
protected:
    PluginApi() {
        ServeEuwSettings(host);
        CannedExternalResponse response;
        response.status = 200;
        response.body = R"({"status": "degraded", "messages": [
            {"created_at": "c1", "updated_at": "u1", "severity": "warn",
             "heading": "Login issues", "content": "Some players cannot log in."}]})";
        host.SetExternalResponse(kApiUrl, response);
        host.Load();
    }

    const ApiDeclaration& Declaration() {
        EXPECT_NE(host.Descriptor().apiDeclaration, nullptr);
        return *host.Descriptor().apiDeclaration;
    }

    FunctionResponse Get(const char* function, const std::string& path, uint32_t method = 2) {
        const ApiFunctionEntry* entry = FindDeclaredFunction(Declaration(), function);
        EXPECT_NE(entry, nullptr) << function;
        FunctionRequest request;
        request.method = method;
        request.path = path;
        return CallDeclaredFunction(*entry, request);
    }

    TestHost host;
};

TEST_F(PluginApi, DeclaresEveryTypeWithItsMembers) {
    const std::map<std::string, DeclaredType> types = ReadTypes(Declaration());
    const std::set<std::string> builtin = {
        "BindingHelpFormat",        "BindingFullTypeIdentifier", "BindingFullArgumentHelp",
        "BindingFullFunctionHelp",  "BindingFullEnumValueHelp",  "BindingFullFieldHelp",
        "BindingFullTypeHelp",      "BindingFullEventHelp",      "BindingFullApiHelp",
        "BindingAsyncState",        "BindingGenericEvent",       "BindingCallbackEvent",
        "BindingGenericAsyncEvent", "BindingAsyncFailureEvent",  "BindingAsyncCancelEvent"};
    for (const std::string& name : builtin) {
        ASSERT_EQ(types.count(name), 1u) << name;
        EXPECT_EQ(types.at(name).tags.front(), "$builtin") << name;
    }
    EXPECT_EQ(types.at("BindingCallbackEvent").members,
              (std::vector<std::string>{"id:7:0:", "parameters:15:13:"}));
    EXPECT_EQ(types.at("BindingFullFunctionHelp").members[2],
              "arguments:15:17:BindingFullArgumentHelp");

    const std::map<std::string, std::vector<std::string>> own = {
        {"PluginManagerState", {"NotReady=0", "PluginsInitialized=1"}},
        {"PluginManagerResource", {"state:16:0:PluginManagerState"}},
        {"PluginResourceEventType", {"Create=0", "Delete=2", "Update=1"}},
        {"PluginResourceEvent",
         {"uri:12:0:", "eventType:16:0:PluginResourceEventType", "data:13:0:"}},
        {"PluginLcdsEvent", {"clientId:12:0:", "subtopic:12:0:", "typeName:12:0:", "body:13:0:"}},
        {"PluginLcdsResponse", {"typeName:12:0:", "body:13:0:"}},
        {"PluginServiceProxyResponse",
         {"uuid:12:0:", "serviceName:12:0:", "methodName:12:0:", "payload:12:0:", "status:12:0:",
          "error:12:0:"}},
        {"ServiceStatusIncident_Severity", {"error=2", "info=0", "warn=1"}},
        {"ServiceStatusResource_Status",
         {"degraded=3", "deploying=4", "offline=2", "online=1", "unknown=0"}},
        {"TickerMessage",
         {"severity:16:0:ServiceStatusIncident_Severity",
          "createdAt:12:0:", "updatedAt:12:0:", "heading:12:0:", "message:12:0:"}},
        {"ServiceStatusResource",
         {"status:16:0:ServiceStatusResource_Status", "humanReadableUrl:12:0:"}},
    };
    for (const auto& [name, members] : own) {
        ASSERT_EQ(types.count(name), 1u) << name;
        EXPECT_EQ(types.at(name).members, members) << name;
    }
    EXPECT_EQ(types.at("PluginResourceEvent").tags, std::vector<std::string>{"kclient"});
    EXPECT_EQ(types.count("BroadcastNotification"), 1u);
    EXPECT_EQ(types.count("LoginDataPacket"), 1u);
    EXPECT_EQ(types.count("LCDSBroadcastNotification"), 1u);
    EXPECT_EQ(types.size(), builtin.size() + own.size() + 3);
}

TEST_F(PluginApi, DeclaresTheEvents) {
    const ApiDeclaration& declaration = Declaration();
    std::map<std::string, std::string> events;
    for (uint32_t i = 0; i < declaration.eventCount; ++i) {
        const ApiEventEntry& event = declaration.events[i];
        events[event.name] = event.dataTypeName;
        EXPECT_EQ(Texts(event.tags, event.tagCount).size(), 1u);
    }
    EXPECT_EQ(events, (std::map<std::string, std::string>{
                          {"OnCallback", "BindingCallbackEvent"},
                          {"OnJsonApiEvent", "PluginResourceEvent"},
                          {"OnLcdsEvent", "PluginLcdsEvent"},
                          {"OnServiceProxyAsyncEvent", "PluginServiceProxyResponse"},
                          {"OnServiceProxyMethodEvent", "PluginServiceProxyResponse"},
                          {"OnServiceProxyUuidEvent", "PluginServiceProxyResponse"}}));
}

TEST_F(PluginApi, DeclaresTheTwoResourceFunctions) {
    const ApiDeclaration& declaration = Declaration();
    ASSERT_EQ(declaration.functionCount, 2u);
    const ApiFunctionEntry* ticker = FindDeclaredFunction(declaration, kTickerFunction);
    const ApiFunctionEntry* status = FindDeclaredFunction(declaration, kStatusFunction);
    ASSERT_NE(ticker, nullptr);
    ASSERT_NE(status, nullptr);
    EXPECT_EQ(+ticker->next, status); // chained in name order
    EXPECT_EQ(+status->next, nullptr);

    EXPECT_STREQ(status->path, kStatusPath);
    EXPECT_STREQ(ticker->path, kTickerPath);
    for (const ApiFunctionEntry* entry : {ticker, status}) {
        EXPECT_EQ(+entry->method, 2u);
        EXPECT_STREQ(entry->methodText, "");
        EXPECT_EQ(Texts(entry->tags, entry->tagCount),
                  (std::vector<std::string>{"Plugins", "Plugin vel-service-status"}));
        EXPECT_EQ(+entry->argumentCount, 0u);
        EXPECT_NE(+entry->entryPoint, nullptr);
        EXPECT_NE(+entry->userData, nullptr);
    }
    EXPECT_EQ(+status->returnKind, 17);
    EXPECT_STREQ(status->returnTypeName, "ServiceStatusResource");
    EXPECT_EQ(+ticker->returnKind, 15);
    EXPECT_EQ(+ticker->returnElementKind, 17);
    EXPECT_STREQ(ticker->returnTypeName, "TickerMessage");
}

TEST_F(PluginApi, ResourcesByGetBeforeAndAfterAStatusPass) {
    FunctionResponse status = Get(kStatusFunction, kStatusPath);
    EXPECT_EQ(status.value, (Json{{"humanReadableUrl", ""}, {"status", "unknown"}}));
    EXPECT_EQ(status.valueKinds["status"], 6); // the enumerator's name
    EXPECT_EQ(status.status, 0);
    EXPECT_TRUE(status.released);
    EXPECT_EQ(Get(kTickerFunction, kTickerPath).value, Json::array());

    ASSERT_TRUE(host.Initialize());
    host.RunDueTimers();
    ASSERT_EQ(host.Events().size(), 4u);

    status = Get(kStatusFunction, kStatusPath);
    EXPECT_EQ(status.value, (Json{{"humanReadableUrl", "https://status.example/?en_US#/euw"},
                                  {"status", "degraded"}}));
    const FunctionResponse ticker = Get(kTickerFunction, kTickerPath);
    EXPECT_EQ(ticker.value, Json::array({Json{{"createdAt", "c1"},
                                              {"heading", "Login issues"},
                                              {"message", "Some players cannot log in."},
                                              {"severity", "warn"},
                                              {"updatedAt", "u1"}}}));
    EXPECT_EQ(ticker.valueKinds["items"][0]["severity"], 6);
    // What the host was told about the resource matches what it reads.
    EXPECT_EQ(host.Events()[0].payload["data"], ticker.value);
}

TEST_F(PluginApi, RefusedRequests) {
    // The resources are literal routes: the path followed by a query part is another path.
    FunctionResponse response = Get(kStatusFunction, std::string(kStatusPath) + "?foo=1");
    EXPECT_EQ(response.value, "Invalid function");
    EXPECT_EQ(response.status, 404);

    const ApiFunctionEntry* entry = FindDeclaredFunction(Declaration(), kTickerFunction);
    ASSERT_NE(entry, nullptr);
    FunctionRequest request;
    request.path = kTickerPath;
    request.arguments = {{"locale", host.Arena().Text("de_DE")}};
    response = CallDeclaredFunction(*entry, request);
    EXPECT_EQ(response.value,
              "Unknown argument 'locale' for 'GetVelServiceStatusV1TickerMessages'.");

    for (uint32_t method : {6u, 1u, 0u}) {
        response = Get(kTickerFunction, kTickerPath, method);
        EXPECT_EQ(response.value, "Invalid function") << method;
        EXPECT_EQ(response.status, 404) << method;
    }
    response = Get(kTickerFunction, kStatusPath);
    EXPECT_EQ(response.value, "Invalid function");
    EXPECT_EQ(response.status, 404);

    HostFunctionRequest malformed{};
    malformed.method = 2;
    malformed.userData = entry->userData;
    response = CallEntryPoint(entry->entryPoint, &malformed);
    EXPECT_EQ(response.value, "Malformed request: the path is missing");
    EXPECT_EQ(response.status, 400);
}

TEST_F(PluginApi, CallsKeepNoMemory) {
    ASSERT_TRUE(host.Initialize());
    host.RunDueTimers();
    // The first calls may set up what later calls reuse.
    Get(kTickerFunction, kTickerPath);
    Get(kStatusFunction, std::string(kStatusPath) + "?x=1");
    Get(kStatusFunction, kStatusPath, 6);
    const PluginMemoryStats before = host.MemoryStats();
    for (int i = 0; i < 20; ++i) {
        Get(kTickerFunction, kTickerPath);
        Get(kStatusFunction, std::string(kStatusPath) + "?x=1");
        Get(kStatusFunction, kStatusPath, 6);
    }
    const PluginMemoryStats after = host.MemoryStats();
    EXPECT_GT(after.bytesAllocated, before.bytesAllocated);
    EXPECT_EQ(TestHost::LiveBytes(after), TestHost::LiveBytes(before));
}

// The declaration lives in the plug-in object until Shutdown: the library then holds exactly
// what it held before the export, also after calls through the declared entry points.
TEST(PluginApiLifetime, ShutdownFreesTheDeclaration) {
    TestHost host;
    host.Open();
    const uint64_t before = TestHost::LiveBytes(host.MemoryStats());
    host.CallExport();
    const ApiDeclaration* declaration = host.Descriptor().apiDeclaration;
    ASSERT_NE(declaration, nullptr);
    ASSERT_EQ(declaration->functionCount, 2u);
    EXPECT_GT(TestHost::LiveBytes(host.MemoryStats()), before);
    for (uint32_t i = 0; i < declaration->functionCount; ++i) {
        FunctionRequest request;
        request.path = declaration->functions[i].path;
        EXPECT_EQ(CallDeclaredFunction(declaration->functions[i], request).status, 0);
    }
    host.Shutdown();
    EXPECT_EQ(TestHost::LiveBytes(host.MemoryStats()), before);
}

// Two hosts that share the loaded library each get a plug-in object of their own: each
// declaration's entry points reach the object it was built for, and the first object's shutdown
// leaves the second declaration whole.
TEST(PluginApiLifetime, EachPluginObjectAnswersThroughItsOwnDeclaration) {
    TestHost running;
    ServeEuwSettings(running);
    CannedExternalResponse response;
    response.status = 200;
    response.body = R"({"status": "offline", "messages": []})";
    running.SetExternalResponse(kApiUrl, response);
    running.Load();
    TestHost idle;
    idle.Load();

    const ApiDeclaration* first = running.Descriptor().apiDeclaration;
    const ApiDeclaration* second = idle.Descriptor().apiDeclaration;
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(first, second);
    EXPECT_NE(running.Descriptor().plugin, idle.Descriptor().plugin);
    ASSERT_EQ(first->functionCount, second->functionCount);
    EXPECT_EQ(first->typeCount, second->typeCount);
    EXPECT_EQ(first->eventCount, second->eventCount);

    ASSERT_TRUE(running.Initialize());
    running.RunDueTimers();
    auto status = [](const ApiDeclaration& declaration) {
        const ApiFunctionEntry* entry = FindDeclaredFunction(declaration, kStatusFunction);
        EXPECT_NE(entry, nullptr);
        FunctionRequest request;
        request.path = kStatusPath;
        return entry != nullptr ? CallDeclaredFunction(*entry, request).value["status"] : Json();
    };
    EXPECT_EQ(status(*first), "offline");
    EXPECT_EQ(status(*second), "unknown");

    running.Shutdown();
    EXPECT_EQ(status(*second), "unknown");
    EXPECT_STREQ(idle.Descriptor().name, "vel-service-status");
}

} // namespace
} // namespace Korvel::Testing
