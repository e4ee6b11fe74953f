// Building, deep-copying and destroying a value tree of about 100 000 mixed nodes, beside the same
// work done with nlohmann::json when it is available.

#include <cstdint>
#include <string>

#include <benchmark/benchmark.h>

#include "binding/binding_property.h"

#if KORVEL_HAVE_NLOHMANN_JSON
#include <nlohmann/json.hpp>
#endif

namespace {

constexpr int kRecords = 8000; // 12.5 nodes per record: about 100 000 nodes

// The texts are made once, outside the timed work, so both sides copy the same inputs.
struct Texts {
    Texts() {
        for (int i = 0; i < kRecords; ++i) {
            names.push_back("item-" + std::to_string(i));
            notes.push_back(std::string(i % 5 == 0 ? 40 : 10, static_cast<char>('a' + i % 26)));
        }
    }
    std::vector<std::string> names;
    std::vector<std::string> notes;
};

const Texts& SharedTexts() {
    static const Texts texts;
    return texts;
}

void Build(Korvel::BindingProperty& root, const Texts& texts) {
    Korvel::BindingProperty& items = root.Member("items");
    items.Reserve(kRecords);
    for (int i = 0; i < kRecords; ++i) {
        Korvel::BindingProperty& item = items.Append();
        item.Member("id") = i;
        item.Member("name") = texts.names[static_cast<std::size_t>(i)];
        item.Member("ratio") = i * 0.25;
        item.Member("enabled") = (i & 1) != 0;
        item.Member("note") = texts.notes[static_cast<std::size_t>(i)];
        item.Member("size") = std::uint64_t{1} << (i % 40);
        Korvel::BindingProperty& tags = item.Member("tags");
        tags.Append() = "common";
        tags.Append() = -i;
        tags.Append();
        item.Member("parent").Member("level") = i % 3;
    }
}

void BM_BindingBuildAndDestroy(benchmark::State& state) {
    const Texts& texts = SharedTexts();
    for (auto _ : state) {
        Korvel::BindingProperty root;
        Build(root, texts);
        benchmark::DoNotOptimize(root.Size());
    }
    state.SetItemsProcessed(state.iterations() * kRecords);
}
BENCHMARK(BM_BindingBuildAndDestroy)->Unit(benchmark::kMillisecond);

void BM_BindingDeepCopy(benchmark::State& state) {
    Korvel::BindingProperty root;
    Build(root, SharedTexts());
    for (auto _ : state) {
        Korvel::BindingProperty copy(root);
        benchmark::DoNotOptimize(copy.Size());
    }
    state.SetItemsProcessed(state.iterations() * kRecords);
}
BENCHMARK(BM_BindingDeepCopy)->Unit(benchmark::kMillisecond);

#if KORVEL_HAVE_NLOHMANN_JSON

void Build(nlohmann::json& root, const Texts& texts) {
    nlohmann::json& items = root["items"];
    items = nlohmann::json::array();
    items.get_ref<nlohmann::json::array_t&>().reserve(kRecords);
    for (int i = 0; i < kRecords; ++i) {
        nlohmann::json& item = items.emplace_back(nlohmann::json::object());
        item["id"] = i;
        item["name"] = texts.names[static_cast<std::size_t>(i)];
        item["ratio"] = i * 0.25;
        item["enabled"] = (i & 1) != 0;
        item["note"] = texts.notes[static_cast<std::size_t>(i)];
        item["size"] = std::uint64_t{1} << (i % 40);
        nlohmann::json& tags = item["tags"];
        tags.push_back("common");
        tags.push_back(-i);
        tags.push_back(nullptr);
        item["parent"]["level"] = i % 3;
    }
}

void BM_NlohmannBuildAndDestroy(benchmark::State& state) {
    const Texts& texts = SharedTexts();
    for (auto _ : state) {
        nlohmann::json root;
        Build(root, texts);
        benchmark::DoNotOptimize(root.size());
    }
    state.SetItemsProcessed(state.iterations() * kRecords);
}
BENCHMARK(BM_NlohmannBuildAndDestroy)->Unit(benchmark::kMillisecond);

void BM_NlohmannDeepCopy(benchmark::State& state) {
    nlohmann::json root;
    Build(root, SharedTexts());
    for (auto _ : state) {
        nlohmann::json copy(root);
        benchmark::DoNotOptimize(copy.size());
    }
    state.SetItemsProcessed(state.iterations() * kRecords);
}
BENCHMARK(BM_NlohmannDeepCopy)->Unit(benchmark::kMillisecond);

#endif

} // namespace
