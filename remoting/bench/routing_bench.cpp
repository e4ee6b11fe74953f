// Cost of routing one request as the dispatcher does it: build the function's route (compiling
// the template's expression) and match the request path against it.
#include <string>

#include <benchmark/benchmark.h>

#include "remoting/route_match.h"

namespace {

using namespace Korvel;

FunctionRoute MakeRoute(const char* path) {
    FunctionRoute route;
    route.SetPath(path);
    route.SetMethod(HttpMethod::Get);
    return route;
}

void RouteRequest(benchmark::State& state, const char* pattern, std::string path) {
    const FunctionRoute route = MakeRoute(pattern);
    for (auto _ : state) {
        RouteMatch match;
        match.method = HttpMethod::Get;
        match.path = path;
        benchmark::DoNotOptimize(MatchFunctionRoute(match, route, "Function", nullptr));
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
    RouteRequest(state, "/files/{+rest}", "/files/" + std::string(kMaxTemplatePathLength - 7, 'x'));
}
BENCHMARK(BM_TemplateRouteLongPath);

void BM_TemplateRouteMegabytePath(benchmark::State& state) {
    RouteRequest(state, "/files/{+rest}", "/files/" + std::string(1 << 20, 'x'));
}
BENCHMARK(BM_TemplateRouteMegabytePath);

void BM_MatchOnly(benchmark::State& state) {
    const RemotingRoute route = BuildRoute(MakeRoute("/items/{id}/parts/{+rest}"), "F", nullptr);
    for (auto _ : state) {
        RouteMatch match;
        match.method = HttpMethod::Get;
        match.path = "/items/42/parts/a/b%20c";
        benchmark::DoNotOptimize(MatchRoutes(match, std::span(&route, 1)));
    }
}
BENCHMARK(BM_MatchOnly);

} // namespace
