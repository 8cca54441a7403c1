// Starts the built program as real processes in one application directory.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string ReadFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

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

pid_t Start(const fs::path& exe) {
  pid_t pid = fork();
  if (pid == 0) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    int devnull = open("/dev/null", O_WRONLY);
    if (devnull >= 0) dup2(devnull, 2);
    execl(exe.c_str(), exe.c_str(), "ignored-argument", static_cast<char*>(nullptr));
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
  for (const auto& entry : fs::directory_iterator(dir)) {
    if (entry.path().filename().string().starts_with("log_")) return entry.path();
  }
  return {};
}

class InstanceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // A name of its own, so that no other copy of the program on this machine is counted.
    name_ = "kst" + std::to_string(getpid());
    root_ = fs::temp_directory_path() /
            ("kestrola-instances-" + std::to_string(getpid()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root_);
  }
  void TearDown() override {
    for (pid_t pid : running_) Stop(pid);
    fs::remove_all(root_);
  }
  pid_t Run(const fs::path& exe) {
    pid_t pid = Start(exe);
    running_.push_back(pid);
    return pid;
  }

  std::string name_;
  fs::path root_;
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

  pid_t second = Start(exe);
  EXPECT_EQ(WaitFor(second, 5s), 0);
  EXPECT_EQ(ReadFile(log), logBefore);
  EXPECT_EQ(ReadFile(root_ / "config.ini"), configBefore);
  EXPECT_EQ(WaitFor(first, 500ms), -1) << "the first copy must keep running";
}

TEST_F(InstanceTest, SameNameInAnotherCaseAndDirectoryIsCounted) {
  pid_t first = Run(Install(root_ / "a", name_));
  ASSERT_TRUE(Started(root_ / "a"));
  std::string upper = name_;
  for (char& c : upper) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  pid_t second = Start(Install(root_ / "b", upper));
  EXPECT_EQ(WaitFor(second, 5s), 0);
  EXPECT_FALSE(fs::exists(root_ / "b" / "config.ini"));
  EXPECT_TRUE(LogOf(root_ / "b").empty());
  EXPECT_EQ(WaitFor(first, 100ms), -1);
}

TEST_F(InstanceTest, AnotherNameIsNotCounted) {
  pid_t first = Run(Install(root_ / "a", name_));
  ASSERT_TRUE(Started(root_ / "a"));
  pid_t other = Run(Install(root_ / "b", name_ + "x"));
  EXPECT_TRUE(Started(root_ / "b"));
  EXPECT_EQ(WaitFor(other, 500ms), -1);
  EXPECT_EQ(WaitFor(first, 100ms), -1);
}

}  // namespace
