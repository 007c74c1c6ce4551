#pragma once
// Starting the curve viewer `tracix` on a data file, for the command line, the desktop
// workbench and the end of a run: the program is looked for beside the running program's
// own executable (an installed or built tree keeps them together), then in the build
// tree's viewer/ folder next to it, then on the PATH. It is started directly with
// posix_spawn, the data file as its one argument (never through a shell, so a file name
// with spaces or shell characters reaches it as it is), in its own process group (a
// Ctrl-C in the terminal of `mas` does not close it), its input from /dev/null and its
// output on stderr; nobody waits for it, and a background thread reaps it when it ends.

#include <string>
#include <vector>

namespace mas::viewer {

// Name of the viewer's executable.
inline constexpr const char* kViewerProgram = "tracix";

struct LaunchResult {
  bool started = false;
  std::string message;  // why it did not start (empty when it did)
};

// Where `tracix` would be started from: beside the running executable (/proc/self/exe),
// then ../viewer/tracix from there (the build tree), then the first executable
// `tracix` on the PATH. Empty when there is none.
std::string FindViewer();

// Starts the viewer on `data_file`.
LaunchResult LaunchViewer(const std::string& data_file);

// Starts `program` (a path, or a name looked up on the PATH) with `arguments`, without a
// shell and without waiting.
LaunchResult StartDetached(const std::string& program, const std::vector<std::string>& arguments);

// Starts what a viewer command line names ("Tracix.exe out.dat": the program's name,
// one space, the data file): the viewer's own name, with or without ".exe" and in any
// letter case, starts `tracix` through LaunchViewer; any other program is started as
// named. Everything after the first space is the one argument.
LaunchResult StartViewerCommandLine(const std::string& command_line);

}  // namespace mas::viewer
