// Cost of a host call into a declared function as the entry point handles it: route, argument
// binding, conversion into native arguments, the call, and the response copied into the host's
// record and released. Also the cost of building the API declaration.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "binding/binding_registry.h"
#include "remoting/function_dispatch.h"
#include "remoting/remoting_function.h"

namespace Korvel::Client::FunctionCallBench {

struct Item {
    std::int32_t x = 0;
    std::string name;
    std::vector<std::string> tags;
};

} // namespace Korvel::Client::FunctionCallBench

KORVEL_STATIC_TYPE(struct, Korvel::Client::FunctionCallBench::Item)

namespace {

using namespace Korvel;
using Client::FunctionCallBench::Item;

class Api {
public:
    Api() {
        registry.Reinitialise();
        auto item = registry.RegisterStruct<Item>("Item");
        KORVEL_BINDING_FIELD(item, Item, x, "x", "", 0);
        KORVEL_BINDING_FIELD(item, Item, name, "name", "", 0);
        KORVEL_BINDING_FIELD(item, Item, tags, "tags", "", 0);
        RegisterRemotingFunction(registry, "Put", "/items/{id}", HttpMethod::Put,
                                 {{"id", ArgumentLocation::Path},
                                  {"verbose", ArgumentLocation::Query},
                                  {"item", ArgumentLocation::Body}},
                                 [](std::uint32_t id, bool verbose, Item item) {
                                     item.x += static_cast<std::int32_t>(id) + (verbose ? 1 : 0);
                                     return item;
                                 });
        declaration = BuildPluginApiDeclaration(registry);
    }

    void Call(const std::string& path, const std::string& body) const {
        const ApiFunctionEntry& entry = declaration->Declaration().functions[0];
        HostFunctionRequest request;
        std::memset(&request, 0, sizeof(request));
        request.method = 7;
        request.path = path.c_str();
        request.contentType = "application/json";
        request.body = reinterpret_cast<const std::uint8_t*>(body.data());
        request.bodyLength = static_cast<std::uint32_t>(body.size());
        request.userData = entry.userData;
        HostFunctionResponse response;
        entry.entryPoint(&response, &request);
        benchmark::DoNotOptimize(response.value.kind);
        response.release(&response);
    }

    BindingRegistry registry;
    std::unique_ptr<BuiltApiDeclaration> declaration;
};

std::string ItemJson(std::size_t tags) {
    std::string json = R"({"x": 1, "name": "item", "tags": [)";
    for (std::size_t i = 0; i < tags; ++i) {
        json += (i == 0 ? "\"" : ",\"") + std::to_string(i) + "-tag\"";
    }
    return json + "]}";
}

void BM_CallSmallBody(benchmark::State& state) {
    const Api api;
    const std::string body = ItemJson(3);
    for (auto _ : state) {
        api.Call("/items/42?verbose", body);
    }
}
BENCHMARK(BM_CallSmallBody);

// A body near 1 MB: decoding, conversion to the native record and back, and the host value.
void BM_CallMegabyteBody(benchmark::State& state) {
    const Api api;
    const std::string body = ItemJson(90000);
    for (auto _ : state) {
        api.Call("/items/42", body);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * body.size()));
}
BENCHMARK(BM_CallMegabyteBody)->Unit(benchmark::kMillisecond);

void BM_BuildDeclaration(benchmark::State& state) {
    Api api;
    for (auto _ : state) {
        benchmark::DoNotOptimize(BuildPluginApiDeclaration(api.registry));
    }
}
BENCHMARK(BM_BuildDeclaration);

} // namespace
