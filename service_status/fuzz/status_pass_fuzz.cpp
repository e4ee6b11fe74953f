// Status passes of the service-status plug-in, served by the test host: fuzzed region data,
// region and locale, and a fuzzed status document as the status server's answer. The plug-in
// object runs in this process on the host's virtual clock; it starts, runs its first pass, a
// periodic one and one after a region change, and is shut down. Any host-protocol fault the test
// host notices (a record not released, a call without its records) stops the program.
//
// Input: a flag byte (bits 0-1 the server's answer: 200, 500, a transport failure or no body;
// bit 2: region data as a text rather than a document; bit 3: no globals), then the region data
// (JSON) up to a zero byte, the region and the locale up to zero bytes each, the region-change
// event's payload (JSON) up to a zero byte, then the status document.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "plugin/plugin_api_descriptor.h"
#include "service_status/service_status_plugin.h"
#include "support/fuzz_input.h"
#include "support/test_host.h"

namespace {

using namespace Korvel;
using Testing::Json;

constexpr char kRegionData[] = "/data-store/v1/system-settings/region_data";
constexpr char kGlobals[] = "/data-store/v1/install-settings/globals";

// Every text in the region data, so that the status server answers whatever address the
// plug-in takes from it.
void CollectTexts(const Json& value, std::vector<std::string>& texts) {
    if (texts.size() >= 16) {
        return;
    }
    if (value.is_string()) {
        texts.push_back(value.get<std::string>());
    } else if (value.is_structured()) {
        for (const Json& item : value) {
            CollectTexts(item, texts);
        }
    }
}

Json ParseOrText(const std::string& text) {
    Json json = Json::parse(text, nullptr, false);
    if (json.is_discarded()) {
        return Json(text);
    }
    return json;
}

bool HostSawFault() {
    return ::testing::UnitTest::GetInstance()->ad_hoc_test_result().Failed();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Testing::FuzzInput input(data, size);
    const std::uint8_t flags = input.Byte();
    const std::string regionDataText = input.Until('\0');
    const std::string region = input.Until('\0');
    const std::string locale = input.Until('\0');
    const std::string eventText = input.Until('\0');
    const std::string document = input.Rest();

    Testing::TestHost host;
    const Json regionData = (flags & 4) != 0 ? Json(regionDataText) : ParseOrText(regionDataText);
    host.SetResource(kRegionData, regionData);
    if ((flags & 8) == 0) {
        host.SetResource(kGlobals, Json{{"locale", locale}, {"region", region}});
    }
    std::vector<std::string> urls;
    CollectTexts(regionData, urls);
    for (const std::string& url : urls) {
        Testing::CannedExternalResponse response;
        switch (flags & 3) {
        case 0:
            response.status = 200;
            response.body = document;
            break;
        case 1:
            response.status = 500;
            response.body = document;
            break;
        case 2:
            response.transportCode = 2;
            response.status = 0;
            response.body = document;
            break;
        default:
            response.status = 200;
            response.body = std::nullopt;
            break;
        }
        response.headers = {{"content-type", "application/json"}};
        host.SetExternalResponse(url, std::move(response));
    }

    auto plugin = std::make_unique<Client::ServiceStatusPlugin>();
    plugin->SetClock(&Testing::TestHost::Clock, &host);
    PluginApiDescriptor descriptor{};
    descriptor.apiMajor = 18;
    plugin->Handshake(&descriptor, Client::ServiceStatusPlugin::kShortName);
    KORVEL_FUZZ_CHECK(plugin->Initialize(host.Context()));
    host.RunDueTimers();
    host.AdvanceTime(std::chrono::seconds(120));
    host.Deliver("OnRegionLocaleChanged", ParseOrText(eventText));
    host.RunDueTimers();
    Client::ServiceStatusPlugin::ShutdownEntry(plugin.release());

    KORVEL_FUZZ_CHECK(host.UnreleasedResponseCount() == 0);
    for (const Testing::FiredEvent& event : host.Events()) {
        KORVEL_FUZZ_CHECK(!event.name.empty());
    }
    KORVEL_FUZZ_CHECK(!HostSawFault());
    return 0;
}
