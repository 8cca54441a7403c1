// JSON::ParseJson against nlohmann::ordered_json::parse (which also keeps member order) on the
// documents of bench/data. Both start from the UTF-8 bytes of the file: our time includes the
// conversion to UTF-16 that ParseJson's callers make. The counters held_bytes and peak_bytes
// measure the tree alone, from text that is already UTF-16 (the text is input, not tree).
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "JsonBenchSupport.h"
#include "jsonscript/JSON.h"
#include "runtime/Text.h"

namespace {

using kestrola::bench::JsonFile;
using kestrola::bench::MeasureHeap;
using kestrola::bench::ReportBytes;
using kestrola::bench::ReportHeap;

void ParseJsonBench(benchmark::State& state, const JsonFile* in) {
  for (auto _ : state) {
    std::u16string text = kestrola::Text::FromUtf8(in->utf8);
    kestrola::ObjectRef root = kestrola::JSON::ParseJson(text);
    benchmark::DoNotOptimize(root);
  }
  if (!kestrola::JSON::LastParseErrors().empty()) return state.SkipWithError("parse errors");
  ReportBytes(state, *in);
  std::u16string text = kestrola::Text::FromUtf8(in->utf8);
  ReportHeap(state, MeasureHeap([&] { return kestrola::JSON::ParseJson(text); }));
}

void NlohmannOrderedBench(benchmark::State& state, const JsonFile* in) {
  for (auto _ : state) {
    auto doc = nlohmann::ordered_json::parse(in->utf8);
    benchmark::DoNotOptimize(doc);
  }
  ReportBytes(state, *in);
  ReportHeap(
      state, MeasureHeap([&] {
        return std::make_unique<nlohmann::ordered_json>(nlohmann::ordered_json::parse(in->utf8));
      }));
}

}  // namespace

int main(int argc, char** argv) {
  if (!kestrola::bench::PrepareJsonRun()) return 1;
  for (const JsonFile& f : kestrola::bench::JsonFiles()) {
    benchmark::RegisterBenchmark(("parse/JSON.ParseJson/" + f.name).c_str(), ParseJsonBench, &f)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("parse/nlohmann_ordered/" + f.name).c_str(), NlohmannOrderedBench,
                                 &f)
        ->Unit(benchmark::kMillisecond);
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
