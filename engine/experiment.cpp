#include "engine/experiment.h"

#include <algorithm>
#include <cmath>

#include "engine/numeric.h"

namespace mas {

int ExperimentalData::Rows() const {
  const std::size_t n = std::min({ExpTime.size(), ExpWm.size(), ExpIas.size()});
  return static_cast<int>(std::min<std::size_t>(n, 2000000000));
}

bool Interpolate(ExperimentalData& d, double t) {
  const int n = d.Rows();
  if (n < 2) return false;
  int k = std::clamp(d.ExpCursor, 0, n - 2);
  // The cursor moves one row per turn towards t; for increasing times each call costs one
  // or two comparisons. Each row is visited at most once in one direction.
  for (int turns = 0; turns <= 2 * n; ++turns) {
    const double c = d.ExpTime[k];
    const double next = d.ExpTime[k + 1];
    if (c <= t && t < next) {
      d.ExpWmInterp = d.ExpWm[k] + (d.ExpWm[k + 1] - d.ExpWm[k]) / (next - c) * (t - c);
      d.ExpIasInterp = d.ExpIas[k] + (d.ExpIas[k + 1] - d.ExpIas[k]) / (next - c) * (t - c);
      d.ExpCursor = k;
      return true;
    }
    k += c >= t ? -1 : 1;
    d.ExpCursor = k;
    if (k < 0 || k >= n - 1) break;
  }
  d.ExpCursor = std::clamp(d.ExpCursor, 0, n - 2);
  return false;
}

void UpdateMaxIasWindow(ExperimentalData& d, double v) {
  std::vector<double>& w = d.MaxIasWindow;
  if (w.empty()) {
    d.MaxIas = v;
    return;
  }
  d.MaxIas = w[0];
  for (std::size_t j = 1; j < w.size(); ++j) {
    w[j - 1] = w[j];
    if (w[j - 1] > d.MaxIas) d.MaxIas = w[j - 1];
  }
  w.back() = v;
  if (v > d.MaxIas) d.MaxIas = v;
}

int MaxIasWindowLength(double fs, double dt, int out_step) {
  const double len = 1 / (fs * dt * out_step);
  if (!std::isfinite(len) || len < 0 || len > kMaxIasWindowLimit) return -1;
  return TruncToInt(len);
}

double CostTimeWeight(double gA, double gt0, double t) {
  return 1 / (std::exp((gt0 - t) * gA) + 1);
}

}  // namespace mas
