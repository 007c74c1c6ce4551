// Makes the example start-up record "dem1.dat" and the identification study
// "identification.mas" that is fitted to it, and a second record of the same machine,
// "charge1.dat", with its study "identification_charge.mas" (a start-up then a load
// step), so that both can be fitted together:
//   make_dem1 [FOLDER]        (default: the current folder)
//
// The record stands for a measurement of a direct start-up on the 400 V, 50 Hz network
// of the 4 kW, 4-pole machine of the examples (Rs 1.405 ohm, Rr 1.395 ohm, Ls = Lr =
// 0.178039 H, M 0.1722 H, p 2, J 0.0131 kg m^2) driving a small constant load of
// 2 N m. The "measurement" is a simulation integrated ten times finer than the study's
// candidates (dt = 1e-5 s), sampled every 0.2 ms as a recorder does, with the errors of
// real sensors added: white noise on the tachometer (1.5 tr/mn rms) and on the phase
// currents (0.08 A rms), and the current quantised by a 12-bit converter over +-64 A.
// The noise comes from a fixed seed, so that the file is the same at every run of this
// program.
//
// Columns: time (s), phase-a voltage (V), phase-b current (A), speed (tr/mn), phase-a
// current (A): the speed is column 3 and the current column 4, the record's defaults.
//
// The second record: the same start-up over 0.8 s with 10 N m more load from 0.5 s on,
// measured and disturbed the same way (another seed). Its study simulates it with the
// same step and recording as the first.
//
// The study simulates the same start-up over 0.5 s with dt = 5e-5 s and records every 20
// steps (1 ms), so that one candidate costs a couple of milliseconds; its machine fields
// hold the machine that made the record.

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "engine/numeric.h"
#include "engine/run_simulation.h"
#include "engine/settings.h"
#include "examples/example_machine.h"
#include "files/parameter_file.h"

namespace {

// The machine, the network and the load of the examples.
void SetMachine(mas::SimulationSettings& s) {
  mas::example::SetExampleMachine(s);
  s.dq.SetMechanicalParameters(2, 0.0131, 0.0, 0.0, 2.0);  // the 2 N m load
  s.SetCrsgn(1);  // the constant load follows the sign of the speed, softened near standstill
  s.PushMechanicalParameters();
  s.TMLI = 1e-4;
  // No event: the start-up alone.
  for (int i = 0; i < 4; ++i) {
    s.Wmt[i] = s.Crt[i] = s.Rrt[i] = 100.0;
  }
}

struct Sample {
  double t, Vas, Ibs, Wm, Ias;
};

class Sampler : public mas::OutputSink {
 public:
  explicit Sampler(std::vector<Sample>& samples) : samples_(samples) {}
  bool Open(const std::string&) override { return true; }
  void WriteHeader(const mas::RunView&) override {}
  void WriteLine(const mas::RunView& v) override {
    samples_.push_back({v.state.t, v.state.Vas, v.state.IbsMeas, v.state.WmMeas * mas::kRadSToRpm,
                        v.state.IasMeas});
  }
  void Close() override {}

 private:
  std::vector<Sample>& samples_;
};

// Gaussian noise from a generator whose sequence the standard fixes (Box-Muller).
class Noise {
 public:
  explicit Noise(std::uint64_t seed) : engine_(seed) {}
  double Gaussian(double rms) {
    const double u1 = (static_cast<double>(engine_() >> 11) + 1.0) * 0x1.0p-53;  // (0, 1]
    const double u2 = static_cast<double>(engine_() >> 11) * 0x1.0p-53;          // [0, 1)
    return rms * std::sqrt(-2.0 * std::log(u1)) * std::cos(2.0 * mas::kPi * u2);
  }

 private:
  std::mt19937_64 engine_;
};

void AppendFixed(std::string& out, double value, int decimals) {
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, decimals);
  out.append(buf, r.ptr);
}

