// Any bytes as a study file. The reader must either take the file or refuse it with its
// typed error, never crash; a refused file leaves the settings exactly as they were; a
// taken one leaves the cage arrays sized for Nr; and what the reader took, the writer
// writes as a file that reads back to the same text (the writer's own output is always
// readable and stable under a second write).

#include <cstddef>
#include <cstdint>
#include <string>

#include "files/parameter_file.h"
#include "tests/fuzz/fuzz_support.h"

namespace mas {
namespace {

bool StartsWith(const std::string& s, std::string_view prefix) {
  return s.compare(0, prefix.size(), prefix) == 0;
}

// Writes `s`, reads it back into a fresh record and returns the text the fresh record
// writes. Aborts when the writer's own file cannot be read.
std::string WriteReadWrite(const SimulationSettings& s, SilentPlatform& platform,
                           std::string& first_text) {
  const std::string first = fuzz::ScratchPath("first.mas");
  const std::string second = fuzz::ScratchPath("second.mas");
  WriteParameterFile(s, first);
  first_text = fuzz::ReadBytes(first);
  SimulationSettings again;
  again.ParamFileName = first;
  try {
    ReadParameterFile(again, platform, fuzz::ScratchPath("echo2.dat"));
  } catch (const ParameterFileError& e) {
    fuzz::Finding("the writer's file cannot be read back:", e.what());
  }
  WriteParameterFile(again, second);
  return fuzz::ReadBytes(second);
}

}  // namespace
}  // namespace mas

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace mas;
  static const std::string input = fuzz::ScratchPath("input.mas");
  static const std::string echo = fuzz::ScratchPath("echo.dat");
  fuzz::WriteBytes(input, data, size);

  SilentPlatform platform;
  SimulationSettings s;
  s.ParamFileName = input;
  s.cage.Nr = 5;  // arrays of another size than most files ask for
  s.cage.AllocateArrays();
  s.CageArraysAllocated = true;
  SimulationSettings before = s;

  try {
    ReadParameterFile(s, platform, echo);
  } catch (const ParameterFileError& e) {
    const std::string message = e.what();
    if (e.caption != "Erreur" || !StartsWith(message, "Erreur de lecture !!! " + input)) {
      fuzz::Finding("unexpected error:", message);
    }
    if (const std::string field = fuzz::FirstDifference(s, before); !field.empty()) {
      fuzz::Finding("a refused file changed the settings:", field);
    }
    return 0;
  }

  if (!s.FileLoaded || !s.CageArraysAllocated) fuzz::Finding("a read file is not marked loaded");
  const int nr = s.cage.Nr;
  const int expected_bars = nr >= 1 && nr <= CageMachineModel::kMaxBars ? nr : 0;
  if (s.cage.AllocatedBars() != expected_bars ||
      static_cast<int>(s.cage.Re.size()) != expected_bars ||
      static_cast<int>(s.cage.BarreSel.size()) != expected_bars) {
    fuzz::Finding("cage arrays not sized for Nr");
  }

  std::string first_text;
  const std::string second_text = WriteReadWrite(s, platform, first_text);
  if (first_text != second_text) fuzz::Finding("write, read, write changed the file");
  return 0;
}
