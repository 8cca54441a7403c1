// The activity log and the configuration file: the cost of one log line (open, append, close),
// of reading a whole day's file for the window, and of reading one setting.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "log/Log.h"
#include "runtime/Application.h"
#include "runtime/Text.h"
#include "service/INI.h"

namespace {

namespace fs = std::filesystem;
using namespace kestrola;

fs::path Scratch(const char* name) {
  fs::path dir = fs::temp_directory_path() / ("kestrola-bench-" + std::to_string(getpid()) + name);
  fs::remove_all(dir);
  fs::create_directories(dir);
  Application::SetPath(Text::FromUtf8(dir.string()));
  return dir;
}

void BM_EscribirLog(benchmark::State& state) {
  fs::path dir = Scratch("write");
  for (auto _ : state) {
    Log::EscribirLog(u"-2147467259[Microsoft][ODBC SQL Server Driver]Login failed08001");
  }
  state.SetItemsProcessed(state.iterations());
  fs::remove_all(dir);
}
BENCHMARK(BM_EscribirLog);

// Reading a whole day's file for the window, as at each click: 1,000 and 100,000 lines.
void BM_LeerLog(benchmark::State& state) {
  fs::path dir = Scratch("read");
  {
    std::ofstream out(Text::ToUtf8(Log::NombreArchivo(std::chrono::system_clock::now())),
                      std::ios::binary);
    out << "\r\n";
    for (int64_t i = 0; i < state.range(0); ++i) {
      out << "2026-12-08 10:00:00Error desconocido en Timer\r\n";
    }
  }
  size_t chars = 0;
  for (auto _ : state) {
    std::u16string text = Log::LeerLog();
    chars = text.size();
    benchmark::DoNotOptimize(text);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(chars) * 2);
  fs::remove_all(dir);
}
BENCHMARK(BM_LeerLog)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_LeerINI(benchmark::State& state) {
  fs::path dir = Scratch("ini");
  std::u16string file = Text::FromUtf8((dir / "config.ini").string());
  for (const char16_t* key : {u"ServicioActivo", u"ServerDB", u"NameDB", u"UserDB", u"PwdDB"}) {
    INI::EscribirINI(file, u"Kestrola", key, u"valor");
  }
  INI::EscribirINI(file, u"Kestrola", u"Terminal", u"1");
  for (auto _ : state) {
    benchmark::DoNotOptimize(INI::LeerINI(file, u"Kestrola", u"Terminal", u"1"));
  }
  fs::remove_all(dir);
}
BENCHMARK(BM_LeerINI);

}  // namespace

BENCHMARK_MAIN();
