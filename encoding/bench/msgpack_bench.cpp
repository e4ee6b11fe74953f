// MessagePack decoding of a ~1 MB service-status document: the library's decoder beside
// msgpack-cxx unpacking the same bytes.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "encoding/bench/decoder_bench_document.h"
#include "encoding/msgpack_decoder.h"

#if defined(KORVEL_HAVE_MSGPACK_CXX)
#include <msgpack.hpp>
#endif

namespace {

const std::vector<std::uint8_t>& MsgPackDocument() {
    static const std::vector<std::uint8_t> bytes = Korvel::Bench::StatusDocumentMsgPack(
        Korvel::Bench::MakeBenchMessages(Korvel::Bench::kBenchMessages));
    return bytes;
}

void BM_MsgPackDecode(benchmark::State& state) {
    const std::vector<std::uint8_t>& bytes = MsgPackDocument();
    for (auto _ : state) {
        std::size_t used = 0;
        Korvel::BindingResult result = Korvel::DecodeMessagePack(bytes.data(), bytes.size(), used);
        if (!result.IsSuccess() || used != bytes.size() ||
            result.value.Member("messages").Size() != Korvel::Bench::kBenchMessages) {
            state.SkipWithError("decoding failed");
            break;
        }
        benchmark::DoNotOptimize(result);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
    state.counters["document_bytes"] = static_cast<double>(bytes.size());
}
BENCHMARK(BM_MsgPackDecode)->Unit(benchmark::kMillisecond);

// Building and destroying the decoded tree directly, without any decoding: the floor of a
// decoder into BindingProperty.
void BM_StatusTreeBuild(benchmark::State& state) {
    const std::vector<Korvel::Bench::BenchMessage> messages =
        Korvel::Bench::MakeBenchMessages(Korvel::Bench::kBenchMessages);
    for (auto _ : state) {
        Korvel::BindingProperty root;
        Korvel::Bench::BuildStatusTree(messages, root);
        benchmark::DoNotOptimize(root);
    }
}
BENCHMARK(BM_StatusTreeBuild)->Unit(benchmark::kMillisecond);

#if defined(KORVEL_HAVE_MSGPACK_CXX)
void BM_MsgPackCxxUnpack(benchmark::State& state) {
    const std::vector<std::uint8_t>& bytes = MsgPackDocument();
    for (auto _ : state) {
        msgpack::object_handle handle =
            msgpack::unpack(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        if (handle.get().type != msgpack::type::MAP) {
            state.SkipWithError("unpacking failed");
            break;
        }
        benchmark::DoNotOptimize(handle);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
    state.counters["document_bytes"] = static_cast<double>(bytes.size());
}
BENCHMARK(BM_MsgPackCxxUnpack)->Unit(benchmark::kMillisecond);
#endif

} // namespace
