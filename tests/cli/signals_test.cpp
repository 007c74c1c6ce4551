// The real `mas` started as a child process, as a terminal starts it (SIGINT at its default
// action, whatever this test process inherited), then stopped by a signal or a file-size
// limit: the run must end with its documented status, its table committed or the previous
// one kept, and no temporary file left beside it.

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace mas {
namespace {

namespace fs = std::filesystem;

class MasProcess : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = fs::temp_directory_path() /
           ("mas_signal_" + std::to_string(getpid()) + "_" + std::string(info->name()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    fs::copy_file(fs::path(MAS_SOURCE_DIR) / "examples/default.mas", dir_ / "default.mas");
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Starts `mas args...` in the test folder with stdout and stderr in files, SIGINT,
  // SIGTERM and SIGHUP at their default action, and an optional file-size limit.
  pid_t Start(const std::vector<std::string>& args, rlim_t file_size_limit = RLIM_INFINITY) {
    const pid_t pid = fork();
    if (pid != 0) return pid;
    for (int s : {SIGINT, SIGTERM, SIGHUP, SIGXFSZ}) std::signal(s, SIG_DFL);
    if (chdir(dir_.c_str()) != 0) _exit(126);
    if (!std::freopen("stdout.txt", "w", stdout) || !std::freopen("stderr.txt", "w", stderr)) {
      _exit(126);
    }
    if (file_size_limit != RLIM_INFINITY) {
      const rlimit limit{file_size_limit, file_size_limit};
      setrlimit(RLIMIT_FSIZE, &limit);
    }
    std::vector<std::string> all = {MAS_EXECUTABLE};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(MAS_EXECUTABLE, argv.data());
    _exit(127);
  }

  // Exit status, or 128 + the signal that ended the process.
  static int Wait(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

  // Names in the folder that start with `prefix`.
  std::vector<std::string> Named(const std::string& prefix) const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_)) {
      const std::string name = e.path().filename().string();
      if (name.starts_with(prefix)) names.push_back(name);
    }
    return names;
  }

  // Waits (up to a minute, sanitizers are slow) until the run is writing its table.
  bool WaitForTemporary(const std::string& prefix) const {
    for (int i = 0; i < 6000; ++i) {
      if (!Named(prefix).empty()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

  std::string Read(const std::string& name) const {
    std::ifstream in(dir_ / name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

  fs::path dir_;
};

// Runs far too long to finish, stopped once they write their table: whatever the
// recording, the display or the time base, they end with 130, their partial table in
// place of the previous one and no temporary left.
TEST_F(MasProcess, StopSignalsEndTheRunWithItsPartialTableAndNoTemporary) {
  const struct {
    const char* what;
    int signal;
    std::vector<std::string> sets;
  } cases[] = {
      {"Ctrl-C, only the first line recorded", SIGINT, {"tf=1000", "OutStep=0"}},
      {"SIGTERM without progress display", SIGTERM, {"tf=1000", "DisplayProgressBar=0"}},
      {"SIGHUP on a late time base", SIGHUP, {"t0=100000", "tf=100400"}},
      {"Ctrl-C from a negative start", SIGINT, {"t0=-1000", "tf=1000"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::string> args = {"run", "default.mas", "-o", "out.dat"};
    for (const std::string& set : c.sets) args.insert(args.end(), {"--set", set});
    const pid_t pid = Start(args);
    ASSERT_TRUE(WaitForTemporary(".out.dat.tmp"));
    kill(pid, c.signal);
    EXPECT_EQ(Wait(pid), 130) << Read("stderr.txt");
    EXPECT_NE(Read("stdout.txt").find("interrompue"), std::string::npos) << Read("stdout.txt");
    EXPECT_EQ(Read("out.dat").rfind("time(s)", 0), 0u);
    EXPECT_TRUE(Named(".out.dat.tmp").empty());
  }
}

// A file-size limit no longer kills the process: the write fails, the failure is said, the
// previous table stays and the temporary is removed.
TEST_F(MasProcess, AFileSizeLimitIsAFailedWriteNotAKill) {
  { std::ofstream(dir_ / "out.dat") << "previous table\n"; }
  const pid_t pid = Start({"run", "default.mas", "-o", "out.dat"}, 100000);
  EXPECT_EQ(Wait(pid), 1) << Read("stderr.txt");
  EXPECT_NE(Read("stderr.txt").find("l'écriture du fichier out.dat a échoué"), std::string::npos)
      << Read("stderr.txt");
  EXPECT_EQ(Read("out.dat"), "previous table\n");
  EXPECT_TRUE(Named(".out.dat.tmp").empty());
}

}  // namespace
}  // namespace mas
