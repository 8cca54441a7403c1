#pragma once

// What the JSON benchmarks share: the documents of bench/data and a heap meter.

#include <benchmark/benchmark.h>

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace kestrola::bench {

struct JsonFile {
  std::string name;  // file name without ".json"
  std::string utf8;  // the file's bytes
};

// Fixes glibc's heap thresholds for the whole run: no memory is given back to the system between
// iterations and large blocks come from the heap as well. By default glibc trims the heap and
// moves its mmap threshold as blocks come and go, so a library's time depended on which
// benchmarks ran before it (up to 4x for one that frees a large tree each iteration); with
// fixed thresholds every library runs on a warm heap, as in a long-running program.
// The environment variable BENCH_DEFAULT_HEAP=1 leaves glibc's policy as it is.
void UseSteadyHeap();

// Every *.json of the benchmark data folder, sorted by name. Empty when the folder is missing.
const std::vector<JsonFile>& JsonFiles();

// What every JSON benchmark program does first: false, after saying so on standard error, when
// there are no documents to measure; otherwise fixes the heap (UseSteadyHeap) and returns true.
bool PrepareJsonRun();

// The heap a piece of work leaves allocated and the most it had allocated at once, in bytes of
// usable block size. Every malloc of the program is counted (operator new included), so
// libraries that allocate with malloc (RapidJSON) and with new (the others) are measured alike.
struct HeapUse {
  size_t held = 0;
  size_t peak = 0;
};

// True when this build counts allocations (not under a sanitizer, which owns malloc itself).
bool HeapMeterAvailable();

// Runs `build`, which returns an owner of what it built, and measures the heap between its
// start and its end. The result is released after the measurement, outside it.
template <class Build>
HeapUse MeasureHeap(Build&& build);

// Adds held_bytes and peak_bytes to the benchmark's counters (nothing without a heap meter).
void ReportHeap(benchmark::State& state, const HeapUse& use);

// The bytes processed per iteration: the UTF-8 size of the file, for every library and row.
void ReportBytes(benchmark::State& state, const JsonFile& file);

namespace detail {
void StartCounting();
HeapUse StopCounting();
}  // namespace detail

template <class Build>
HeapUse MeasureHeap(Build&& build) {
  detail::StartCounting();
  auto owner = build();
  HeapUse use = detail::StopCounting();
  benchmark::DoNotOptimize(owner);
  return use;
}

}  // namespace kestrola::bench
