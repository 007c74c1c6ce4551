// The viewer's headless command as a script runs it: a picture is never written over what
// the command reads nor in place of a device, a picture of nothing is a failure that
// writes nothing, and a file-size limit is a failed write that keeps the previous file.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace mas::viewer {
namespace {

namespace fs = std::filesystem;

#ifdef TRACIX_PATH

class TracixCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("mas_tracix_command_" + std::to_string(getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    std::ofstream out(dir_ / "t.dat");
    out << "time(s)     Ias(A)            \n";
    for (int i = 0; i < 400; ++i) {
      out << 1e-3 * i << "  " << 10 * std::sin(2 * 3.14159265358979 * 50e-3 * i) << "\n";
    }
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  static std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

  // Runs tracix without a display; its exit status (128 + the signal when killed), its
  // stderr in err_.
  int Tracix(const std::vector<std::string>& args, rlim_t file_size_limit = RLIM_INFINITY) {
    const std::string err_path = Path("err.txt");
    const pid_t pid = fork();
    if (pid == 0) {
      const int err = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      ::dup2(err, STDERR_FILENO);
      ::unsetenv("DISPLAY");
      ::unsetenv("WAYLAND_DISPLAY");
      ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
      // What a shell started under `ulimit -f` gives the program.
      std::signal(SIGXFSZ, SIG_DFL);
      rlimit limit{};
      ::getrlimit(RLIMIT_FSIZE, &limit);
      limit.rlim_cur = file_size_limit;
      ::setrlimit(RLIMIT_FSIZE, &limit);
      std::vector<char*> argv{const_cast<char*>(TRACIX_PATH)};
      for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      ::execv(TRACIX_PATH, argv.data());
      ::_exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    err_ = ReadAll(err_path);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

  fs::path dir_;
  std::string err_;
};

TEST_F(TracixCommand, APictureNeverReplacesAnInputNorADevice) {
  const std::string table = ReadAll(dir_ / "t.dat");
  fs::create_symlink(dir_ / "t.dat", dir_ / "link.png");
  const struct {
    std::vector<std::string> args;
    const char* said;
  } cases[] = {
      {{Path("t.dat"), "--png", Path("t.dat")}, "est la table lue"},
      {{Path("t.dat"), "--svg", Path("link.png")}, "est la table lue"},
      {{Path("t.dat"), "--png", Path("a.png"), "--svg", Path("a.png")}, "est l'image PNG (--png)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.said);
    EXPECT_EQ(Tracix(c.args), 1);
    EXPECT_NE(err_.find(c.said), std::string::npos) << err_;
    EXPECT_EQ(ReadAll(dir_ / "t.dat"), table);
    EXPECT_TRUE(fs::is_symlink(dir_ / "link.png"));
    EXPECT_FALSE(fs::exists(dir_ / "a.png"));
  }

  // A file that is not a regular one (here a named pipe, as a device would be) is written
  // in place and stays what it was.
  const std::string fifo = Path("pipe.png");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
  const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  std::string received;
  std::jthread drain([&] {
    ::fcntl(reader, F_SETFL, 0);  // blocking from now on, until tracix closes the pipe
    char buffer[4096];
    // The first read may come before tracix opens the pipe: wait for the writer.
    for (int idle = 0; idle < 3000 && received.empty(); ++idle) {
      const ssize_t n = ::read(reader, buffer, sizeof buffer);
      if (n > 0) received.append(buffer, static_cast<std::size_t>(n));
      if (n == 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    for (ssize_t n; (n = ::read(reader, buffer, sizeof buffer)) > 0;) {
      received.append(buffer, static_cast<std::size_t>(n));
    }
  });
  EXPECT_EQ(Tracix({Path("t.dat"), "--png", fifo, "--size", "200x150"}), 0) << err_;
  drain.join();
  ::close(reader);
  EXPECT_TRUE(fs::is_fifo(fifo));
  EXPECT_TRUE(received.starts_with("\x89PNG")) << received.size();
}

// A logger's CSV (semicolons, decimal commas) draws as its text twin does, into the three
// kinds of picture; the PDF is checked against what is read like the other two.
TEST_F(TracixCommand, CsvTablesDrawIntoPngSvgAndPdf) {
  const std::string csv =
      "\xEF\xBB\xBF\"time(s)\";\"Ias(A)\"\r\n0;0\r\n0,001;3,5\r\n0,002;-1,25\r\n";
  std::ofstream(Path("log.csv")) << csv;
  std::ofstream(Path("twin.dat")) << "time(s) Ias(A)\n0 0\n0.001 3.5\n0.002 -1.25\n";
  ASSERT_EQ(Tracix({Path("log.csv"), "--png", Path("c.png"), "--svg", Path("c.svg"), "--pdf",
                    Path("c.pdf"), "--size", "300x200"}),
            0)
      << err_;
  ASSERT_EQ(Tracix({Path("twin.dat"), "--png", Path("t.png"), "--size", "300x200"}), 0) << err_;
  EXPECT_EQ(ReadAll(dir_ / "c.png"), ReadAll(dir_ / "t.png"));
  EXPECT_TRUE(ReadAll(dir_ / "c.pdf").starts_with("%PDF-"));
  EXPECT_NE(ReadAll(dir_ / "c.svg").find("<svg"), std::string::npos);

  EXPECT_EQ(Tracix({Path("log.csv"), "--png", Path("d.png"), "--pdf", Path("d.png")}), 1);
  EXPECT_NE(err_.find("est l'image PNG (--png)"), std::string::npos) << err_;
  EXPECT_EQ(Tracix({Path("log.csv"), "--pdf", Path("log.csv")}), 1);
  EXPECT_EQ(ReadAll(dir_ / "log.csv"), csv);
}

TEST_F(TracixCommand, NothingToDrawOrNoRoomToWriteIsAFailureThatWritesNothing) {
  std::ofstream(dir_ / "garbage.dat", std::ios::binary) << std::string(
      "\x7f"
      "ELF\x02\x01\x01\0\0\x03",
      10);
  std::ofstream(dir_ / "header.dat") << "time(s)  Ias(A)\n";
  std::ofstream(dir_ / "one.dat") << "time(s)  Ias(A)\n0 1\n";
  std::ofstream(dir_ / "backwards.dat") << "time(s)  Ias(A)\n0 1\n2e-3 2\n1e-3 3\n3e-3 4\n4e-3 5\n";
  const struct {
    std::vector<std::string> args;
    const char* said;
  } cases[] = {
      {{Path("garbage.dat"), "--png", Path("x.png")}, "aucune ligne de nombres"},
      {{Path("header.dat"), "--svg", Path("x.png")}, "aucune ligne de nombres"},
      {{Path("one.dat"), "--png", Path("x.png"), "--spectrum", "Ias(A)"}, "Pas assez de points"},
      {{Path("backwards.dat"), "--png", Path("x.png"), "--spectrum", "Ias(A)"}, "ne croît pas"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.said);
    EXPECT_EQ(Tracix(c.args), 1);
    EXPECT_NE(err_.find(c.said), std::string::npos) << err_;
    EXPECT_FALSE(fs::exists(dir_ / "x.png"));
  }

  // A disk that fills up (a file-size limit): a failed write, the previous picture kept.
  std::ofstream(dir_ / "old.png") << "previous picture\n";
  EXPECT_EQ(Tracix({Path("t.dat"), "--png", Path("old.png")}, 1000), 1);
  EXPECT_NE(err_.find("Impossible d'écrire le fichier " + Path("old.png")), std::string::npos)
      << err_;
  EXPECT_EQ(ReadAll(dir_ / "old.png"), "previous picture\n");
  EXPECT_EQ(Tracix({Path("t.dat"), "--png", Path("old.png")}), 0) << err_;
  EXPECT_TRUE(ReadAll(dir_ / "old.png").starts_with("\x89PNG"));
}

#endif  // TRACIX_PATH

}  // namespace
}  // namespace mas::viewer
