// cStringBuilder against std::u16string for the ways the toolkit builds texts:
// single characters, short pieces, and a large text in 1 KB pieces.
#include <benchmark/benchmark.h>

#include <string>

#include "text/cStringBuilder.h"

using kestrola::cStringBuilder;

namespace {
constexpr int kOneChar = 10'000'000;
constexpr int kEightChars = 1'000'000;
constexpr int kKilobytePieces = 20 * 1024 * 1024 / 2048;  // 20 MB of UTF-16 in 1 KB pieces

const std::u16string kEight = u"abcdefgh";
const std::u16string kKilobyte(512, u'k');  // 512 UTF-16 code units = 1 KB

void BuilderOneChar(benchmark::State& state) {
  for (auto _ : state) {
    cStringBuilder b;
    for (int i = 0; i < kOneChar; ++i) b.Append(std::u16string_view(u"x", 1));
    benchmark::DoNotOptimize(b.Length());
  }
  state.SetItemsProcessed(state.iterations() * kOneChar);
}

void StringOneChar(benchmark::State& state) {
  for (auto _ : state) {
    std::u16string s;
    for (int i = 0; i < kOneChar; ++i) s.push_back(u'x');
    benchmark::DoNotOptimize(s.data());
  }
  state.SetItemsProcessed(state.iterations() * kOneChar);
}

void BuilderEightChars(benchmark::State& state) {
  for (auto _ : state) {
    cStringBuilder b;
    for (int i = 0; i < kEightChars; ++i) b.Append(kEight);
    benchmark::DoNotOptimize(b.Length());
  }
  state.SetItemsProcessed(state.iterations() * kEightChars);
}

void StringEightChars(benchmark::State& state) {
  for (auto _ : state) {
    std::u16string s;
    for (int i = 0; i < kEightChars; ++i) s.append(kEight);
    benchmark::DoNotOptimize(s.data());
  }
  state.SetItemsProcessed(state.iterations() * kEightChars);
}

void BuilderKilobytes(benchmark::State& state) {
  for (auto _ : state) {
    cStringBuilder b;
    for (int i = 0; i < kKilobytePieces; ++i) b.Append(kKilobyte);
    benchmark::DoNotOptimize(b.Length());
  }
  state.SetBytesProcessed(state.iterations() * kKilobytePieces * 1024);
}

void StringKilobytes(benchmark::State& state) {
  for (auto _ : state) {
    std::u16string s;
    for (int i = 0; i < kKilobytePieces; ++i) s.append(kKilobyte);
    benchmark::DoNotOptimize(s.data());
  }
  state.SetBytesProcessed(state.iterations() * kKilobytePieces * 1024);
}
}  // namespace

BENCHMARK(BuilderOneChar)->Unit(benchmark::kMillisecond);
BENCHMARK(StringOneChar)->Unit(benchmark::kMillisecond);
BENCHMARK(BuilderEightChars)->Unit(benchmark::kMillisecond);
BENCHMARK(StringEightChars)->Unit(benchmark::kMillisecond);
BENCHMARK(BuilderKilobytes)->Unit(benchmark::kMillisecond);
BENCHMARK(StringKilobytes)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