// Measures the start-up of `measure` (a simulation ten times finer than the studies,
// sampled every 0.2 ms) with the sensors' errors drawn from `seed` and writes the record.
// False after a message when it failed.
bool WriteRecord(mas::SimulationSettings measure, std::uint64_t seed,
                 const std::filesystem::path& record) {
  measure.t0 = 0.0;
  measure.dt = 1e-5;
  measure.PushStep();
  measure.OutStep = 20;  // one sample every 0.2 ms
  measure.CreateOutputFile = true;
  measure.DisplayProgressBar = false;
  measure.FileLoaded = true;
  std::vector<Sample> samples;
  Sampler sampler(samples);
  mas::CarriedState carried;
  mas::SilentPlatform platform;
  const mas::RunOutcome outcome =
      mas::RunSimulation(measure, carried, platform, &sampler, false, 0);
  if (outcome.status != mas::RunStatus::kReachedEnd) {
    std::fprintf(stderr, "make_dem1: la simulation de %s a échoué\n", record.string().c_str());
    return false;
  }

  constexpr double kSpeedNoise = 1.5;      // tr/mn rms
  constexpr double kCurrentNoise = 0.08;   // A rms
  constexpr double kCurrentLsb = 0.03125;  // 12 bits over +-64 A
  constexpr double kVoltageNoise = 2.0;    // V rms
  Noise noise(seed);
  auto quantised = [](double i) { return std::round(i / kCurrentLsb) * kCurrentLsb; };
  std::string text = "t(s) Vas(V) Ibs(A) N(tr/mn) Ias(A)\n";
  for (const Sample& x : samples) {
    AppendFixed(text, x.t, 4);
    text += ' ';
    AppendFixed(text, x.Vas + noise.Gaussian(kVoltageNoise), 1);
    text += ' ';
    AppendFixed(text, quantised(x.Ibs + noise.Gaussian(kCurrentNoise)), 5);
    text += ' ';
    AppendFixed(text, x.Wm + noise.Gaussian(kSpeedNoise), 2);
    text += ' ';
    AppendFixed(text, quantised(x.Ias + noise.Gaussian(kCurrentNoise)), 5);
    text += '\n';
  }
  std::FILE* f = std::fopen(record.string().c_str(), "wb");
  if (f == nullptr || std::fwrite(text.data(), 1, text.size(), f) != text.size() ||
      std::fclose(f) != 0) {
    std::fprintf(stderr, "make_dem1: impossible d'écrire %s\n", record.string().c_str());
    return false;
  }
  std::printf("wrote %s (%zu rows)\n", record.string().c_str(), samples.size());
  return true;
}

// The identification study of a record: its start-up (and events), integrated five times
// coarser than the record and recorded every millisecond.
bool WriteStudy(mas::SimulationSettings study, const std::filesystem::path& path) {
  study.t0 = 0.0;
  study.td0 = 0.0;
  study.dt = 5e-5;
  study.PushStep();
  study.OutStep = 20;
  study.OutSel[mas::kOutWm] = 1;
  study.OutSel[mas::kOutIas] = 1;
  try {
    mas::WriteParameterFile(study, path.string());
  } catch (const mas::ParameterFileError& e) {
    std::fprintf(stderr, "make_dem1: %s\n", e.what());
    return false;
  }
  std::printf("wrote %s\n", path.string().c_str());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const std::filesystem::path folder = argc > 1 ? argv[1] : ".";

  // The start-up: measured over 0.8 s, studied over 0.5 s. The cost's weights and the
  // record's name are settings of the dialogs, not of the study file: they are given on
  // the command line (examples/README.md).
  mas::SimulationSettings start;
  SetMachine(start);
  start.tf = 0.8;
  if (!WriteRecord(start, 20240611, folder / "dem1.dat")) return 1;
  start.tf = 0.5;
  if (!WriteStudy(start, folder / "identification.mas")) return 1;

  // The load step: 10 N m more from 0.5 s on, measured and studied over 0.8 s.
  mas::SimulationSettings step;
  SetMachine(step);
  step.Crt[0] = 0.5;
  step.da3ref[0] = 10.0;
  step.tf = 0.8;
  if (!WriteRecord(step, 20240612, folder / "charge1.dat")) return 1;
  return WriteStudy(step, folder / "identification_charge.mas") ? 0 : 1;
}
