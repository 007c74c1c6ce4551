// `mas`: the workbench's command line. Everything but the wiring to the real terminal
// lives in the mas_cli library (cli/commands.h).

#include <iostream>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/terminal_platform.h"

int main(int argc, char** argv) {
  mas::InstallInterruptHandler();
  mas::TerminalPlatform platform(std::cerr, mas::TerminalPlatform::StderrIsTerminal());
  mas::CliEnvironment env{std::cout, std::cerr, platform};
  const std::vector<std::string> args(argv + 1, argv + argc);
  return mas::MasMain(args, env);
}
