#include "viewer/launcher.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <thread>

extern char** environ;

namespace mas::viewer {

namespace {

namespace fs = std::filesystem;

bool IsExecutableFile(const fs::path& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
         ::access(path.c_str(), X_OK) == 0;
}

fs::path OwnExecutableFolder() {
  std::error_code ec;
  const fs::path self = fs::read_symlink("/proc/self/exe", ec);
  return ec ? fs::path() : self.parent_path();
}

std::string FindOnPath(const std::string& name) {
  const char* path = std::getenv("PATH");
  if (path == nullptr) return {};
  std::string_view rest(path);
  while (true) {
    const std::size_t colon = rest.find(':');
    std::string_view dir = rest.substr(0, colon);
    // An empty entry of PATH is the current folder.
    const fs::path candidate = (dir.empty() ? fs::path(".") : fs::path(dir)) / name;
    if (IsExecutableFile(candidate)) return candidate.string();
    if (colon == std::string_view::npos) break;
    rest.remove_prefix(colon + 1);
  }
  return {};
}

// The viewer's own name as the workbench's viewer command lines spell it ("Tracix.exe FILE").
bool NamesTheViewer(const std::string& program) {
  std::string name = fs::path(program).filename().string();
  std::transform(name.begin(), name.end(), name.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return name == "tracix" || name == "tracix.exe";
}

}  // namespace

std::string FindViewer() {
  const fs::path folder = OwnExecutableFolder();
  if (!folder.empty()) {
    for (const fs::path& candidate :
         {folder / kViewerProgram, folder.parent_path() / "viewer" / kViewerProgram}) {
      if (IsExecutableFile(candidate)) return candidate.string();
    }
  }
  return FindOnPath(kViewerProgram);
}

LaunchResult StartDetached(const std::string& program, const std::vector<std::string>& arguments) {
  LaunchResult result;
  std::string path = program;
  if (program.find('/') == std::string::npos) path = FindOnPath(program);
  if (path.empty() || !IsExecutableFile(path)) {
    result.message = "Programme introuvable : " + program;
    return result;
  }
  std::vector<std::string> storage;
  storage.reserve(arguments.size() + 1);
  storage.push_back(program);
  storage.insert(storage.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  argv.reserve(storage.size() + 1);
  for (std::string& s : storage) argv.push_back(s.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  posix_spawn_file_actions_init(&actions);
  posix_spawnattr_init(&attributes);
  // Input detached, output on stderr (never mixed into a summary on stdout).
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, STDERR_FILENO, STDOUT_FILENO);
  // Its own process group, with the signal mask and handlers of a fresh program.
  sigset_t empty, defaults;
  sigemptyset(&empty);
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGINT);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigmask(&attributes, &empty);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setpgroup(&attributes, 0);
  posix_spawnattr_setflags(&attributes,
                           POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  pid_t pid = 0;
  const int error = posix_spawn(&pid, path.c_str(), &actions, &attributes, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (error != 0) {
    result.message = "Impossible de lancer " + path + " : " + std::strerror(error);
    return result;
  }
  // Reaped in the background so that a long-lived caller (the workbench) leaves no
  // finished viewer behind as a zombie; the caller never waits.
  try {
    std::thread([pid] {
      int status = 0;
      while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
    }).detach();
  } catch (const std::system_error&) {
    // No thread to spare: the viewer runs all the same and is reaped when the caller ends.
  }
  result.started = true;
  return result;
}

LaunchResult LaunchViewer(const std::string& data_file) {
  const std::string viewer = FindViewer();
  if (viewer.empty()) {
    LaunchResult result;
    result.message = std::string("Visualiseur introuvable : ") + kViewerProgram +
                     " n'est ni à côté du programme ni dans le PATH";
    return result;
  }
  return StartDetached(viewer, {data_file});
}

LaunchResult StartViewerCommandLine(const std::string& command_line) {
  const std::size_t space = command_line.find(' ');
  const std::string program = command_line.substr(0, space);
  std::vector<std::string> arguments;
  if (space != std::string::npos) arguments.push_back(command_line.substr(space + 1));
  if (NamesTheViewer(program)) {
    if (arguments.empty()) {
      const std::string viewer = FindViewer();
      if (viewer.empty())
        return {false, std::string("Visualiseur introuvable : ") + kViewerProgram};
      return StartDetached(viewer, {});
    }
    return LaunchViewer(arguments.front());
  }
  return StartDetached(program, arguments);
}

}  // namespace mas::viewer
