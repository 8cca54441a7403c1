// One simulated terminal for the load benchmark (bench/load.py): the real queue cycle, once a
// second as the window's timer runs it, with its own database connection, printing to a file:
// printer of its own.
//
//   load_terminal APP_DIR TERMINAL SERVER DATABASE USER PASSWORD
//
// APP_DIR holds printers.ini (printer "P<TERMINAL>") and receives the log and delivered.txt.
// Every job line "KJOB <id> <terminal> <insert ms>" that reaches the printer's file is
// recorded in delivered.txt as "<id> <terminal> <insert ms> <printed ms> <resumed ms>":
// printed when the cycle starts its pause after the job (the job printed and deleted), resumed
// when that one-second pause is over. Times are milliseconds of the system clock. Runs until
// SIGTERM or SIGINT, then ends after the current cycle.
#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>

#include "runtime/Application.h"
#include "runtime/Text.h"
#include "service/CicloCola.h"
#include "service/Servicio.h"

namespace {

std::atomic<bool> stop{false};

void OnSignal(int) {
  stop = true;
}

long long NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// Reads what the printer's file gained since the last call and records its job markers.
class Deliveries {
 public:
  Deliveries(std::string printed, std::string record)
      : printed_(std::move(printed)), record_(std::fopen(record.c_str(), "a")) {}
  ~Deliveries() {
    if (record_) std::fclose(record_);
  }

  // Records the jobs that reached the printer since the last call: `printed` is when the
  // cycle finished them, `resumed` when its pause after them ended.
  void Scan(long long printed, long long resumed) {
    std::ifstream in(printed_, std::ios::binary);
    if (!in) return;
    in.seekg(static_cast<std::streamoff>(offset_));
    std::string fresh((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    offset_ += fresh.size();
    pending_ += fresh;
    size_t at;
    while ((at = pending_.find("KJOB ")) != std::string::npos) {
      size_t end = pending_.find('\n', at);
      if (end == std::string::npos) break;  // the rest of the line is still to come
      long long id = 0, terminal = 0, inserted = 0;
      if (std::sscanf(pending_.c_str() + at, "KJOB %lld %lld %lld", &id, &terminal, &inserted) ==
              3 &&
          record_) {
        std::fprintf(record_, "%lld %lld %lld %lld %lld\n", id, terminal, inserted, printed,
                     resumed);
        std::fflush(record_);
      }
      pending_.erase(0, end + 1);
    }
    if (pending_.size() > 4096) pending_.erase(0, pending_.size() - 64);
  }

 private:
  std::string printed_;
  std::FILE* record_;
  size_t offset_ = 0;
  std::string pending_;
};

}  // namespace

int main(int argc, char** argv) {
  using namespace kestrola;
  if (argc != 7) {
    std::fprintf(stderr, "usage: load_terminal APP_DIR TERMINAL SERVER DATABASE USER PASSWORD\n");
    return 2;
  }
  const std::string app = argv[1];
  const int terminal = std::atoi(argv[2]);
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);

  Application::SetPath(Text::FromUtf8(app));
  Servicio datos;
  datos.ServerDB = Text::FromUtf8(argv[3]);
  datos.NameDB = Text::FromUtf8(argv[4]);
  datos.UserDB = Text::FromUtf8(argv[5]);
  datos.PwdDB = Text::FromUtf8(argv[6]);
  datos.Terminal = static_cast<int16_t>(terminal);
  datos.ConsultaCola = Servicio::ConstruirConsultaCola(datos.Terminal);
  datos.Activo = true;

  Deliveries deliveries(app + "/printed.bin", app + "/delivered.txt");
  CicloCola ciclo([&](std::chrono::milliseconds pause) {
    const long long printed = NowMs();
    std::this_thread::sleep_for(pause);
    deliveries.Scan(printed, NowMs());
  });

  // The window's timer: a tick every second; a tick that falls due while a cycle runs comes
  // as soon as the cycle ends, and the ticks after it keep their one-second rhythm.
  using Clock = std::chrono::steady_clock;
  constexpr auto kTick = std::chrono::milliseconds(1000);
  auto next = Clock::now() + kTick;
  while (!stop) {
    std::this_thread::sleep_until(next);
    if (stop) break;
    next += kTick;
    if (next < Clock::now()) next = Clock::now() + kTick;
    ciclo.Ejecutar(datos);
  }
  return 0;
}
