// YAML reading of a ~1 MB service-status document: the library's reader beside yaml-cpp's
// YAML::Load and beside libyaml's bare event loop (parse and discard every event), the floor any
// reader on libyaml stands on.

#include <benchmark/benchmark.h>
#include <yaml.h>

#include <cstdint>
#include <string>

#include "encoding/bench/decoder_bench_document.h"
#include "encoding/yaml_reader.h"

#if defined(KORVEL_HAVE_YAML_CPP)
#include <yaml-cpp/yaml.h>
#endif

namespace {

const std::string& YamlDocument() {
    static const std::string text = Korvel::Bench::StatusDocumentYaml(
        Korvel::Bench::MakeBenchMessages(Korvel::Bench::kBenchMessages));
    return text;
}

void BM_YamlRead(benchmark::State& state) {
    const std::string& text = YamlDocument();
    for (auto _ : state) {
        Korvel::BindingResult result = Korvel::ReadYaml(text);
        if (!result.IsSuccess() ||
            result.value.Member("messages").Size() != Korvel::Bench::kBenchMessages) {
            state.SkipWithError("reading failed");
            break;
        }
        benchmark::DoNotOptimize(result);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
    state.counters["document_bytes"] = static_cast<double>(text.size());
}
BENCHMARK(BM_YamlRead)->Unit(benchmark::kMillisecond);

void BM_LibYamlEventLoop(benchmark::State& state) {
    const std::string& text = YamlDocument();
    for (auto _ : state) {
        yaml_parser_t parser;
        yaml_parser_initialize(&parser);
        yaml_parser_set_encoding(&parser, YAML_UTF8_ENCODING);
        yaml_parser_set_input_string(&parser, reinterpret_cast<const unsigned char*>(text.data()),
                                     text.size());
        std::size_t events = 0;
        bool done = false;
        while (!done) {
            yaml_event_t event;
            if (yaml_parser_parse(&parser, &event) == 0) {
                state.SkipWithError("libyaml failed");
                break;
            }
            done = event.type == YAML_STREAM_END_EVENT;
            ++events;
            yaml_event_delete(&event);
        }
        yaml_parser_delete(&parser);
        benchmark::DoNotOptimize(events);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_LibYamlEventLoop)->Unit(benchmark::kMillisecond);

#if defined(KORVEL_HAVE_YAML_CPP)
void BM_YamlCppLoad(benchmark::State& state) {
    const std::string& text = YamlDocument();
    for (auto _ : state) {
        YAML::Node node = YAML::Load(text);
        if (node["messages"].size() != Korvel::Bench::kBenchMessages) {
            state.SkipWithError("yaml-cpp failed");
            break;
        }
        benchmark::DoNotOptimize(node);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_YamlCppLoad)->Unit(benchmark::kMillisecond);
#endif

} // namespace
