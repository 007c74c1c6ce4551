#include "dsvpwm/study.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

#include "dsvpwm/truncate.h"
#include "platform/file_replacement.h"

namespace mas {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kSqrt3 = 1.7320508075688772;
constexpr const char* kCaptionError = "Erreur";

// Column names of the debug table, after the time column.
constexpr std::array<const char*, 13> kColumnNames = {
    "Vasref(V)", "VasMLI(V)", "Valphas(V)", "Vbetas(V)", "Ias(A)", "Ibs(A)", "Ics(A)",
    "dIas(A)",   "dIbs(A)",   "dIcs(A)",    "Thetas",    "Sector", "k[0]"};

constexpr int kTimeWidth = 10;
constexpr int kColumnWidth = 16;
constexpr int kDigits = 8;

void PadTo(std::string& out, std::size_t start, int width) {
  const std::size_t used = out.size() - start;
  if (used < static_cast<std::size_t>(width)) out.append(width - used, ' ');
}

// A number as "%-<width>.8g" followed by two spaces; never depends on the locale.
void AppendNumber(std::string& out, double value, int width) {
  char buf[64];
  const auto end = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, kDigits);
  const std::size_t start = out.size();
  out.append(buf, end.ptr);
  PadTo(out, start, width);
  out += "  ";
}

void AppendInteger(std::string& out, long long value, int width) {
  char buf[32];
  const auto end = std::to_chars(buf, buf + sizeof buf, value);
  const std::size_t start = out.size();
  out.append(buf, end.ptr);
  PadTo(out, start, width);
  out += "  ";
}

std::string Header() {
  std::string header = "time(s)     ";
  for (const char* name : kColumnNames) {
    const std::size_t start = header.size();
    header += name;
    PadTo(header, start, kColumnWidth);
    header += "  ";
  }
  header += '\n';
  return header;
}

StandaloneOutcome Failure(std::string message) {
  StandaloneOutcome outcome;
  outcome.message = std::move(message);
  outcome.caption = kCaptionError;
  return outcome;
}

// "%g" without depending on the locale.
std::string FormatG(double value) {
  char buf[64];
  const auto end = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, 6);
  return std::string(buf, end.ptr);
}

// True when t = 0, dt, 2 dt ... reaches beyond `end` in a finite number of steps.
bool StepReaches(double dt, double end) {
  if (!std::isfinite(dt) || !(dt > 0.0)) return false;
  if (std::isnan(end) || end < 0.0) return true;  // the first step already ends the loop
  return std::isfinite(end) && end + dt > end;
}

}  // namespace

double VdsrefFromModulationIndex(double m, double E2) { return m * E2 * (4 / kPi) * kSqrt3; }

void SetStudyReference(DoubleSvpwm& modulator, double turn_fraction, double m) {
  modulator.Thetas = turn_fraction * 2 * kPi;
  modulator.Vdsref = VdsrefFromModulationIndex(m, modulator.E2);
  modulator.Vqsref = 0.0;
  modulator.Recompute();
}

bool ResultsAreFinite(const DoubleSvpwm& modulator) {
  const DoubleSvpwm& m = modulator;
  auto finite = [](double x) { return std::isfinite(x); };
  const std::array<double, 12> scalars = {m.Vdsref, m.Valphas, m.Vbetas, m.T0, m.T1, m.T2,
                                          m.T3,     m.T4,      m.z,      m.y,  m.w,  m.v};
  return std::ranges::all_of(scalars, finite) && std::ranges::all_of(m.A, finite) &&
         std::ranges::all_of(m.B, finite) && std::ranges::all_of(m.P, finite) &&
         std::ranges::all_of(m.phase_ref, finite);
}

std::optional<std::string> NonFiniteInstantsMessage(const DoubleSvpwm& modulator, double m) {
  if (ResultsAreFinite(modulator)) return std::nullopt;
  return "E/2 = " + FormatG(modulator.E2) + " V, TMLI = " + FormatG(modulator.TMLI) +
         " s et m = " + FormatG(m) + " donnent des instants non finis : réduire --e2 ou --mref";
}

std::optional<std::string> NonFiniteSimulationMessage(const DoubleSvpwm& modulator, double m) {
  DoubleSvpwm first = modulator;
  SetStudyReference(first, 0.0, m);
  return NonFiniteInstantsMessage(first, m);
}

std::vector<LegStateSample> SampleLegStates(DoubleSvpwm& modulator, std::size_t max_samples) {
  std::vector<LegStateSample> samples;
  const double period = 2 * modulator.TMLI;
  const double dt = modulator.dt;
  if (!StepReaches(dt, period)) return samples;
  for (double t = 0.0; t <= period && samples.size() < max_samples; t += dt) {
    samples.push_back({t, modulator.SwitchStatesAt(t)});
  }
  return samples;
}

int WaveformX(double t, double TMLI) {
  const std::int64_t x = TruncToInt64Saturating(270 + t / (2 * TMLI) * 400);
  if (x > std::numeric_limits<int>::max()) return std::numeric_limits<int>::max();
  if (x < std::numeric_limits<int>::min()) return std::numeric_limits<int>::min();
  return static_cast<int>(x);
}

