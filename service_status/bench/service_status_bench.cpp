// One status pass over a large status document: 5 000 incident messages with two translations
// each, about 1 MB of JSON, fetched through a minimal in-process host, parsed, turned into the
// ticker and the status resource and published.
//
// Every allocation of this program goes through the library's counted allocation entries (as
// inside the shared library), so the memory statistics the host would read cover the pass. The
// counters reported per benchmark:
//   pass_peak_bytes   highest bytes in use during the run's first pass, above the bytes in use
//                     before it (the document itself, held by the host, is not counted)
//   first_pass_peak_in_use  the statistics' peak right after that pass (document included)
//   library_peak_bytes  the statistics' peak for the whole run (what GetMemoryStats reports)
//   document_bytes    size of the status document

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <new>
#include <string>

#include "diagnostics/allocation.h"
#include "plugin/host_function_table.h"
#include "plugin/plugin_api_descriptor.h"
#include "service_status/service_status_plugin.h"

// Global allocation operators over the counted entries, as the shared library has them.
void* operator new(std::size_t size) {
    if (void* block = Korvel::Allocate(size == 0 ? 1 : size)) {
        return block;
    }
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
    return operator new(size);
}
void operator delete(void* block) noexcept {
    Korvel::Free(block);
}
void operator delete[](void* block) noexcept {
    Korvel::Free(block);
}
void operator delete(void* block, std::size_t) noexcept {
    Korvel::Free(block);
}
void operator delete[](void* block, std::size_t) noexcept {
    Korvel::Free(block);
}

