// JSON reading and writing on a synthetic service-status document of about 1 MB (5 000 messages
// with translations), beside RapidJSON's own DOM (Document::Parse, Writer / PrettyWriter over the
// Document) and, when available, nlohmann::json on the same text.

#include <cstdio>
#include <string>

#include <benchmark/benchmark.h>
#include <rapidjson/document.h>
#include <rapidjson/prettywriter.h>
#include <rapidjson/reader.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#if defined(KORVEL_HAVE_NLOHMANN_JSON)
#include <nlohmann/json.hpp>
#endif

#include "encoding/json_reader.h"
#include "encoding/json_writer.h"

namespace {

constexpr int kMessages = 5000;

const char* const kSeverities[] = {"info", "warn", "error"};
const char* const kLocales[] = {"en_US", "de_DE", "fr_FR", "es_ES", "pl_PL", "pt_BR"};

// The status document as the web API sends it: a status and a list of incident messages, each
// with timestamps, a severity, a heading, a content text and its translations per locale.
std::string MakeStatusDocument() {
    std::string text;
    text.reserve(1200000);
    text += R"({"status":"degraded",)";
    text += R"("messages":[)";
    char buffer[512];
    for (int i = 0; i < kMessages; ++i) {
        if (i != 0) {
            text += ',';
        }
        std::snprintf(buffer, sizeof buffer,
                      R"({"created_at":"2024-05-01T%02d:%02d:00Z",)"
                      R"("updated_at":"2024-05-02T%02d:%02d:30Z","severity":"%s",)"
                      R"("heading":"Incident %d","content":"Long queues on server %d.",)"
                      R"("translations":[)",
                      i % 24, i % 60, (i + 3) % 24, (i * 7) % 60, kSeverities[i % 3], i, i % 97);
        text += buffer;
        const int translations = i % 5 == 0 ? 2 : 1;
        for (int t = 0; t < translations; ++t) {
            std::snprintf(buffer, sizeof buffer,
                          R"(%s{"locale":"%s","heading":"Vorfall %d","content":"Server %d."})",
                          t == 0 ? "" : ",", kLocales[(i + t) % 6], i, i % 97);
            text += buffer;
        }
        text += "]}";
    }
    text += "]}";
    return text;
}

const std::string& Document() {
    static const std::string text = MakeStatusDocument();
    return text;
}

void SetBytes(benchmark::State& state) {
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(Document().size()));
    state.counters["doc_bytes"] = static_cast<double>(Document().size());
}

// ---------------------------------------------------------------------------------------------
// Reading

void JsonReadBindingProperty(benchmark::State& state) {
    const std::string& text = Document();
    for (auto _ : state) {
        Korvel::BindingResult result = Korvel::ReadJson(text);
        if (!result.IsSuccess()) {
            state.SkipWithError("parse failed");
        }
        benchmark::DoNotOptimize(result);
    }
    SetBytes(state);
}
BENCHMARK(JsonReadBindingProperty)->Unit(benchmark::kMillisecond);

void JsonReadRapidJsonDocument(benchmark::State& state) {
    const std::string& text = Document();
    for (auto _ : state) {
        rapidjson::Document document;
        document.Parse(text.c_str());
        if (document.HasParseError()) {
            state.SkipWithError("parse failed");
        }
        benchmark::DoNotOptimize(document);
    }
    SetBytes(state);
}
BENCHMARK(JsonReadRapidJsonDocument)->Unit(benchmark::kMillisecond);

// RapidJSON's SAX reader with a handler that keeps nothing: the floor under every reader built on
// it with default flags.
struct NullHandler : rapidjson::BaseReaderHandler<rapidjson::UTF8<>, NullHandler> {};

void JsonReadRapidJsonSaxOnly(benchmark::State& state) {
    const std::string& text = Document();
    for (auto _ : state) {
        rapidjson::Reader reader;
        rapidjson::StringStream stream(text.c_str());
        NullHandler handler;
        if (reader.Parse(stream, handler).IsError()) {
            state.SkipWithError("parse failed");
        }
    }
    SetBytes(state);
}
BENCHMARK(JsonReadRapidJsonSaxOnly)->Unit(benchmark::kMillisecond);

