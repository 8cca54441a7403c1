// JSON::ParseJson against nlohmann::ordered_json::parse on the public benchmark documents.
// Both start from the UTF-8 bytes of the file; our time includes the conversion to UTF-16.
#include <benchmark/benchmark.h>

#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <string>

#include "jsonscript/JSON.h"
#include "runtime/Text.h"

namespace {

const char* const kFiles[] = {"canada.json",    "citm_catalog.json", "gsoc-2018.json",
                              "marine_ik.json", "mesh.json",         "twitter.json"};

std::string Load(const char* name) {
  std::ifstream in(std::string(KESTROLA_SHARED_DIR) + "/bench-data/" + name, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void ParseJsonBench(benchmark::State& state, const char* name) {
  std::string bytes = Load(name);
  if (bytes.empty()) {
    state.SkipWithError("bench data missing");
    return;
  }
  for (auto _ : state) {
    std::u16string text = kestrola::Text::FromUtf8(bytes);
    kestrola::ObjectRef root = kestrola::JSON::ParseJson(text);
    benchmark::DoNotOptimize(root);
  }
  if (!kestrola::JSON::LastParseErrors().empty()) state.SkipWithError("parse errors");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(bytes.size()));
}

void NlohmannBench(benchmark::State& state, const char* name) {
  std::string bytes = Load(name);
  if (bytes.empty()) {
    state.SkipWithError("bench data missing");
    return;
  }
  for (auto _ : state) {
    auto doc = nlohmann::ordered_json::parse(bytes);
    benchmark::DoNotOptimize(doc);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(bytes.size()));
}

int Register() {
  for (const char* f : kFiles) {
    benchmark::RegisterBenchmark((std::string("ParseJson/") + f).c_str(), ParseJsonBench, f)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark((std::string("nlohmann_ordered/") + f).c_str(), NlohmannBench, f)
        ->Unit(benchmark::kMillisecond);
  }
  return 0;
}
const int kRegistered = Register();

}  // namespace

BENCHMARK_MAIN();
