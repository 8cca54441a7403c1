// Starts the built program as real processes: the single-instance rule, the application data
// directory, the command line and headless start-up.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <thread>
#include <vector>

#include "tests/support/TempDir.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

using kestrola::testing::ReadFile;

// The program copied under `name` into `dir`, with the button images beside it. A copy, not a
// link: the program finds its directory and name through /proc/self/exe, which resolves links.
fs::path Install(const fs::path& dir, const std::string& name) {
  fs::create_directories(dir);
  fs::path exe = dir / name;
  fs::copy_file(fs::path(KESTROLA_BINARY_DIR) / "kestrola", exe,
                fs::copy_options::overwrite_existing);
  for (const char* image : {"start.jpg", "start_down.jpg", "stop.jpg", "stop_down.jpg"}) {
    fs::copy_file(fs::path(KESTROLA_SOURCE_DIR) / "assets" / image, dir / image,
                  fs::copy_options::overwrite_existing);
  }
  return exe;
}

// How a process is started: its arguments, environment changes (an empty value unsets the
// variable), the account it runs as, and files for its standard output and error.
struct Launch {
  std::vector<std::string> args;
  std::map<std::string, std::string> env{{"QT_QPA_PLATFORM", "offscreen"}};
  uid_t uid = 0;
  bool asUser = false;
  fs::path out, err;
};

Launch WithArgs(std::vector<std::string> args) {
  Launch how;
  how.args = std::move(args);
  return how;
}

Launch WithErr(fs::path err) {
  Launch how;
  how.err = std::move(err);
  return how;
}