namespace {

using namespace Korvel;

constexpr int kMessages = 5000;
constexpr char kApiUrl[] = "https://status.example/euw/v1/status";

std::string MakeStatusDocument() {
    std::string text = R"({"status":"degraded","messages":[)";
    for (int i = 0; i < kMessages; ++i) {
        const std::string n = std::to_string(i);
        const char* severity = i % 3 == 0 ? "info" : (i % 3 == 1 ? "warn" : "error");
        if (i != 0) {
            text += ',';
        }
        text += R"({"created_at":"2024-05-01T10:00:00Z","updated_at":"2024-05-01T11:00:00Z",)";
        text += R"("severity":")" + std::string(severity) + R"(",)";
        text += R"("heading":"Incident )" + n + R"(",)";
        text += R"("translations":[{"locale":"de_DE","heading":"Vorfall )" + n + R"("},)";
        text += R"({"locale":"en_US","content":"Login trouble )" + n + R"("}]})";
    }
    text += "]}";
    return text;
}

const std::string& StatusDocument() {
    static const std::string document = MakeStatusDocument();
    return document;
}

// Settings of the data store, answered as streamed JSON bodies.
constexpr char kRegionData[] = R"({"EUW":{"servers":{"service_status":{)"
                               R"("api_url":"https://status.example/euw/v1/status",)"
                               R"("human_readable_status_url":"https://status.example/#/euw"}}}})";
constexpr char kGlobals[] = R"({"region":"EUW","locale":"en_US"})";

struct Stream {
    const char* text = nullptr;
    std::size_t offset = 0;
};

Stream gStream;
std::size_t gEventsFired = 0;

bool KORVEL_CDECL ReadStream(void* context, void* buffer, uint32_t* length, uint8_t* moreData) {
    auto* stream = static_cast<Stream*>(context);
    const std::size_t left = std::strlen(stream->text) - stream->offset;
    const std::size_t count = left < *length ? left : *length;
    std::memcpy(buffer, stream->text + stream->offset, count);
    stream->offset += count;
    *length = static_cast<uint32_t>(count);
    *moreData = stream->offset < std::strlen(stream->text) ? 1 : 0;
    return true;
}

void KORVEL_CDECL SendRequest(const HostFunctionTable*, HostResourceResponse* response,
                              const HostResourceRequest* request) {
    const std::string path = request->path;
    if (path == "/data-store/v1/system-settings/region_data") {
        gStream = {kRegionData, 0};
    } else if (path == "/data-store/v1/install-settings/globals") {
        gStream = {kGlobals, 0};
    } else {
        response->error = "Not found";
        response->errorCode = 404;
        return;
    }
    response->read = &ReadStream;
    response->readContext = &gStream;
}

void KORVEL_CDECL SendExternalRequest(const HostFunctionTable*, ExternalResponseRecord* response,
                                      const ExternalRequestRecord* request) {
    if (std::strcmp(request->url, kApiUrl) != 0) {
        response->transportCode = 1;
        return;
    }
    static const HostHeaderEntry headers[] = {{"content-type", "application/json"}};
    const std::string& document = StatusDocument();
    response->transportCode = 0;
    response->status = 200;
    response->headers = headers;
    response->headerCount = 1;
    response->body = reinterpret_cast<const uint8_t*>(document.data());
    response->bodyLength = static_cast<uint32_t>(document.size());
}

void KORVEL_CDECL FireEvent(const HostFunctionTable*, const HostEventRecord*) {
    ++gEventsFired;
}
void KORVEL_CDECL Subscribe(const HostFunctionTable*, const char*, uint32_t, HostEventCallback,
                            void*, uint32_t) {}
void KORVEL_CDECL Unsubscribe(const HostFunctionTable*, const char*, uint32_t) {}
// Timers are not run: the benchmark runs the passes itself.
void KORVEL_CDECL SetTimer(const HostFunctionTable*, const char*, HostTimerCallback, void*, double,
                           uint32_t) {}
void KORVEL_CDECL Yield(const HostFunctionTable*) {}
void KORVEL_CDECL BeginWait(const HostFunctionTable*, const char*, uint32_t) {}
void KORVEL_CDECL EndWait(const HostFunctionTable*) {}
void KORVEL_CDECL Log(const HostFunctionTable*, int32_t, const char*) {}

const HostFunctionTable kHost = {
    &SendRequest, &SendExternalRequest, &FireEvent, &Subscribe, &Unsubscribe, &SetTimer,
    &Yield,       &BeginWait,           &EndWait,   &Log};
const HostContext kContext = {&kHost, 1};

uint64_t InUse(const MemoryStatistics& stats) {
    return stats.bytesAllocated - stats.bytesFreed;
}

// The peak of the first pass of the run. The statistics keep one high-water mark for the whole
// run, and the benchmark function is called more than once (the framework first finds how many
// iterations to run), so only the first pass of the first call can be measured against it.
struct FirstPass {
    bool measured = false;
    bool raisedPeak = false;
    uint64_t peakAboveStart = 0; // highest bytes in use during the pass minus bytes in use before
    uint64_t peakInUse = 0;      // the statistics' peak right after the pass
};
FirstPass gFirstPass;

void BM_StatusPass(benchmark::State& state) {
    StatusDocument();
    auto* plugin = new Client::ServiceStatusPlugin();
    PluginApiDescriptor descriptor{};
    descriptor.apiMajor = 18;
    plugin->Handshake(&descriptor, Client::ServiceStatusPlugin::kShortName);
    if (!plugin->Initialize(&kContext)) {
        state.SkipWithError("the plug-in did not start");
        return;
    }

    // The first pass of this call, outside the timed loop.
    MemoryStatistics before{};
    ReadMemoryStatistics(&before);
    const uint64_t eventsBefore = gEventsFired;
    plugin->UpdateServicesStatus();
    MemoryStatistics after{};
    ReadMemoryStatistics(&after);
    if (gEventsFired != eventsBefore + 4 || plugin->TickerMessages().size() != kMessages) {
        state.SkipWithError("the pass did not publish the document's messages");
        PluginBase::ShutdownEntry(plugin);
        return;
    }
    if (!gFirstPass.measured) {
        gFirstPass.measured = true;
        // The mark is the pass's own only when the pass raised it above the mark reached before
        // (building the document).
        gFirstPass.raisedPeak = after.peakBytesInUse > before.peakBytesInUse;
        gFirstPass.peakAboveStart = after.peakBytesInUse - InUse(before);
        gFirstPass.peakInUse = after.peakBytesInUse;
    }
    if (!gFirstPass.raisedPeak) {
        state.SkipWithError(
            "the first pass stayed below the earlier peak; its own peak is unknown");
        PluginBase::ShutdownEntry(plugin);
        return;
    }

    for (auto _ : state) {
        plugin->UpdateServicesStatus();
    }

    ReadMemoryStatistics(&after);
    state.counters["pass_peak_bytes"] = static_cast<double>(gFirstPass.peakAboveStart);
    state.counters["first_pass_peak_in_use"] = static_cast<double>(gFirstPass.peakInUse);
    state.counters["library_peak_bytes"] = static_cast<double>(after.peakBytesInUse);
    state.counters["document_bytes"] = static_cast<double>(StatusDocument().size());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(StatusDocument().size()));
    PluginBase::ShutdownEntry(plugin);
}
BENCHMARK(BM_StatusPass)->Unit(benchmark::kMillisecond);

} // namespace
