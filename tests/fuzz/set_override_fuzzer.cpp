// Any bytes as command-line overrides, one "NAME=VALUE" per line, against a study with a
// 28-bar cage. Parsing either gives overrides or refuses with a message starting with the
// option; storing them is all or nothing; a stored field holds the value parsed; and a
// study changed by overrides can be saved and read back (what the command line accepts,
// the study file can hold).

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "files/parameter_file.h"
#include "files/settings_override.h"
#include "tests/fuzz/fuzz_support.h"

namespace mas {
namespace {

SimulationSettings CageStudy() {
  SimulationSettings s;
  s.cage.SetCageParameters(0.05, 0.12, 0.35e-3, 130, 28, 2.9e-3, 1.64e-4, 1.64e-2, 3.5e-6, 3.5e-4,
                           2e-8, 8.2e-7);
  s.cage.AllocateArrays();
  s.cage.ResetBars();
  s.cage.ResetRings();
  s.CageArraysAllocated = true;
  s.FileLoaded = true;
  return s;
}

// The value a field override left in `s`, compared with what was parsed.
bool HoldsParsedValue(SimulationSettings& s, const Override& o) {
  for (const auto& f : SettableFields(s)) {
    if (f.ref.name != o.name) continue;
    switch (f.ref.type) {
      case ValueType::kReal:
        return f.ref.real() == o.real;
      case ValueType::kInt:
      case ValueType::kIntFlag:
        return f.ref.integer() == o.integer;
      case ValueType::kFlag:
        return f.ref.flag() == (o.integer != 0);
      case ValueType::kText:
        return f.ref.text() == o.text_value;
    }
  }
  return false;
}

std::vector<std::string> Lines(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> lines;
  std::string line;
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == '\n') {
      lines.push_back(line);
      line.clear();
    } else {
      line.push_back(static_cast<char>(data[i]));
    }
  }
  lines.push_back(line);
  return lines;
}

}  // namespace
}  // namespace mas

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace mas;
  if (size > 4096) return -1;  // the edit distance of suggestions grows as the square
  const std::vector<std::string> texts = Lines(data, size);

  std::vector<Override> overrides;
  try {
    overrides = ParseOverrides(texts);
  } catch (const OverrideError& e) {
    if (std::string(e.what()).rfind("--set ", 0) != 0) fuzz::Finding("message:", e.what());
    return 0;
  }

  static const SimulationSettings kStudy = CageStudy();
  SimulationSettings s = kStudy;
  try {
    ApplyOverrides(s, overrides);
  } catch (const OverrideError& e) {
    SimulationSettings unchanged = kStudy;
    if (const std::string field = fuzz::FirstDifference(s, unchanged); !field.empty()) {
      fuzz::Finding("a refused override changed the settings:", field);
    }
    return 0;
  }
  // The last override of a single field decides its value (a group or a bar list touches
  // no setting of the file's fields by the same name).
  const Override& last = overrides.back();
  if (last.kind == Override::Kind::kField && !HoldsParsedValue(s, last)) {
    fuzz::Finding("the field does not hold the value parsed:", last.text);
  }

  static const std::string path = fuzz::ScratchPath("overridden.mas");
  WriteParameterFile(s, path);
  SimulationSettings read;
  read.ParamFileName = path;
  SilentPlatform platform;
  try {
    ReadParameterFile(read, platform, fuzz::ScratchPath("echo.dat"));
  } catch (const ParameterFileError& e) {
    fuzz::Finding("a study changed by overrides cannot be read back:", e.what());
  }
  return 0;
}
