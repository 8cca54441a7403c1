// The built program as the operator runs it, on Qt's offscreen platform, against a queue on the
// private PostgreSQL with a folder printer: killed in the middle of a queue and started again,
// started with a config.ini that cannot be read or holds garbage, and with a log that cannot
// be written.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "log/Log.h"
#include "service/INI.h"
#include "tests/faults/FaultEnv.h"

namespace kestrola {
namespace {

using namespace std::chrono_literals;

class ProcessFaultTest : public FaultEnv {
 protected:
  void SetUp() override {
    FaultEnv::SetUp();
    // A name of its own, so that no other copy of the program on this machine is counted.
    exe_ = app_ / ("kfault" + std::to_string(getpid()));
    fs::copy_file(fs::path(KESTROLA_BINARY_DIR) / "kestrola", exe_);
    for (const char* image : {"start.jpg", "start_down.jpg", "stop.jpg", "stop_down.jpg"}) {
      fs::copy_file(fs::path(KESTROLA_SOURCE_DIR) / "assets" / image, app_ / image);
    }
    InstallPrinters({"Caja"});
    AddPrinter(1, "Caja");
  }
  void TearDown() override {
    if (pid_ > 0) Kill(SIGKILL);
    FaultEnv::TearDown();
  }

  // config.ini with the settings of the test's queue database.
  std::string Settings(const std::string& terminal = "1") const {
    return "[Kestrola]\nServicioActivo=1\nServerDB=" + Text::ToUtf8(target_.server) +
           "\nNameDB=" + Text::ToUtf8(target_.database) + "\nUserDB=" + Text::ToUtf8(target_.user) +
           "\nPwdDB=" + Text::ToUtf8(target_.password) + "\nTerminal=" + terminal + "\n";
  }
  void WriteConfig(const std::string& bytes) const {
    std::ofstream(app_ / "config.ini", std::ios::binary | std::ios::trunc) << bytes;
  }

  void Start() {
    pid_ = fork();
    if (pid_ == 0) {
      setenv("QT_QPA_PLATFORM", "offscreen", 1);
      int devnull = open("/dev/null", O_WRONLY);
      if (devnull >= 0) dup2(devnull, 2);
      execl(exe_.c_str(), exe_.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
  }
  // The process's wait status once it has ended, or -1 while it still runs after `limit`.
  int WaitEnd(std::chrono::milliseconds limit) {
    auto end = std::chrono::steady_clock::now() + limit;
    do {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return status;
      }
      std::this_thread::sleep_for(10ms);
    } while (std::chrono::steady_clock::now() < end);
    return -1;
  }
  void Kill(int signal) {
    kill(pid_, signal);
    WaitEnd(10s);
  }

  bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
      if (std::chrono::steady_clock::now() > end) return false;
      std::this_thread::sleep_for(5ms);
    }
    return true;
  }

  // How many documents printed each job, by the "FIN-n-FIN" text its last line holds.
  std::map<int, int> PrintedPerJob(int jobs) const {
    std::map<int, int> count;
    std::vector<std::string> docs = Printed("Caja");
    for (int job = 1; job <= jobs; ++job) {
      count[job] = CountContaining(docs, "FIN-" + std::to_string(job) + "-FIN");
    }
    return count;
  }