pid_t Start(const fs::path& exe, const Launch& how = {}) {
  pid_t pid = fork();
  if (pid == 0) {
    for (const auto& [k, v] : how.env) {
      if (v.empty()) {
        unsetenv(k.c_str());
      } else {
        setenv(k.c_str(), v.c_str(), 1);
      }
    }
    int devnull = open("/dev/null", O_RDWR);
    int out = how.out.empty() ? devnull : open(how.out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = how.err.empty() ? devnull : open(how.err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(devnull, 0);
    dup2(out, 1);
    dup2(err, 2);
    if (how.asUser && (setgid(how.uid) != 0 || setuid(how.uid) != 0)) _exit(126);
    std::vector<char*> argv{const_cast<char*>(exe.c_str())};
    for (const auto& a : how.args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(exe.c_str(), argv.data());
    _exit(127);
  }
  return pid;
}

// Waits up to `limit` for the process to end; its exit status, or -1 while it still runs.
int WaitFor(pid_t pid, std::chrono::milliseconds limit) {
  auto end = std::chrono::steady_clock::now() + limit;
  do {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
    std::this_thread::sleep_for(20ms);
  } while (std::chrono::steady_clock::now() < end);
  return -1;
}

void Stop(pid_t pid) {
  kill(pid, SIGTERM);
  if (WaitFor(pid, 5s) == -1) {
    kill(pid, SIGKILL);
    WaitFor(pid, 5s);
  }
}

// Waits until the copy in `dir` has finished its start-up: config.ini holds the whole
// "Terminal" line, the last of the settings it writes back (one at a time, so an existing
// file alone says nothing).
bool Started(const fs::path& dir) {
  for (int i = 0; i < 1000; ++i) {
    const std::string config = ReadFile(dir / "config.ini");
    const size_t terminal = config.find("Terminal=");
    if (terminal != std::string::npos && config.find('\n', terminal) != std::string::npos) {
      return true;
    }
    std::this_thread::sleep_for(20ms);
  }
  return false;
}

fs::path LogOf(const fs::path& dir) {
  if (!fs::is_directory(dir)) return {};
  for (const auto& entry : fs::directory_iterator(dir)) {
    if (entry.path().filename().string().starts_with("log_")) return entry.path();
  }
  return {};
}

class InstanceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // A name of its own, so that no other copy of the program on this machine is involved.
    name_ = "kst" + std::to_string(getpid());
    fs::permissions(root_, fs::perms::all);  // other accounts reach their program copies
  }
  void TearDown() override {
    for (pid_t pid : running_) Stop(pid);
  }
  pid_t Run(const fs::path& exe, const Launch& how = {}) {
    pid_t pid = Start(exe, how);
    running_.push_back(pid);
    return pid;
  }

  std::string name_;
  kestrola::testing::TempDir root_{"instances"};
  std::vector<pid_t> running_;
};

TEST_F(InstanceTest, SecondCopyInTheSameDirectoryEndsSilently) {
  fs::path exe = Install(root_, name_);
  // The first copy starts with its service stopped, so nothing but the second copy could
  // write to the log meanwhile.
  std::ofstream(root_ / "config.ini") << "[Kestrola]\r\nServicioActivo=0\r\n";
  pid_t first = Run(exe);
  ASSERT_TRUE(Started(root_));
  fs::path log = LogOf(root_);
  ASSERT_FALSE(log.empty());
  std::string logBefore = ReadFile(log);
  std::string configBefore = ReadFile(root_ / "config.ini");

  pid_t second = Start(exe, WithArgs({"ignored-argument"}));
  EXPECT_EQ(WaitFor(second, 5s), 0);
  EXPECT_EQ(ReadFile(log), logBefore);
  EXPECT_EQ(ReadFile(root_ / "config.ini"), configBefore);
  EXPECT_EQ(WaitFor(first, 500ms), -1) << "the first copy must keep running";
}

// One copy per application data directory, whatever the program's folder or name.
TEST_F(InstanceTest, DataDirectoryDecidesWhichCopiesCount) {
  fs::path data = root_ / "data";
  fs::path exeA = Install(root_ / "a", name_);
  pid_t first = Run(exeA, WithArgs({"--app-dir", data.string()}));
  ASSERT_TRUE(Started(data));

  // Another program folder serving the same data directory (here through KESTROLA_HOME).
  Launch sameData;
  sameData.env["KESTROLA_HOME"] = data.string();
  pid_t second = Start(Install(root_ / "b", name_), sameData);
  EXPECT_EQ(WaitFor(second, 5s), 0);
  EXPECT_FALSE(fs::exists(root_ / "b" / "config.ini"));

  // The same program file serving other data directories runs beside it; so does a copy of
  // another name in its own folder.
  pid_t other = Run(exeA, WithArgs({"--app-dir=" + (root_ / "d2").string()}));
  EXPECT_TRUE(Started(root_ / "d2"));
  pid_t renamed = Run(Install(root_ / "c", name_ + "x"));
  EXPECT_TRUE(Started(root_ / "c"));
  EXPECT_EQ(WaitFor(other, 300ms), -1);
  EXPECT_EQ(WaitFor(renamed, 100ms), -1);
  EXPECT_EQ(WaitFor(first, 100ms), -1);
}

// Another program that merely carries the program's name does not keep it from starting.
TEST_F(InstanceTest, ProcessOfAnotherProgramWithTheSameNameIsNotCounted) {
  pid_t impostor = fork();
  if (impostor == 0) {
    execl("/bin/sleep", name_.c_str(), "30", static_cast<char*>(nullptr));
    _exit(127);
  }
  running_.push_back(impostor);
  pid_t real = Run(Install(root_, name_));
  EXPECT_TRUE(Started(root_));
  EXPECT_EQ(WaitFor(real, 300ms), -1);
}

// The package's layout: the program folder is not written to; everything goes to --app-dir.
TEST_F(InstanceTest, ReadOnlyProgramFolderWithDataElsewhere) {
  fs::path exe = Install(root_ / "prog", name_);
  fs::permissions(root_ / "prog", fs::perms::owner_read | fs::perms::owner_exec |
                                      fs::perms::group_read | fs::perms::group_exec |
                                      fs::perms::others_read | fs::perms::others_exec);
  auto before = std::distance(fs::directory_iterator(root_ / "prog"), fs::directory_iterator());
  pid_t pid = Run(exe, WithArgs({"--app-dir", (root_ / "var").string()}));
  ASSERT_TRUE(Started(root_ / "var"));
  EXPECT_FALSE(LogOf(root_ / "var").empty());
  EXPECT_EQ(std::distance(fs::directory_iterator(root_ / "prog"), fs::directory_iterator()),
            before);
  EXPECT_EQ(WaitFor(pid, 100ms), -1);
  fs::permissions(root_ / "prog", fs::perms::owner_all);
}

// A link planted as config.ini or as today's log is refused: the program says so and ends,
// and the file the link points at stays as it was.
TEST_F(InstanceTest, PlantedLinksAreRefused) {
  fs::path exe = Install(root_, name_);
  fs::path victim = root_ / "victim.txt";
  std::ofstream(victim) << "precious";
  fs::create_symlink(victim, root_ / "config.ini");
  pid_t pid = Start(exe, WithErr(root_ / "err1"));
  EXPECT_EQ(WaitFor(pid, 10s), 1);
  EXPECT_NE(ReadFile(root_ / "err1").find("enlace simb"), std::string::npos)
      << ReadFile(root_ / "err1");
  EXPECT_EQ(ReadFile(victim), "precious");

  // Today's log as a link: the program starts (its config is fine) but writes nothing there.
  fs::remove(root_ / "config.ini");
  std::ofstream(root_ / "config.ini") << "[Kestrola]\r\nServicioActivo=0\r\n";
  char day[32];
  std::time_t now = std::time(nullptr);
  std::strftime(day, sizeof day, "log_%Y%m%d.log", std::localtime(&now));
  fs::remove(root_ / day);  // the refusal above was logged there
  fs::create_symlink(victim, root_ / day);
  pid = Run(exe, WithErr(root_ / "err2"));
  std::this_thread::sleep_for(1500ms);
  EXPECT_EQ(ReadFile(victim), "precious");
  EXPECT_TRUE(fs::is_symlink(root_ / day));
  EXPECT_NE(ReadFile(root_ / "err2").find("enlace simb"), std::string::npos)
      << ReadFile(root_ / "err2");
}

// Another account that cannot read config.ini is told so and ends with an error status,
// instead of running on the built-in defaults.
TEST_F(InstanceTest, UnreadableConfigurationEndsWithAMessage) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to start the program as another account";
  fs::path exe = Install(root_, name_);
  fs::permissions(root_, fs::perms::all);
  std::ofstream(root_ / "config.ini") << "[Kestrola]\r\nPwdDB=secret\r\n";
  fs::permissions(root_ / "config.ini", fs::perms::owner_read | fs::perms::owner_write);
  Launch nobody = WithErr(root_ / "err");
  nobody.uid = 65534;
  nobody.asUser = true;
  pid_t pid = Start(exe, nobody);
  EXPECT_EQ(WaitFor(pid, 10s), 1);
  EXPECT_NE(ReadFile(root_ / "err").find("(la cuenta no es del grupo"), std::string::npos)
      << ReadFile(root_ / "err");
  EXPECT_TRUE(LogOf(root_).empty() || ReadFile(LogOf(root_)).find("secret") == std::string::npos);
}

