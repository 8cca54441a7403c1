#include "JsonBenchSupport.h"

#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define KESTROLA_HEAP_METER 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || \
    __has_feature(memory_sanitizer)
#define KESTROLA_HEAP_METER 0
#endif
#endif
#ifndef KESTROLA_HEAP_METER
#define KESTROLA_HEAP_METER 1
#endif

namespace kestrola::bench {

const std::vector<JsonFile>& JsonFiles() {
  static const std::vector<JsonFile> files = [] {
    namespace fs = std::filesystem;
    std::vector<JsonFile> out;
    fs::path dir = fs::path(KESTROLA_SOURCE_DIR) / "bench" / "data";
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(dir, ec)) {
      if (e.path().extension() != ".json") continue;
      std::ifstream s(e.path(), std::ios::binary);
      out.push_back({e.path().stem().string(), std::string(std::istreambuf_iterator<char>(s),
                                                           std::istreambuf_iterator<char>())});
    }
    std::sort(out.begin(), out.end(),
              [](const JsonFile& a, const JsonFile& b) { return a.name < b.name; });
    return out;
  }();
  return files;
}

bool PrepareJsonRun() {
  if (JsonFiles().empty()) {
    std::fprintf(stderr, "no JSON documents in %s/bench/data\n", KESTROLA_SOURCE_DIR);
    return false;
  }
  UseSteadyHeap();
  return true;
}

void UseSteadyHeap() {
  // BENCH_DEFAULT_HEAP=1 keeps glibc's own policy, to see what it costs each library.
  const char* keep = std::getenv("BENCH_DEFAULT_HEAP");
  if (keep != nullptr && *keep != '\0' && *keep != '0') return;
  mallopt(M_TRIM_THRESHOLD, 1 << 30);
  mallopt(M_MMAP_THRESHOLD, 32 << 20);  // glibc's largest
}

void ReportHeap(benchmark::State& state, const HeapUse& use) {
  if (!HeapMeterAvailable()) return;
  state.counters["held_bytes"] = static_cast<double>(use.held);
  state.counters["peak_bytes"] = static_cast<double>(use.peak);
}

void ReportBytes(benchmark::State& state, const JsonFile& file) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(file.utf8.size()));
}

bool HeapMeterAvailable() {
  return KESTROLA_HEAP_METER != 0;
}

}  // namespace kestrola::bench

#if KESTROLA_HEAP_METER

// The heap meter replaces malloc and its relatives for the whole program and forwards them to
// glibc's own allocator. Outside a measurement it only tests one flag. While counting, each
// block adds its usable size on allocation and takes it away on release; a block allocated
// before the measurement and released during it makes the count smaller, which is why the
// count is signed and the measured work starts from what it is given.
extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void* __libc_memalign(size_t, size_t);
void __libc_free(void*);
}

namespace {

std::atomic<bool> gCounting{false};
std::atomic<int64_t> gCurrent{0};
std::atomic<int64_t> gPeak{0};

void Add(void* p) {
  if (p == nullptr) return;
  const auto size = static_cast<int64_t>(malloc_usable_size(p));
  int64_t now = gCurrent.fetch_add(size, std::memory_order_relaxed) + size;
  int64_t peak = gPeak.load(std::memory_order_relaxed);
  while (now > peak && !gPeak.compare_exchange_weak(peak, now, std::memory_order_relaxed)) {
  }
}

void Take(void* p) {
  if (p == nullptr) return;
  gCurrent.fetch_sub(static_cast<int64_t>(malloc_usable_size(p)), std::memory_order_relaxed);
}

bool Counting() {
  return gCounting.load(std::memory_order_relaxed);
}

}  // namespace

namespace kestrola::bench::detail {

void StartCounting() {
  gCurrent.store(0, std::memory_order_relaxed);
  gPeak.store(0, std::memory_order_relaxed);
  gCounting.store(true, std::memory_order_seq_cst);
}

HeapUse StopCounting() {
  gCounting.store(false, std::memory_order_seq_cst);
  int64_t held = gCurrent.load(std::memory_order_relaxed);
  int64_t peak = gPeak.load(std::memory_order_relaxed);
  return {static_cast<size_t>(std::max<int64_t>(held, 0)),
          static_cast<size_t>(std::max<int64_t>(peak, 0))};
}

}  // namespace kestrola::bench::detail

extern "C" {

void* malloc(size_t size) noexcept {
  void* p = __libc_malloc(size);
  if (Counting()) Add(p);
  return p;
}

void* calloc(size_t n, size_t size) noexcept {
  void* p = __libc_calloc(n, size);
  if (Counting()) Add(p);
  return p;
}

void* realloc(void* old, size_t size) noexcept {
  if (!Counting()) return __libc_realloc(old, size);
  Take(old);
  void* p = __libc_realloc(old, size);
  // A failed realloc keeps the old block.
  Add(p != nullptr || size == 0 ? p : old);
  return p;
}

void free(void* p) noexcept {
  if (Counting()) Take(p);
  __libc_free(p);
}

void* memalign(size_t alignment, size_t size) noexcept {
  void* p = __libc_memalign(alignment, size);
  if (Counting()) Add(p);
  return p;
}

void* aligned_alloc(size_t alignment, size_t size) noexcept {
  return memalign(alignment, size);
}

int posix_memalign(void** out, size_t alignment, size_t size) noexcept {
  if (alignment % sizeof(void*) != 0 || (alignment & (alignment - 1)) != 0) return EINVAL;
  void* p = memalign(alignment, size);
  if (p == nullptr) return ENOMEM;
  *out = p;
  return 0;
}

}  // extern "C"

#else

namespace kestrola::bench::detail {
void StartCounting() {}
HeapUse StopCounting() {
  return {};
}
}  // namespace kestrola::bench::detail

#endif
