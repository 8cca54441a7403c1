// JsonBag against RapidJSON (full-precision numbers), nlohmann::json and simdjson's DOM on the
// documents of bench/data. Every row counts the UTF-8 size of the file as the bytes processed.
//
//   parse/LIB/FILE            UTF-8 text in (JsonBag: SetJSONUtf8, which decodes the strings
//                             to UTF-16 as it reads them; simdjson reuses its parser, as it is
//                             meant to be used). Counters held_bytes and peak_bytes: the heap
//                             the parsed document holds, and the most the parse had allocated.
//   parse_utf16/JsonBag/FILE  SetJSON from UTF-16 text
//   serialize/LIB/FILE        compact text out; JsonBag's is its UTF-16 JSON property
//   serialize_utf8/JsonBag/FILE  compact UTF-8 out (see CompactUtf8)

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "JsonBenchSupport.h"
#include "json/JsonBag.h"
#include "runtime/Text.h"

#if KESTROLA_HAVE_SIMDJSON
#include <simdjson.h>
#endif

namespace {

using kestrola::JsonBag;
using kestrola::bench::JsonFile;
using kestrola::bench::MeasureHeap;
using kestrola::bench::ReportBytes;
using kestrola::bench::ReportHeap;

// Compact UTF-8 output: JSONUtf8() where JsonBag has it, otherwise what a UTF-8 caller does
// without it, JSON() converted by Text::ToUtf8. The row's label says which one ran.
template <class Bag>
constexpr bool kHasJsonUtf8 = requires(const Bag& bag) {
  bag.JSONUtf8();
};

template <class Bag>
auto CompactUtf8(const Bag& bag) {
  if constexpr (kHasJsonUtf8<Bag>) {
    return bag.JSONUtf8();
  } else {
    return kestrola::Text::ToUtf8(bag.JSON());
  }
}

void BagParseUtf8(benchmark::State& state, const JsonFile* in) {
  for (auto _ : state) {
    JsonBag bag;
    bag.SetJSONUtf8(in->utf8);
    benchmark::DoNotOptimize(bag.Count());
  }
  ReportBytes(state, *in);
  ReportHeap(state, MeasureHeap([&] {
               auto bag = std::make_unique<JsonBag>();
               bag->SetJSONUtf8(in->utf8);
               return bag;
             }));
}

void BagParseUtf16(benchmark::State& state, const JsonFile* in) {
  std::u16string utf16 = kestrola::Text::FromUtf8(in->utf8);
  for (auto _ : state) {
    JsonBag bag;
    bag.SetJSON(utf16);
    benchmark::DoNotOptimize(bag.Count());
  }
  ReportBytes(state, *in);
}

void BagSerializeUtf16(benchmark::State& state, const JsonFile* in) {
  JsonBag bag;
  bag.SetJSONUtf8(in->utf8);
  for (auto _ : state) {
    std::u16string out = bag.JSON();
    benchmark::DoNotOptimize(out.data());
  }
  ReportBytes(state, *in);
}

void BagSerializeUtf8(benchmark::State& state, const JsonFile* in) {
  JsonBag bag;
  bag.SetJSONUtf8(in->utf8);
  for (auto _ : state) {
    auto out = CompactUtf8(bag);
    benchmark::DoNotOptimize(out.data());
  }
  ReportBytes(state, *in);
  if (!kHasJsonUtf8<JsonBag>) state.SetLabel("stand-in: ToUtf8(JSON())");
}

constexpr unsigned kRapidFlags = rapidjson::kParseFullPrecisionFlag;

std::unique_ptr<rapidjson::Document> RapidDocument(const JsonFile& in) {
  auto doc = std::make_unique<rapidjson::Document>();
  doc->Parse<kRapidFlags>(in.utf8.data(), in.utf8.size());
  return doc;
}

void RapidParse(benchmark::State& state, const JsonFile* in) {
  for (auto _ : state) {
    rapidjson::Document doc;
    doc.Parse<kRapidFlags>(in->utf8.data(), in->utf8.size());
    benchmark::DoNotOptimize(doc.IsObject());
  }
  if (RapidDocument(*in)->HasParseError()) return state.SkipWithError("parse error");
  ReportBytes(state, *in);
  ReportHeap(state, MeasureHeap([&] { return RapidDocument(*in); }));
}

void RapidSerialize(benchmark::State& state, const JsonFile* in) {
  auto doc = RapidDocument(*in);
  for (auto _ : state) {
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    doc->Accept(writer);
    benchmark::DoNotOptimize(buffer.GetString());
  }
  ReportBytes(state, *in);
}

void NlohmannParse(benchmark::State& state, const JsonFile* in) {
  for (auto _ : state) {
    auto doc = nlohmann::json::parse(in->utf8);
    benchmark::DoNotOptimize(doc.size());
  }
  ReportBytes(state, *in);
  ReportHeap(state, MeasureHeap([&] {
               return std::make_unique<nlohmann::json>(nlohmann::json::parse(in->utf8));
             }));
}

void NlohmannSerialize(benchmark::State& state, const JsonFile* in) {
  auto doc = nlohmann::json::parse(in->utf8);
  for (auto _ : state) {
    std::string out = doc.dump();
    benchmark::DoNotOptimize(out.data());
  }
  ReportBytes(state, *in);
}

#if KESTROLA_HAVE_SIMDJSON
// simdjson reads from a padded copy of the text, made once, outside the timing.
void SimdParse(benchmark::State& state, const JsonFile* in) {
  simdjson::padded_string text(in->utf8);
  simdjson::dom::parser parser;
  for (auto _ : state) {
    simdjson::dom::element doc;
    if (parser.parse(text).get(doc) != simdjson::SUCCESS) return state.SkipWithError("parse error");
    benchmark::DoNotOptimize(doc);
  }
  ReportBytes(state, *in);
  // A fresh parser holds the document: its tape and string buffer.
  ReportHeap(state, MeasureHeap([&] {
               auto fresh = std::make_unique<simdjson::dom::parser>();
               simdjson::dom::element doc;
               benchmark::DoNotOptimize(fresh->parse(text).get(doc));
               return fresh;
             }));
}

void SimdSerialize(benchmark::State& state, const JsonFile* in) {
  simdjson::padded_string text(in->utf8);
  simdjson::dom::parser parser;
  simdjson::dom::element doc;
  if (parser.parse(text).get(doc) != simdjson::SUCCESS) return state.SkipWithError("parse error");
  for (auto _ : state) {
    std::string out = simdjson::minify(doc);
    benchmark::DoNotOptimize(out.data());
  }
  ReportBytes(state, *in);
}
#endif

template <class Fn>
void Register(const std::string& name, Fn fn, const JsonFile* in) {
  benchmark::RegisterBenchmark(name.c_str(), fn, in)->Unit(benchmark::kMillisecond);
}

}  // namespace

int main(int argc, char** argv) {
  if (!kestrola::bench::PrepareJsonRun()) return 1;
  for (const JsonFile& f : kestrola::bench::JsonFiles()) {
    const JsonFile* in = &f;
    Register("parse/JsonBag/" + f.name, BagParseUtf8, in);
    Register("parse/RapidJSON/" + f.name, RapidParse, in);
    Register("parse/nlohmann/" + f.name, NlohmannParse, in);
#if KESTROLA_HAVE_SIMDJSON
    Register("parse/simdjson/" + f.name, SimdParse, in);
#endif
    Register("parse_utf16/JsonBag/" + f.name, BagParseUtf16, in);
    Register("serialize/JsonBag/" + f.name, BagSerializeUtf16, in);
    Register("serialize_utf8/JsonBag/" + f.name, BagSerializeUtf8, in);
    Register("serialize/RapidJSON/" + f.name, RapidSerialize, in);
    Register("serialize/nlohmann/" + f.name, NlohmannSerialize, in);
#if KESTROLA_HAVE_SIMDJSON
    Register("serialize/simdjson/" + f.name, SimdSerialize, in);
#endif
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
