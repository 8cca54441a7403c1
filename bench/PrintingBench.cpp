// Receipt printing speed: markup lines to ESC/POS, the test receipt, reading bytes back.
#include <benchmark/benchmark.h>

#include <memory>

#include "printing/EscPosReader.h"
#include "printing/Printers.h"
#include "printing/RecordingDestination.h"
#include "printing/clsPrint.h"

using namespace kestrola;

namespace {
std::shared_ptr<RecordingDestination> Install() {
  auto dest = std::make_shared<RecordingDestination>();
  Printers::SetInstalledForTesting(
      std::vector<std::shared_ptr<Printer>>{std::make_shared<Printer>(u"Bench", dest)});
  clsPrint().setPrinter(u"Bench");
  return dest;
}

void BM_PrintTextReceipt(benchmark::State& state) {
  auto dest = Install();
  clsPrint print;
  for (auto _ : state) {
    for (int i = 0; i < 20; ++i) {
      std::u16string line = u"<B>2 x Caf\u00e9 con leche</B>      $7.00<N><S>nota</S>";
      print.PrintText(line);
    }
    std::u16string cut = u"<CORTE>";
    print.PrintText(cut);
    print.EndDoc();
    dest->documents.clear();
  }
  state.SetItemsProcessed(state.iterations() * 21);
}
BENCHMARK(BM_PrintTextReceipt);

void BM_TestReceipt(benchmark::State& state) {
  auto dest = Install();
  clsPrint print;
  for (auto _ : state) {
    print.PrintTest();
    dest->documents.clear();
  }
}
BENCHMARK(BM_TestReceipt);

void BM_ReadTestReceipt(benchmark::State& state) {
  auto dest = Install();
  clsPrint().PrintTest();
  const std::string bytes = dest->documents.at(0).bytes;
  for (auto _ : state) benchmark::DoNotOptimize(EscPosReader::Read(bytes));
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes.size()));
}
BENCHMARK(BM_ReadTestReceipt);
}  // namespace
BENCHMARK_MAIN();
