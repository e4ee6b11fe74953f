// Converting a value tree of about 100 000 mixed nodes to the host's value records and back, and
// releasing the records.

#include <cstdint>
#include <string>

#include <benchmark/benchmark.h>

#include "binding/binding_property.h"
#include "binding/host_value_conversion.h"

namespace {

constexpr int kRecords = 8000; // 12.5 nodes per record: about 100 000 nodes

Korvel::BindingProperty MakeTree() {
    Korvel::BindingProperty root;
    Korvel::BindingProperty& items = root.Member("items");
    items.Reserve(kRecords);
    for (int i = 0; i < kRecords; ++i) {
        Korvel::BindingProperty& item = items.Append();
        item.Member("id") = i;
        item.Member("name") = "item-" + std::to_string(i);
        item.Member("ratio") = i * 0.25;
        item.Member("enabled") = (i & 1) != 0;
        item.Member("note") = std::string(i % 5 == 0 ? 40 : 10, static_cast<char>('a' + i % 26));
        item.Member("size") = std::uint64_t{1} << (i % 40);
        Korvel::BindingProperty& tags = item.Member("tags");
        tags.Append() = "common";
        tags.Append() = -i;
        tags.Append();
        item.Member("parent").Member("level") = i % 3;
    }
    return root;
}

const Korvel::BindingProperty& SharedTree() {
    static const Korvel::BindingProperty tree = MakeTree();
    return tree;
}

void BM_ToHostValueAndRelease(benchmark::State& state) {
    const Korvel::BindingProperty& tree = SharedTree();
    for (auto _ : state) {
        Korvel::HostValue value = Korvel::MakeEmptyHostValue();
        Korvel::ToHostValue(value, tree, nullptr);
        benchmark::DoNotOptimize(value.kind);
        Korvel::ReleaseHostValue(value);
    }
}
BENCHMARK(BM_ToHostValueAndRelease)->Unit(benchmark::kMillisecond);

void BM_FromHostValue(benchmark::State& state) {
    Korvel::HostValue value = Korvel::MakeEmptyHostValue();
    Korvel::ToHostValue(value, SharedTree(), nullptr);
    for (auto _ : state) {
        Korvel::HostValueResult error;
        Korvel::BindingProperty target;
        const bool converted = Korvel::FromHostValue(error, target, value, "<result>");
        benchmark::DoNotOptimize(converted);
    }
    Korvel::ReleaseHostValue(value);
}
BENCHMARK(BM_FromHostValue)->Unit(benchmark::kMillisecond);

} // namespace
