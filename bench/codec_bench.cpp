#include "protocol/codec.h"

#include <benchmark/benchmark.h>
#include <nlohmann/json.hpp>

namespace {

using namespace orvane;

const std::string runJson =
    R"({"run":{"id":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F","command":{"keyShortcut":{"_0":{"key":"c","modifiers":["command","shift"]}}}}})";

void BM_DecodeRun(benchmark::State& state)
{
    for (auto _ : state) {
        auto message = decodeMessage(asBytes(runJson));
        benchmark::DoNotOptimize(message);
    }
}
BENCHMARK(BM_DecodeRun);

// The floor: building the JSON tree alone, without typed decoding.
void BM_ParseRunJsonOnly(benchmark::State& state)
{
    for (auto _ : state) {
        auto json = nlohmann::json::parse(runJson);
        benchmark::DoNotOptimize(json);
    }
}
BENCHMARK(BM_ParseRunJsonOnly);

void BM_EncodeResult(benchmark::State& state)
{
    OrvaneMessage result =
        msg::Result{*Uuid::parse("E621E1F8-C36C-495A-93FC-0C247A3E6E5F"), true, "Pressed ⌘⇧C"};
    for (auto _ : state) {
        auto json = encodeMessage(result);
        benchmark::DoNotOptimize(json);
    }
}
BENCHMARK(BM_EncodeResult);

void BM_EncodeMacInfo(benchmark::State& state)
{
    MacInfo info{"Desk",
                 "ThinkPad X1 Carbon Gen 11",
                 "21HM",
                 "13th Gen Intel(R) Core(TM) i7-1365U",
                 32LL << 30,
                 "Debian GNU/Linux 12 (bookworm)",
                 87,
                 true,
                 true,
                 120LL << 30,
                 512LL << 30,
                 86400.5,
                 Bytes(static_cast<std::size_t>(state.range(0)), 0x5A)};
    OrvaneMessage message = msg::Info{info};
    for (auto _ : state) {
        auto json = encodeMessage(message);
        benchmark::DoNotOptimize(json);
    }
}
BENCHMARK(BM_EncodeMacInfo)->Arg(0)->Arg(40'000);

} // namespace
