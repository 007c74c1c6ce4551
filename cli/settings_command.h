#pragma once
// `mas settings [MOTIF]`: every name that --set, the sweep files and the Python module
// accept, with its group, the values it takes and its value in a study's defaults, from
// the list of settable fields that drives the study reader (engine/settings_fields.h).
//
// MOTIF selects the names: with * or ? it is a shell pattern on the whole name
// ("OutSel.*", "Wmref?"), otherwise any name containing it, letter case ignored ("rs"
// lists Rs, mRs, ...). Status 0 when a name was listed, 2 when none matches.

#include <string>

#include "cli/commands.h"

namespace CLI {
class App;
}

namespace mas {

// The `settings` subcommand registered on `app`.
class SettingsSubcommand {
 public:
  explicit SettingsSubcommand(CLI::App& app);
  bool Selected() const;
  int Run(CliEnvironment& env) const;

 private:
  CLI::App* settings_ = nullptr;
  std::string pattern_;
};

}  // namespace mas