  fs::path exe_;
  pid_t pid_ = -1;
};

TEST_F(ProcessFaultTest, KilledMidQueueAndStartedAgainPrintsEveryJobAtMostOneTwice) {
  constexpr int kJobs = 8;
  for (int job = 1; job <= kJobs; ++job) {
    AddJob(job, 1,
           {"<XH>TICKET " + std::to_string(job) + "</XH>", "Total 1,00", "<CORTE>",
            "FIN-" + std::to_string(job) + "-FIN"});
  }
  WriteConfig(Settings());

  Start();
  // Killed right after its third document appears: inside that job, between the document
  // and its deletes, or in the pause after it.
  ASSERT_TRUE(WaitUntil([&] { return Printed("Caja").size() >= 3; }, 30s)) << LogText();
  kill(pid_, SIGKILL);
  int status = WaitEnd(10s);
  ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
  size_t printedBeforeKill = Printed("Caja").size();
  EXPECT_LT(printedBeforeKill, static_cast<size_t>(kJobs));

  Start();
  ASSERT_TRUE(WaitUntil([&] { return Jobs().empty(); }, 40s)) << LogText();
  std::this_thread::sleep_for(1500ms);  // a job printed twice would show by now
  EXPECT_EQ(WaitEnd(0ms), -1) << "the service keeps running";
  Kill(SIGTERM);

  std::map<int, int> printed = PrintedPerJob(kJobs);
  int twice = 0;
  for (auto [job, times] : printed) {
    EXPECT_GE(times, 1) << "job " << job << " lost";
    EXPECT_LE(times, 2) << "job " << job;
    twice += times == 2;
  }
  EXPECT_LE(twice, 1);
  if (std::getenv("KESTROLA_SHOW_LOG") != nullptr) {
    std::printf("documents before the kill: %zu, jobs printed twice: %d\n", printedBeforeKill,
                twice);
  }
  EXPECT_LE(Printed("Caja").size(), static_cast<size_t>(kJobs + 1));
  EXPECT_TRUE(Column(u"select idtrabajo from detallecolaimpresion").empty());
  EXPECT_FALSE(Logged("Error")) << LogText();
}

// config.ini as something other than settings. Garbage inside a file: the program keeps running
// on the default of every key it cannot read, writes the settings it went on with back, and
// its service tries the server they name (a default one, where no queue is). A configuration
// that is not a file at all ends start-up with a message and status 1 instead of a silent run
// on the built-in defaults.
TEST_F(ProcessFaultTest, UnreadableOrGarbageConfigRunsOnTheDefaults) {
  std::mt19937 random(7);
  std::string binary;
  for (int i = 0; i < 65536; ++i) binary.push_back(static_cast<char>(random()));
  // A value is read up to 9,999 characters; the driver quotes the first 255 of a host name.
  const std::string huge(9999, 'A');
  struct Case {
    std::string name;
    std::function<void()> make;
    std::string server;  // the server the program goes on with; empty when it is refused
  };
  const std::vector<Case> cases = {
      {"a directory", [&] { fs::create_directories(app_ / "config.ini" / "dentro"); }, ""},
      {"binary bytes", [&] { WriteConfig(binary); }, "(local)"},
      {"one huge line", [&] { WriteConfig("[Kestrola]\nServerDB=" + std::string(3 << 20, 'A')); },
       huge},
      {"lines without '='",
       [&] { WriteConfig("[Kestrola]\nServicioActivo\nServerDB\n[\n=\n==x\n]]]\n"); }, "(local)"},
      {"an empty file", [&] { WriteConfig(""); }, "(local)"},
  };
  const std::u16string config = Text::FromUtf8((app_ / "config.ini").string());
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(app_ / "config.ini");
    for (const auto& e : fs::directory_iterator(app_)) {
      if (e.path().filename().string().rfind("log_", 0) == 0) fs::remove(e.path());
    }
    c.make();
    Start();
    if (c.server.empty()) {
      int status = WaitEnd(10s);
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
      EXPECT_TRUE(fs::is_directory(app_ / "config.ini"));
      continue;
    }
    // The service tries to connect once a second; the driver names the server it could not reach.
    const std::string quoted = "\"" + c.server.substr(0, 200);
    EXPECT_TRUE(WaitUntil([&] { return Logged(quoted); }, 20s)) << LogText().substr(0, 2000);
    EXPECT_EQ(WaitEnd(0ms), -1) << "the program keeps running";
    Kill(SIGTERM);
    EXPECT_EQ(INI::LeerINI(config, u"Kestrola", u"ServerDB", u"?"), Text::FromUtf8(c.server));
    EXPECT_EQ(INI::LeerINI(config, u"Kestrola", u"NameDB", u"?"), u"master");
    EXPECT_EQ(INI::LeerINI(config, u"Kestrola", u"ServicioActivo", u"?"), u"1");
    EXPECT_EQ(INI::LeerINI(config, u"Kestrola", u"Terminal", u"?"), u"1");
  }
}

// Garbage around the settings: the program reads the keys it finds and prints.
TEST_F(ProcessFaultTest, GarbageAroundTheSettingsStillPrints) {
  AddJob(1, 1, {"FIN-1-FIN"});
  std::string junk = std::string("\x00\xff\xfe garbage \x01\x02", 14) + "\n" +
                     std::string(200000, '#') + "\nno equals sign here\n";
  WriteConfig(junk + Settings() + junk);
  Start();
  EXPECT_TRUE(WaitUntil([&] { return Jobs().empty(); }, 20s)) << LogText();
  EXPECT_EQ(WaitEnd(0ms), -1);
  Kill(SIGTERM);
  EXPECT_EQ(PrintedPerJob(1)[1], 1);
}

// A "Terminal" that is no number: start-up stops there, the service stays off and says so.
TEST_F(ProcessFaultTest, BadTerminalLeavesTheServiceStoppedAndLogged) {
  AddJob(1, 1, {"FIN-1-FIN"});
  WriteConfig(Settings("\xff\xfe caja"));
  Start();
  EXPECT_TRUE(WaitUntil([&] { return Logged("Error desconocido en Form Load"); }, 10s))
      << LogText();
  std::this_thread::sleep_for(1500ms);
  EXPECT_EQ(WaitEnd(0ms), -1);
  Kill(SIGTERM);
  EXPECT_EQ(Jobs(), (std::vector<std::string>{"1"}));
}

// Today's log cannot be read or written (a folder holds its name, which stops root as well):
// the service still starts and prints the queue, losing nothing; once the log works again the
// next start uses it.
TEST_F(ProcessFaultTest, UnwritableLogAtStartLosesNoJob) {
  AddJob(1, 1, {"FIN-1-FIN"});
  AddJob(2, 1, {"FIN-2-FIN"});
  WriteConfig(Settings());
  fs::path log = Text::ToUtf8(Log::NombreArchivo(std::chrono::system_clock::now()));
  fs::create_directories(log / "bloqueo");

  Start();
  EXPECT_TRUE(WaitUntil([&] { return Jobs().empty(); }, 20s));
  EXPECT_EQ(WaitEnd(0ms), -1) << "the program keeps its window open";
  Kill(SIGTERM);
  EXPECT_EQ(PrintedPerJob(2), (std::map<int, int>{{1, 1}, {2, 1}}));

  fs::remove_all(log);
  Start();
  EXPECT_TRUE(WaitUntil([&] { return fs::is_regular_file(log); }, 10s));
  Kill(SIGTERM);
}

}  // namespace
}  // namespace kestrola