#if defined(KORVEL_HAVE_NLOHMANN_JSON)
void JsonReadNlohmann(benchmark::State& state) {
    const std::string& text = Document();
    for (auto _ : state) {
        nlohmann::json document = nlohmann::json::parse(text);
        benchmark::DoNotOptimize(document);
    }
    SetBytes(state);
}
BENCHMARK(JsonReadNlohmann)->Unit(benchmark::kMillisecond);
#endif

// ---------------------------------------------------------------------------------------------
// Writing

const Korvel::BindingProperty& DocumentValue() {
    static const Korvel::BindingProperty value = [] {
        Korvel::BindingResult result = Korvel::ReadJson(Document());
        return Korvel::BindingProperty(result.value);
    }();
    return value;
}

void JsonWriteCompactBindingProperty(benchmark::State& state) {
    const Korvel::BindingProperty& value = DocumentValue();
    for (auto _ : state) {
        std::string text = Korvel::WriteJson(value);
        benchmark::DoNotOptimize(text);
    }
    SetBytes(state);
}
BENCHMARK(JsonWriteCompactBindingProperty)->Unit(benchmark::kMillisecond);

void JsonWritePrettyBindingProperty(benchmark::State& state) {
    const Korvel::BindingProperty& value = DocumentValue();
    for (auto _ : state) {
        std::string text = Korvel::WriteJson(value, nullptr, "\n");
        benchmark::DoNotOptimize(text);
    }
    SetBytes(state);
}
BENCHMARK(JsonWritePrettyBindingProperty)->Unit(benchmark::kMillisecond);

void JsonWritePrettyCrLfBindingProperty(benchmark::State& state) {
    const Korvel::BindingProperty& value = DocumentValue();
    for (auto _ : state) {
        std::string text = Korvel::WriteJson(value, nullptr, "\r\n");
        benchmark::DoNotOptimize(text);
    }
    SetBytes(state);
}
BENCHMARK(JsonWritePrettyCrLfBindingProperty)->Unit(benchmark::kMillisecond);

const rapidjson::Document& RapidJsonDocument() {
    static const rapidjson::Document document = [] {
        rapidjson::Document parsed;
        parsed.Parse(Document().c_str());
        return parsed;
    }();
    return document;
}

void JsonWriteCompactRapidJson(benchmark::State& state) {
    const rapidjson::Document& document = RapidJsonDocument();
    for (auto _ : state) {
        rapidjson::StringBuffer buffer;
        rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
        document.Accept(writer);
        benchmark::DoNotOptimize(buffer.GetString());
    }
    SetBytes(state);
}
BENCHMARK(JsonWriteCompactRapidJson)->Unit(benchmark::kMillisecond);

void JsonWritePrettyRapidJson(benchmark::State& state) {
    const rapidjson::Document& document = RapidJsonDocument();
    for (auto _ : state) {
        rapidjson::StringBuffer buffer;
        rapidjson::PrettyWriter<rapidjson::StringBuffer> writer(buffer);
        writer.SetIndent(' ', 4);
        document.Accept(writer);
        benchmark::DoNotOptimize(buffer.GetString());
    }
    SetBytes(state);
}
BENCHMARK(JsonWritePrettyRapidJson)->Unit(benchmark::kMillisecond);

#if defined(KORVEL_HAVE_NLOHMANN_JSON)
const nlohmann::json& NlohmannDocument() {
    static const nlohmann::json document = nlohmann::json::parse(Document());
    return document;
}

void JsonWriteCompactNlohmann(benchmark::State& state) {
    const nlohmann::json& document = NlohmannDocument();
    for (auto _ : state) {
        std::string text = document.dump();
        benchmark::DoNotOptimize(text);
    }
    SetBytes(state);
}
BENCHMARK(JsonWriteCompactNlohmann)->Unit(benchmark::kMillisecond);

void JsonWritePrettyNlohmann(benchmark::State& state) {
    const nlohmann::json& document = NlohmannDocument();
    for (auto _ : state) {
        std::string text = document.dump(4);
        benchmark::DoNotOptimize(text);
    }
    SetBytes(state);
}
BENCHMARK(JsonWritePrettyNlohmann)->Unit(benchmark::kMillisecond);
#endif

} // namespace
