// Cost of routing one request as the dispatcher does it: build the function's route (translating
// the template) and match the request path against it.
#include <string>

#include <benchmark/benchmark.h>

#include "remoting/function_route.h"
#include "remoting/route_match.h"

namespace {

using namespace Korvel;

BindingFunctionDescriptor MakeFunction(const char* path) {
    BindingFunctionDescriptor function;
    function.name = "Function";
    SetRoutePath(function, path);
    SetRouteMethod(function, HttpMethod::Get);
    return function;
}

void RouteRequest(benchmark::State& state, const char* pattern, std::string path) {
    const BindingFunctionDescriptor function = MakeFunction(pattern);
    for (auto _ : state) {
        RouteMatch match;
        match.method = HttpMethod::Get;
        match.path = path;
        benchmark::DoNotOptimize(MatchFunctionRoute(match, function));
        benchmark::DoNotOptimize(match.captures);
    }
}

void BM_LiteralRoute(benchmark::State& state) {
    RouteRequest(state, "/vel-service-status/v1/ticker-messages",
                 "/vel-service-status/v1/ticker-messages");
}
BENCHMARK(BM_LiteralRoute);

void BM_TemplateRoute(benchmark::State& state) {
    RouteRequest(state, "/items/{id}/parts/{+rest}", "/items/42/parts/a/b%20c");
}
BENCHMARK(BM_TemplateRoute);

void BM_TemplateRouteLongPath(benchmark::State& state) {
    RouteRequest(state, "/files/{+rest}", "/files/" + std::string(1017, 'x'));
}
BENCHMARK(BM_TemplateRouteLongPath);

// A 1 MB path: building the route, copying the path and matching it in one pass.
void BM_TemplateRouteMegabytePath(benchmark::State& state) {
    RouteRequest(state, "/files/{+rest}", "/files/" + std::string(1 << 20, 'x'));
}
BENCHMARK(BM_TemplateRouteMegabytePath);

// Matching alone, with the route built once.
void BM_MatchOnly(benchmark::State& state) {
    const BindingFunctionDescriptor function = MakeFunction("/items/{id}/parts/{+rest}");
    const RemotingRoute route = BuildRoute(function);
    for (auto _ : state) {
        RouteMatch match;
        match.method = HttpMethod::Get;
        match.path = "/items/42/parts/a/b%20c";
        benchmark::DoNotOptimize(MatchRoutes(match, std::span(&route, 1)));
    }
}
BENCHMARK(BM_MatchOnly);

} // namespace
