// JsonBag against RapidJSON and nlohmann::ordered_json on the files of bench-data: parse from
// UTF-16 text, parse from UTF-8 (SetJSONUtf8, which decodes the strings to UTF-16 as it reads
// them: the conversion is counted), and compact serialization.
// Throughput is in bytes of the UTF-8 file. Memory held by a parsed document is reported once
// per file as the counter heap_per_byte (heap in use after parsing / UTF-8 size).

#include <benchmark/benchmark.h>
#include <malloc.h>
#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "json/JsonBag.h"
#include "runtime/Text.h"

namespace {

using kestrola::JsonBag;

struct Input {
  std::string name;
  std::string utf8;
  std::u16string utf16;
};

size_t HeapInUse() {
  return mallinfo2().uordblks;
}

void Report(benchmark::State& state, const Input& in, size_t heldBytes) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.utf8.size()));
  state.counters["heap_per_byte"] = static_cast<double>(heldBytes) / in.utf8.size();
}

void BagParseUtf16(benchmark::State& state, const Input* in) {
  for (auto _ : state) {
    JsonBag bag;
    bag.SetJSON(in->utf16);
    benchmark::DoNotOptimize(bag.Count());
  }
  size_t before = HeapInUse();
  auto bag = std::make_unique<JsonBag>();
  bag->SetJSON(in->utf16);
  Report(state, *in, HeapInUse() - before);
}

void BagParseUtf8(benchmark::State& state, const Input* in) {
  for (auto _ : state) {
    JsonBag bag;
    bag.SetJSONUtf8(in->utf8);
    benchmark::DoNotOptimize(bag.Count());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in->utf8.size()));
}

void BagSerialize(benchmark::State& state, const Input* in) {
  JsonBag bag;
  bag.SetJSON(in->utf16);
  for (auto _ : state) {
    std::u16string out = bag.JSON();
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in->utf8.size()));
}

constexpr unsigned kRapidFlags = rapidjson::kParseFullPrecisionFlag;

void RapidParse(benchmark::State& state, const Input* in) {
  for (auto _ : state) {
    rapidjson::Document doc;
    doc.Parse<kRapidFlags>(in->utf8.data(), in->utf8.size());
    benchmark::DoNotOptimize(doc.IsObject());
  }
  size_t before = HeapInUse();
  auto doc = std::make_unique<rapidjson::Document>();
  doc->Parse<kRapidFlags>(in->utf8.data(), in->utf8.size());
  Report(state, *in, HeapInUse() - before);
}

void RapidSerialize(benchmark::State& state, const Input* in) {
  rapidjson::Document doc;
  doc.Parse<kRapidFlags>(in->utf8.data(), in->utf8.size());
  for (auto _ : state) {
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    doc.Accept(writer);
    benchmark::DoNotOptimize(buffer.GetString());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in->utf8.size()));
}

void NlohmannParse(benchmark::State& state, const Input* in) {
  for (auto _ : state) {
    auto doc = nlohmann::ordered_json::parse(in->utf8);
    benchmark::DoNotOptimize(doc.size());
  }
  size_t before = HeapInUse();
  auto doc = std::make_unique<nlohmann::ordered_json>(nlohmann::ordered_json::parse(in->utf8));
  Report(state, *in, HeapInUse() - before);
}

void NlohmannSerialize(benchmark::State& state, const Input* in) {
  auto doc = nlohmann::ordered_json::parse(in->utf8);
  for (auto _ : state) {
    std::string out = doc.dump();
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in->utf8.size()));
}

}  // namespace

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  static std::vector<std::unique_ptr<Input>> inputs;
  fs::path dir = fs::path(KESTROLA_SHARED_DIR) / "bench-data";
  std::vector<fs::path> files;
  if (fs::is_directory(dir)) {
    for (const auto& e : fs::directory_iterator(dir)) {
      if (e.path().extension() == ".json") files.push_back(e.path());
    }
  }
  std::sort(files.begin(), files.end());
  for (const auto& f : files) {
    auto in = std::make_unique<Input>();
    in->name = f.stem().string();
    std::ifstream s(f, std::ios::binary);
    in->utf8.assign(std::istreambuf_iterator<char>(s), std::istreambuf_iterator<char>());
    in->utf16 = kestrola::Text::FromUtf8(in->utf8);
    const Input* p = in.get();
    const std::string& n = in->name;
    benchmark::RegisterBenchmark(("parse_utf16/JsonBag/" + n).c_str(), BagParseUtf16, p);
    benchmark::RegisterBenchmark(("parse_utf8/JsonBag/" + n).c_str(), BagParseUtf8, p);
    benchmark::RegisterBenchmark(("parse/RapidJSON/" + n).c_str(), RapidParse, p);
    benchmark::RegisterBenchmark(("parse/nlohmann/" + n).c_str(), NlohmannParse, p);
    benchmark::RegisterBenchmark(("serialize/JsonBag/" + n).c_str(), BagSerialize, p);
    benchmark::RegisterBenchmark(("serialize/RapidJSON/" + n).c_str(), RapidSerialize, p);
    benchmark::RegisterBenchmark(("serialize/nlohmann/" + n).c_str(), NlohmannSerialize, p);
    inputs.push_back(std::move(in));
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
