// The C++ side of the Python module's benchmark: the study read and changed by name as the
// module does, then the same run as `Study.run()` (a copy of the settings, a fresh carried
// state, the columns kept in memory), timed alone, one line of CPU seconds a run.
//
//   python_bench_reference STUDY.mas RUNS [NAME=VALUE]...

#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "engine/run_simulation.h"
#include "files/column_recorder.h"
#include "files/parameter_file.h"
#include "files/settings_override.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s STUDY.mas RUNS [NAME=VALUE]...\n", argv[0]);
    return 2;
  }
  mas::SimulationSettings study;
  study.ParamFileName = argv[1];
  mas::SilentPlatform platform;
  try {
    mas::ReadParameterFile(study, platform, "/dev/null");
    mas::ApplyOverrides(study,
                        mas::ParseOverrides(std::vector<std::string>(argv + 3, argv + argc)));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  const int runs = std::stoi(argv[2]);
  for (int i = 0; i < runs; ++i) {
    const std::clock_t start = std::clock();
    mas::SimulationSettings s = study;
    s.CreateOutputFile = true;
    s.DisplayProgressBar = true;
    s.cage.SetDumpPath("");
    mas::CarriedState carried;
    mas::ColumnRecorder recorder;
    const mas::RunOutcome outcome = mas::RunSimulation(s, carried, platform, &recorder, false, 0);
    const double seconds = static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
    std::printf("%.6f %lld %zu\n", seconds, outcome.steps, recorder.series().front().values.size());
    std::fflush(stdout);
  }
  return 0;
}
