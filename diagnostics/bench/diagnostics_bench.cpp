// Message formatting against one snprintf of the equivalent printf template,
// and the cost of a log call that the level filter drops.

#include <cstdio>
#include <string>

#include <benchmark/benchmark.h>

#include "diagnostics/format_message.h"
#include "diagnostics/log.h"
#include "diagnostics/logging_api.h"

namespace {

void BM_FormatMessageThreeTexts(benchmark::State& state) {
    const std::string name = "summonerName";
    const char* type = "string";
    const char* input = "int64";
    for (auto _ : state) {
        std::string message = Korvel::FormatMessage(
            "Couldn't assign value to '%1' of type %2 because the input is of an invalid type %3.",
            name, type, input);
        benchmark::DoNotOptimize(message);
    }
}
BENCHMARK(BM_FormatMessageThreeTexts);

// The printf equivalent, also producing a string object.
void BM_SnprintfThreeTexts(benchmark::State& state) {
    const std::string name = "summonerName";
    const char* type = "string";
    const char* input = "int64";
    for (auto _ : state) {
        char buffer[4096];
        const int length = std::snprintf(
            buffer, sizeof buffer,
            "Couldn't assign value to '%s' of type %s because the input is of an invalid type %s.",
            name.c_str(), type, input);
        std::string message(buffer, static_cast<std::size_t>(length));
        benchmark::DoNotOptimize(message);
    }
}
BENCHMARK(BM_SnprintfThreeTexts);

void BM_FormatMessageIntegers(benchmark::State& state) {
    int major = 18;
    int minor = 0;
    int patch = 3;
    for (auto _ : state) {
        std::string message = Korvel::FormatMessage("%1.%2.%3", major, minor, patch);
        benchmark::DoNotOptimize(message);
    }
}
BENCHMARK(BM_FormatMessageIntegers);

void BM_SnprintfIntegers(benchmark::State& state) {
    int major = 18;
    int minor = 0;
    int patch = 3;
    for (auto _ : state) {
        char buffer[4096];
        const int length = std::snprintf(buffer, sizeof buffer, "%d.%d.%d", major, minor, patch);
        std::string message(buffer, static_cast<std::size_t>(length));
        benchmark::DoNotOptimize(message);
    }
}
BENCHMARK(BM_SnprintfIntegers);

// A message below the logger's minimum level: dropped before formatting.
void BM_LogDroppedByLevel(benchmark::State& state) {
    Korvel::Logging::AddRef();
    const char* text = "value";
    for (auto _ : state) {
        Korvel::LogMessage(Korvel::LogLevel::Okay, Korvel::kLogCategoryDbg, "dropped %s %d %f",
                           text, 42, 1.5);
    }
    Korvel::Logging::Release();
}
BENCHMARK(BM_LogDroppedByLevel);

// A message that passes the logger and reaches one target that keeps it.
void BM_LogDispatchedToOneTarget(benchmark::State& state) {
    class Sink : public Korvel::LogTarget {
    public:
        bool Write(const Korvel::LogRecord& record) override {
            char line[Korvel::kLogBufferSize];
            benchmark::DoNotOptimize(
                Korvel::Logging::FormatLine(line, sizeof line, GetFormat(), record));
            return true;
        }
    };
    Korvel::Logging::AddRef();
    auto* stdErr = Korvel::Logging::GetStdErrTarget();
    auto* debugger = Korvel::Logging::GetDebuggerTarget();
    stdErr->detach(stdErr);
    debugger->detach(debugger);
    Sink sink;
    sink.Configure(Korvel::LogTargetConfig{0, 0, 0, Korvel::kDefaultLogLineTemplate});
    for (auto _ : state) {
        Korvel::LogMessage(Korvel::LogLevel::Error, Korvel::kLogCategoryDbg,
                           "request %s took %d ms", "/x", 12);
    }
    sink.Detach();
    Korvel::Logging::Release();
}
BENCHMARK(BM_LogDispatchedToOneTarget);

} // namespace