TEST_F(InstanceTest, CommandLine) {
  fs::path exe = Install(root_, name_);
  Launch noDisplay;
  noDisplay.env = {{"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}, {"QT_QPA_PLATFORM", ""}};
  struct Case {
    std::vector<std::string> args;
    int status;
    const char* out;  // expected in standard output
    const char* err;  // expected in standard error
  };
  for (const Case& c :
       {Case{{"--help"}, 0, "Usage: kestrola", ""}, Case{{"--version"}, 0, "kestrola 1.", ""},
        Case{{"--bogus"}, 2, "", "unknown option '--bogus'\nUsage: kestrola"},
        Case{{"-platform", "xcb"}, 2, "", "unknown option '-platform'"},
        Case{{"--app-dir"}, 2, "", "needs a folder"}}) {
    Launch how = noDisplay;
    how.args = c.args;
    how.out = root_ / "out";
    how.err = root_ / "err";
    pid_t pid = Start(exe, how);
    EXPECT_EQ(WaitFor(pid, 10s), c.status) << c.args[0];
    EXPECT_NE(ReadFile(root_ / "out").find(c.out), std::string::npos) << c.args[0];
    EXPECT_NE(ReadFile(root_ / "err").find(c.err), std::string::npos)
        << c.args[0] << ": " << ReadFile(root_ / "err");
  }
  // Nothing was started: no configuration, no log.
  EXPECT_FALSE(fs::exists(root_ / "config.ini"));
  EXPECT_TRUE(LogOf(root_).empty());
}

// Without a display the service runs on the offscreen platform, says so, and its log lines
// also come on standard output.
TEST_F(InstanceTest, RunsHeadlessWithoutADisplay) {
  fs::path exe = Install(root_, name_);
  std::ofstream(root_ / "config.ini") << "[Kestrola]\r\nServicioActivo=0\r\nTerminal=abc\r\n";
  Launch how;
  how.env = {{"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}, {"QT_QPA_PLATFORM", ""}};
  how.out = root_ / "out";
  how.err = root_ / "err";
  pid_t pid = Run(exe, how);
  // Terminal=abc makes start-up log its failure line, which must reach standard output.
  for (int i = 0; i < 250 && ReadFile(root_ / "out").find("Form Load") == std::string::npos; ++i)
    std::this_thread::sleep_for(20ms);
  EXPECT_EQ(WaitFor(pid, 100ms), -1) << ReadFile(root_ / "err");
  EXPECT_NE(ReadFile(root_ / "err").find("offscreen"), std::string::npos);
  EXPECT_NE(ReadFile(root_ / "out").find("Error desconocido en Form Load"), std::string::npos);
  EXPECT_NE(ReadFile(LogOf(root_)).find("Error desconocido en Form Load"), std::string::npos);
}

}  // namespace