StandaloneOutcome RunStandaloneSimulation(DoubleSvpwm& modulator, const StandaloneSimulation& sim,
                                          const std::string& path, Platform* platform) {
  if (!StepReaches(sim.dt, sim.tf)) {
    StandaloneOutcome refusal = Failure(
        "Pas de calcul invalide : dt doit \xc3\xaatre positif, fini et assez grand pour "
        "atteindre tf");
    refusal.refused = true;
    return refusal;
  }
  // One line per step: a step count beyond the bound would fill a disk for hours.
  if (!(sim.tf / sim.dt <= kMaxStandaloneLines)) {
    StandaloneOutcome refusal = Failure(
        "Param\xc3\xa8tres temporels invalides : plus d'un milliard de pas de 0 \xc3\xa0 tf "
        "(augmenter dt ou r\xc3\xa9"
        "duire tf)");
    refusal.refused = true;
    return refusal;
  }
  // Written beside the target and put in its place once complete (the previous table
  // stays whole on any failure; the destructor removes an unfinished one).
  FileReplacement out;
  if (!out.Begin(path)) return Failure("Impossible d'ouvrir le fichier " + path);
  auto write = [&out](const std::string& text) {
    return std::fwrite(text.data(), 1, text.size(), out.file()) == text.size();
  };
  const std::string write_error =
      "Erreur d'\xc3\xa9"
      "criture du fichier " +
      path;

  const double dt = sim.dt;
  modulator.dt = dt;
  modulator.Vdsref = VdsrefFromModulationIndex(sim.m, modulator.E2);
  modulator.Vqsref = 0.0;
  modulator.Thetas = 0.0;
  modulator.Recompute();
  std::array<double, kLegCount> current{};
  std::array<double, kLegCount> voltage{};

  std::string buffer = Header();
  buffer.reserve(1 << 16);
  const double period = 2 * modulator.TMLI;
  const double angle_step = kStudyFrequency * 2 * kPi * period;
  long long n = 0;
  long long lines = 0;
  double t = 0.0;
  bool interrupted = false;
  int progress_shown = 0;
  if (platform != nullptr) {
    platform->SetStatusText("Simulation en cours");
    platform->SetProgress(0);
  }
  do {
    // A new switching period: advance the reference angle by one period of the 50 Hz
    // fundamental's rotation and recompute the switching instants.
    if (t - 2 * static_cast<double>(n) * modulator.TMLI >= period) {
      ++n;
      modulator.Thetas += angle_step;
      if (modulator.Thetas > kPi) {
        modulator.Thetas -= 2 * kPi;
      } else if (modulator.Thetas < -kPi) {
        modulator.Thetas += 2 * kPi;
      }
      modulator.Recompute();
    }
    const std::array<int, kLegCount>& s = modulator.SwitchStatesAt(t);
    // Phase voltages of each star-connected set: the leg voltage less the set's
    // common-mode voltage. The legs switch between -E2 and +E2 (a DC bus of 2 E2, as the
    // drive's inverter feeds them), so V(Kj) = 2 E2/3 (2 Sj - Sk - Sl), whose fundamental
    // is the phase reference written beside it. (E2/3 (...) would be legs switching over
    // half the bus, a fundamental at half the reference.)
    const double third_of_bus = 2 * modulator.E2 / 3;
    for (int set = 0; set < kLegCount; set += 3) {
      const int s0 = s[set], s1 = s[set + 1], s2 = s[set + 2];
      voltage[set] = third_of_bus * (2 * s0 - s1 - s2);
      voltage[set + 1] = third_of_bus * (2 * s1 - s0 - s2);
      voltage[set + 2] = third_of_bus * (2 * s2 - s0 - s1);
    }

    AppendNumber(buffer, t, kTimeWidth);
    AppendNumber(buffer, modulator.phase_ref[0], kColumnWidth);
    AppendNumber(buffer, voltage[0], kColumnWidth);
    AppendNumber(buffer, modulator.Valphas, kColumnWidth);
    AppendNumber(buffer, modulator.Vbetas, kColumnWidth);
    for (double i : current) AppendNumber(buffer, i, kColumnWidth);
    AppendNumber(buffer, modulator.Thetas, kColumnWidth);
    AppendInteger(buffer, modulator.Sector, kColumnWidth);
    AppendInteger(buffer, s[0], kColumnWidth);
    buffer += '\n';
    ++lines;
    if (buffer.size() > (1 << 15)) {
      if (!write(buffer)) return Failure(write_error);
      buffer.clear();
    }

    for (int k = 0; k < kLegCount; ++k) {
      current[k] = current[k] + (voltage[k] - kStudyLoadR * current[k]) / kStudyLoadL * dt;
    }
    t = t + dt;
    if (platform != nullptr && lines % kStandalonePollLines == 0) {
      const std::int64_t progress =
          std::min<std::int64_t>(TruncToInt64Saturating(t / sim.tf * 100), 100);
      if (progress > progress_shown) {
        progress_shown = static_cast<int>(progress);
        platform->SetProgress(progress_shown);
      }
      if (platform->EscapePressed()) {
        interrupted = true;
        break;
      }
    }
  } while (t <= sim.tf);
  // A stop asked after the last poll still counts.
  if (platform != nullptr && !interrupted && platform->EscapePressed()) interrupted = true;
  if (platform != nullptr) platform->SetProgress(100);

  if (!write(buffer) || !out.Commit()) return Failure(write_error);

  StandaloneOutcome outcome;
  outcome.ok = true;
  outcome.interrupted = interrupted;
  outcome.lines = lines;
  return outcome;
}

}  // namespace mas
