#include "engine/cage_machine_model.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>

#include "engine/numeric.h"
#include "platform/file_replacement.h"

namespace mas {

namespace {

constexpr const char* kCaptionError = "Erreur";
constexpr const char* kCaptionComputation = "Erreur de calcul";
constexpr const char* kCaptionAllocation = "Erreur d'allocation";
constexpr const char* kMessageSingular = "Triangularisation impossible : tous les pivots sont nuls";
constexpr const char* kMessageAllocation = "Pas assez de memoire, creation de variables impossible";

CageModelError AllocationError() {
  return CageModelError(CageModelError::Kind::kAllocation, kMessageAllocation, kCaptionAllocation);
}

// Two doubles handled by one SSE2 instruction per operation. Each lane rounds exactly
// as the same scalar operation would (no contraction into fused multiply-adds).
using Pair = double __attribute__((vector_size(16)));

Pair Load(const double* p) {
  Pair v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
void Store(double* p, Pair v) { std::memcpy(p, &v, sizeof v); }
Pair Both(double x) { return Pair{x, x}; }

// The mesh rows of the right-hand side,
//   rhs[k] = -((Rb(k) + Rb(k-1) + 2 Re(k)) Ir(k) - Rb(k-1) Ir(k-1) - Rb(k) Ir(k+1) - Re(k) Ie),
// with the first factor taken from loop[k], and the sums over the meshes of
// sin(k alpha) Ir(k), cos(k alpha) Ir(k) and Re(k) (Ir(k) - Ie), each gathered in two
// partial sums, one per lane: the meshes go by pairs, and successive pairs do not wait
// for each other's additions. Returns {Ssin, Scos, ring sum}.
struct MeshSums {
  double ssin, scos, ring;
};
MeshSums MeshTerms(int nr, const double* ir, double ie, const double* loop, const double* rb,
                   const double* re, const double* sin_k, const double* cos_k, double* rhs) {
  auto mesh = [&](int k, int previous, int next) {
    return -(loop[k] * ir[k] - rb[previous] * ir[previous] - rb[k] * ir[next] - re[k] * ie);
  };
  Pair ssin = Both(0.0), scos = Both(0.0), ring = Both(0.0);
  const Pair ie2 = Both(ie);
  // Meshes 1..nr-2 by pairs; the first and the last mesh close the cage.
  int k = 1;
  for (; k + 2 < nr; k += 2) {
    const Pair i = Load(ir + k);
    const Pair r = Load(re + k);
    Store(rhs + k, -(Load(loop + k) * i - Load(rb + k - 1) * Load(ir + k - 1) -
                     Load(rb + k) * Load(ir + k + 1) - r * ie2));
    ssin += Load(sin_k + k) * i;
    scos += Load(cos_k + k) * i;
    ring += r * (i - ie2);
  }
  MeshSums sums{ssin[0] + ssin[1], scos[0] + scos[1], ring[0] + ring[1]};
  auto single = [&](int j, int previous, int next) {
    rhs[j] = mesh(j, previous, next);
    sums.ssin += sin_k[j] * ir[j];
    sums.scos += cos_k[j] * ir[j];
    sums.ring += re[j] * (ir[j] - ie);
  };
  for (; k < nr - 1; ++k) single(k, k - 1, k + 1);
  single(0, nr - 1, 1);
  single(nr - 1, nr - 2, 0);
  return sums;
}

}  // namespace

std::string CageBarCountProblem(int bars) {
  if (bars < 3) {
    return "Le modèle à cage demande au moins 3 barres rotoriques (Nr = " + std::to_string(bars) +
           ")";
  }
  if (bars > CageMachineModel::kMaxBars) {
    return "Le modèle à cage accepte au plus " + std::to_string(CageMachineModel::kMaxBars) +
           " barres rotoriques (Nr = " + std::to_string(bars) + ")";
  }
  return {};
}

char* FormatExp5(char* out, double value) {
  // std::to_chars in scientific form with a precision writes exactly what "%.5e" writes
  // in the C locale (two exponent digits at least, "inf", "nan", "-nan"); only the
  // field width is left to add.
  char text[kExp5Chars];
  const char* end =
      std::to_chars(text, text + sizeof text, value, std::chars_format::scientific, 5).ptr;
  const std::ptrdiff_t length = end - text;
  for (std::ptrdiff_t pad = 12 - length; pad > 0; --pad) *out++ = ' ';
  std::memcpy(out, text, static_cast<std::size_t>(length));
  return out + length;
}

char* FormatFixed6(char* out, double value) {
  return std::to_chars(out, out + kFixed6Chars, value, std::chars_format::fixed, 6).ptr;
}

void MultiplyByColumns(const double* __restrict columns, int rows, int n,
                       const double* __restrict x, double* __restrict y) {
  std::fill(y, y + rows, 0.0);
  // Four columns at a time, so that each partial sum is loaded and stored once per four
  // terms; the terms still come in column order.
  const std::ptrdiff_t stride = rows;
  int j = 0;
  for (; j + 4 <= n; j += 4, columns += 4 * stride) {
    const double* c0 = columns;
    const double* c1 = columns + stride;
    const double* c2 = columns + 2 * stride;
    const double* c3 = columns + 3 * stride;
    const double x0 = x[j], x1 = x[j + 1], x2 = x[j + 2], x3 = x[j + 3];
    for (int i = 0; i < rows; i += 2) {
      y[i] = y[i] + c0[i] * x0 + c1[i] * x1 + c2[i] * x2 + c3[i] * x3;
      y[i + 1] = y[i + 1] + c0[i + 1] * x0 + c1[i + 1] * x1 + c2[i + 1] * x2 + c3[i + 1] * x3;
    }
  }
  for (; j < n; ++j, columns += stride) {
    const double xj = x[j];
    for (int i = 0; i < rows; i += 4) {
      y[i] += columns[i] * xj;
      y[i + 1] += columns[i + 1] * xj;
      y[i + 2] += columns[i + 2] * xj;
      y[i + 3] += columns[i + 3] * xj;
    }
  }
}

bool GaussInvert(std::vector<double>& a, std::vector<double>& inverse, int n) {
  if (n < 1 || a.size() != static_cast<std::size_t>(n) * static_cast<std::size_t>(n)) {
    throw std::invalid_argument("GaussInvert: the matrix is not n x n");
  }
  const std::size_t size = static_cast<std::size_t>(n);
  auto at = [size](std::vector<double>& m, std::size_t i, std::size_t j) -> double& {
    return m[i * size + j];
  };
  std::vector<double> augmented(size * size, 0.0);
  for (std::size_t i = 0; i < size; ++i) at(augmented, i, i) = 1.0;

  for (std::size_t i = 0; i + 1 < size; ++i) {
    if (at(a, i, i) == 0.0) {
      std::size_t j = i + 1;
      while (j < size && at(a, j, i) == 0.0) ++j;
      if (j == size) return false;
      for (std::size_t c = i; c < size; ++c) std::swap(at(a, i, c), at(a, j, c));
      for (std::size_t c = 0; c < size; ++c) std::swap(at(augmented, i, c), at(augmented, j, c));
    }
    const double pivot = at(a, i, i);
    for (std::size_t j = i + 1; j < size; ++j) {
      const double factor = at(a, j, i) / pivot;
      for (std::size_t c = i; c < size; ++c) at(a, j, c) = at(a, j, c) - factor * at(a, i, c);
      for (std::size_t c = 0; c < size; ++c) {
        at(augmented, j, c) = at(augmented, j, c) - factor * at(augmented, i, c);
      }
    }
  }

  // Back substitution, one column of the augmented matrix at a time:
  // X[n-1][c] = A[n-1][c]/ML[n-1][n-1];
  // X[k][c] = (A[k][c] - sum over l > k of ML[k][l] X[l][c])/ML[k][k].
  inverse.assign(size * size, 0.0);
  for (std::size_t c = 0; c < size; ++c) {
    at(inverse, size - 1, c) = at(augmented, size - 1, c) / at(a, size - 1, size - 1);
    for (std::size_t k = size - 1; k-- > 0;) {
      double sum = 0.0;
      for (std::size_t l = k + 1; l < size; ++l) sum += at(a, k, l) * at(inverse, l, c);
      at(inverse, k, c) = (at(augmented, k, c) - sum) / at(a, k, k);
    }
  }
  return true;
}

void CageMachineModel::AllocateArrays() {
  const std::size_t n = (Nr >= 1 && Nr <= kMaxBars) ? static_cast<std::size_t>(Nr) : 0;
  Rb.assign(n, 0.0);
  Re.assign(n, 0.0);
  BarreSel.assign(n, 0);
  LoopSel.assign(n, 0);
  AnneauSel.assign(n, 0);
}

void CageMachineModel::FreeArrays() {
  Rb.clear();
  Re.clear();
  BarreSel.clear();
  LoopSel.clear();
  AnneauSel.clear();
}

void CageMachineModel::ResetBars() { std::fill(Rb.begin(), Rb.end(), RbSain); }

void CageMachineModel::ResetRings() { std::fill(Re.begin(), Re.end(), ReSain); }

void CageMachineModel::ResetForRun() {
  // Forget the previous run first, so that a refused run leaves nothing half prepared.
  run_bars_ = 0;
  n_ = 0;
  n_pad_ = 0;
  dump_failed_ = false;
  if (std::string problem = CageBarCountProblem(Nr); !problem.empty()) {
    // Too many bars is said as the limit that keeps the (Nr + 3)^2 matrices within memory.
    const bool too_many = Nr > kMaxBars;
    throw CageModelError(
        too_many ? CageModelError::Kind::kAllocation : CageModelError::Kind::kInvalidCage, problem,
        too_many ? kCaptionAllocation : kCaptionError);
  }
  const std::size_t bars = static_cast<std::size_t>(Nr);
  if (Rb.size() != bars || Re.size() != bars) {
    throw CageModelError(CageModelError::Kind::kInvalidCage,
                         "Les résistances des barres et de l'anneau ne sont pas allouées pour "
                         "Nr = " +
                             std::to_string(Nr) +
                             " barres : rechargez le fichier de paramètres ou validez les "
                             "paramètres de la machine à cage",
                         kCaptionError);
  }
  try {
    Prepare();
  } catch (const std::bad_alloc&) {
    run_bars_ = 0;
    n_ = 0;
    n_pad_ = 0;
    throw AllocationError();
  }
}

void CageMachineModel::Prepare() {
  const int nr = Nr;
  const int n = nr + 3;
  iE = nr + 2;
  iW = nr + 3;
  iTheta = nr + 4;

  // Inductances of the cage and of the sinusoidally wound stator from the geometry,
  // with the air-gap field taken as radial and uniform across the gap:
  //   Lrp = mu0 2 pi R L (Nr - 1)/(Nr^2 e)    self inductance of one mesh (air-gap part)
  //   Mrr = -mu0 2 pi R L/(Nr^2 e)            mutual of two meshes (the returning flux)
  //   Lsc = (3/pi) mu0 Ns^2 2 R L/(e p^2) + Lsl
  //   Msr = sin(alpha/2) mu0 (4/pi) Ns R L/(e p^2)
  alpha = p * (2 * kPi) / nr;
  Lrp = kMu0 * 2 * kPi * Rayon * Long * (nr - 1) / nr / nr / efer;
  Mrr = -kMu0 * 2 * kPi * Rayon * Long / nr / nr / efer;
  Lsc = 0.954929658551372 * kMu0 * Ns * Ns / efer / p / p * 2 * Rayon * Long + Lsl;
  Msr = std::sin(alpha / 2) * kMu0 * 1.2732395447351628 / efer / p / p * Ns * Rayon * Long;
  ce_factor_ = p * 1.5 * Msr;

  // The bar positions enter every derivative evaluation through sin(k alpha) and
  // cos(k alpha); they are fixed for the run.
  sin_k_.resize(static_cast<std::size_t>(nr));
  cos_k_.resize(static_cast<std::size_t>(nr));
  for (int k = 0; k < nr; ++k) {
    sin_k_[k] = std::sin(k * alpha);
    cos_k_[k] = std::cos(k * alpha);
  }

  std::vector<double> triangular;
  BuildML(triangular);
  std::vector<double> inverse;
  if (!GaussInvert(triangular, inverse, n)) {
    throw CageModelError(CageModelError::Kind::kSingularMatrix, kMessageSingular,
                         kCaptionComputation);
  }
  BuildML(ml_);

  // The inverse is kept by columns, each padded with zero rows to a multiple of four:
  // the product ML^-1 rhs is then a sum of whole columns scaled by the rhs entries, whose
  // rows are independent of one another (the compiler packs them into vector registers)
  // while each row still adds its terms in column order, as a row-by-row product would.
  n_pad_ = (n + 3) / 4 * 4;
  const std::size_t pad = static_cast<std::size_t>(n_pad_);
  inv_cols_.assign(pad * static_cast<std::size_t>(n), 0.0);
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) {
      inv_cols_[static_cast<std::size_t>(j) * pad + i] =
          inverse[static_cast<std::size_t>(i) * n + j];
    }
  }
  n_ = n;

  if (!dump_path_.empty()) WriteDump(triangular, inverse);

  const std::size_t states = static_cast<std::size_t>(nr) + 5;
  const std::size_t slopes = std::max(states, pad);
  rhs_.assign(static_cast<std::size_t>(n), 0.0);
  loop_r_.assign(static_cast<std::size_t>(nr), 0.0);
  x_.assign(states, 0.0);
  stage_.assign(states, 0.0);
  k1_.assign(slopes, 0.0);
  k2_.assign(slopes, 0.0);
  k3_.assign(slopes, 0.0);
  k4_.assign(slopes, 0.0);
  trig_theta_ = 0.0;
  trig_cos_ = 1.0;
  trig_sin_ = 0.0;
  Vds = 0.0;
  Vqs = 0.0;
  Valphas = 0.0;
  Vbetas = 0.0;
  Ialphas = 0.0;
  Ibetas = 0.0;
  a1Act = a10;
  a2Act = a20;
  a3Act = a30;
  run_bars_ = nr;
}

// Rows and columns: 0 and 1 the stator d and q axes, 2..Nr+1 the meshes, Nr+2 the ring.
// The stator rows hold -Msr cos(k alpha), -Msr sin(k alpha) for mesh k; the mesh rows
// hold 1.5 times these, the amplitude-preserving transform of three phase currents
// seen by a mesh. Each mesh adds its two bars' and its two ring portions' leakage to
// its self inductance, shares -Lb with each neighbour through their common bar, and
// -Le/Nr with the ring current.
void CageMachineModel::BuildML(std::vector<double>& m) const {
  const int nr = Nr;
  const int n = nr + 3;
  const int ie = nr + 2;
  const std::size_t size = static_cast<std::size_t>(n);
  m.assign(size * size, 0.0);
  auto at = [&m, size](int i, int j) -> double& {
    return m[static_cast<std::size_t>(i) * size + static_cast<std::size_t>(j)];
  };
  at(0, 0) = Lsc;
  at(1, 1) = Lsc;
  at(ie, ie) = Le;
  for (int k = 0; k < nr; ++k) {
    at(0, k + 2) = -cos_k_[k] * Msr;
    at(1, k + 2) = -sin_k_[k] * Msr;
    at(k + 2, 0) = 1.5 * at(0, k + 2);
    at(k + 2, 1) = 1.5 * at(1, k + 2);
    at(k + 2, ie) = -Le / nr;
    at(ie, k + 2) = -Le / nr;
  }
  for (int i = 0; i < nr; ++i) {
    for (int j = 0; j < nr; ++j) at(i + 2, j + 2) = Mrr;
  }
  for (int k = 0; k < nr; ++k) at(k + 2, k + 2) = 2 * Le / nr + Lrp + 2 * Lb;
  for (int k = 1; k <= nr - 2; ++k) {
    at(k + 2, k + 1) = Mrr - Lb;
    at(k + 2, k + 3) = Mrr - Lb;
  }
  // The first and the last mesh are neighbours too.
  at(2, 3) = Mrr - Lb;
  at(2, nr + 1) = Mrr - Lb;
  at(nr + 1, 2) = Mrr - Lb;
  at(nr + 1, nr) = Mrr - Lb;
}

void CageMachineModel::WriteDump(const std::vector<double>& triangular,
                                 const std::vector<double>& inverse) {
  // Written beside the previous dump and put in its place once complete.
  FileReplacement out;
  if (!out.Begin(dump_path_)) {
    dump_failed_ = true;
    return;
  }
  const std::size_t n = static_cast<std::size_t>(n_);
  std::string row;
  row.reserve(n * (kExp5Chars + 1) + 1);
  bool ok = true;
  auto text = [&](const char* s) { ok = ok && std::fputs(s, out.file()) >= 0; };
  // Each element as "%12.5e ", each row ended by a new line.
  auto matrix = [&](auto element) {
    for (std::size_t i = 0; i < n && ok; ++i) {
      row.clear();
      for (std::size_t j = 0; j < n; ++j) {
        char cell[kExp5Chars + 1];
        char* end = FormatExp5(cell, element(i, j));
        *end++ = ' ';
        row.append(cell, end);
      }
      row.push_back('\n');
      ok = std::fwrite(row.data(), 1, row.size(), out.file()) == row.size();
    }
  };
  text("-----  Matrice de ML Triangularisee --------\n\n");
  matrix([&](std::size_t i, std::size_t j) { return triangular[i * n + j]; });
  text("\n\n------------------------------------------------\n\n");
  text("\n\n-----  Matrice ML  --------\n\n");
  matrix([&](std::size_t i, std::size_t j) { return ml_[i * n + j]; });
  text("\n\n-----  Matrice Inverse de ML  --------\n\n");
  matrix([&](std::size_t i, std::size_t j) { return inverse[i * n + j]; });
  text("\n\n-----  Matrice Identite  --------\n\n");
  matrix([&](std::size_t i, std::size_t j) {
    double sum = 0.0;
    for (std::size_t k = 0; k < n; ++k) sum += ml_[i * n + k] * inverse[k * n + j];
    return sum;
  });
  ok = ok && out.Commit();
  if (!ok) dump_failed_ = true;
}

double CageMachineModel::LoadTorque(double w_el) const {
  const double omega = w_el / p;
  const double constant = Crsgn != 0 ? a3Act * SignSat(w_el) : a3Act;
  return a1Act * omega * omega + a2Act * omega + constant;
}

double CageMachineModel::Ib(int k) const {
  if (!InCage(k)) return 0.0;
  const int next = k + 1 == run_bars_ ? 0 : k + 1;
  return x_[k + 2] - x_[next + 2];
}

double CageMachineModel::Ce() const {
  if (run_bars_ == 0) return 0.0;
  double ssin = 0.0;
  double scos = 0.0;
  for (int k = 0; k < run_bars_; ++k) {
    ssin += sin_k_[k] * x_[k + 2];
    scos += cos_k_[k] * x_[k + 2];
  }
  return ce_factor_ * (x_[0] * ssin - x_[1] * scos);
}

// Right-hand side of ML dI/dt = rhs, bar and mesh numbers taken modulo Nr:
//   rhs[0]    = Vds - (Rs isd - w Lsc isq + w Msr Ssin)
//   rhs[1]    = Vqs - (w Lsc isd + Rs isq - w Msr Scos)
//   rhs[k+2]  = -((Rb(k) + Rb(k-1) + 2 Re(k)) Ir(k) - Rb(k-1) Ir(k-1) - Rb(k) Ir(k+1)
//               - Re(k) Ie)                                  mesh k
//   rhs[Nr+2] = sum over k of Re(k) (Ir(k) - Ie)              end ring
// then dI/dt = ML^-1 rhs, Ce = 1.5 p Msr (isd Ssin - isq Scos), dw/dt = p (Ce - Cr)/J
// and dtheta/dt = w.
void CageMachineModel::Derivative(const double* x, double* dx) {
  const int nr = run_bars_;
  const double isd_x = x[0];
  const double isq_x = x[1];
  const double* ir = x + 2;
  const double ie = x[iE];
  const double w_el = x[iW];
  const double* rb = Rb.data();
  const double* re = Re.data();
  double* rhs = rhs_.data();

  const MeshSums sums =
      MeshTerms(nr, ir, ie, loop_r_.data(), rb, re, sin_k_.data(), cos_k_.data(), rhs + 2);
  const double ssin = sums.ssin;
  const double scos = sums.scos;
  const double ring = sums.ring;
  rhs[0] = Vds - (Rs * isd_x - w_el * Lsc * isq_x + w_el * Msr * ssin);
  rhs[1] = Vqs - (w_el * Lsc * isd_x + Rs * isq_x - w_el * Msr * scos);
  rhs[iE] = ring;

  // dI/dt = ML^-1 rhs; the padding rows land on entries that are overwritten just below
  // or never read.
  MultiplyByColumns(inv_cols_.data(), n_pad_, n_, rhs, dx);

  const double ce = ce_factor_ * (isd_x * ssin - isq_x * scos);
  dx[iW] = p * (ce - LoadTorque(w_el)) / J;
  dx[iTheta] = w_el;
}

void CageMachineModel::Integrate() {
  const std::size_t states = x_.size();
  const std::size_t pairs = states / 2 * 2;
  double* x = x_.data();
  double* stage = stage_.data();
  const double* k1 = k1_.data();
  const double* k2 = k2_.data();
  const double* k3 = k3_.data();
  const double* k4 = k4_.data();
  // stage = x + c k, two states at a time.
  auto stage_from = [&](double c, const double* k) {
    const Pair c2 = Both(c);
    std::size_t i = 0;
    for (; i < pairs; i += 2) Store(stage + i, Load(x + i) + c2 * Load(k + i));
    for (; i < states; ++i) stage[i] = x[i] + c * k[i];
  };
  const double half = h / 2;
  Derivative(x, k1_.data());
  stage_from(half, k1);
  Derivative(stage, k2_.data());
  stage_from(half, k2);
  Derivative(stage, k3_.data());
  stage_from(h, k3);
  Derivative(stage, k4_.data());
  const double sixth = h / 6;
  const Pair sixth2 = Both(sixth);
  const Pair two = Both(2.0);
  std::size_t i = 0;
  for (; i < pairs; i += 2) {
    Store(x + i, Load(x + i) + sixth2 * (Load(k1 + i) + two * Load(k2 + i) + two * Load(k3 + i) +
                                         Load(k4 + i)));
  }
  for (; i < states; ++i) x[i] = x[i] + sixth * (k1[i] + 2 * k2[i] + 2 * k3[i] + k4[i]);
}

void CageMachineModel::CheckPrepared() const {
  const std::size_t bars = static_cast<std::size_t>(run_bars_);
  if (run_bars_ == 0 || Rb.size() != bars || Re.size() != bars) {
    throw CageModelError(CageModelError::Kind::kInvalidCage,
                         "Le modèle à cage n'est pas préparé pour ce calcul : ses résistances "
                         "de barres et d'anneau ne correspondent pas à la cage du calcul",
                         kCaptionError);
  }
}

void CageMachineModel::RotorAngleTrig(double& c, double& s) {
  // Without a wrap, the angle at the start of a step is the one the previous step
  // rotated its currents back with: its cosine and sine are already known.
  const double th = x_[iTheta];
  if (th != trig_theta_ || std::signbit(th) != std::signbit(trig_theta_)) {
    trig_theta_ = th;
    trig_cos_ = std::cos(th);
    trig_sin_ = std::sin(th);
  }
  c = trig_cos_;
  s = trig_sin_;
}

void CageMachineModel::Advance() {
  CheckPrepared();
  // Resistance of each mesh's own loop, Rb(k) + Rb(k-1) + 2 Re(k): fault events change
  // the resistances between steps only.
  const int nr = run_bars_;
  for (int k = 0; k < nr; ++k) {
    loop_r_[k] = Rb[k] + Rb[k == 0 ? nr - 1 : k - 1] + 2 * Re[k];
  }
  double c = 0.0;
  double s = 0.0;
  RotorAngleTrig(c, s);
  Vds = c * Valphas + s * Vbetas;
  Vqs = -s * Valphas + c * Vbetas;
  Integrate();
  RotorAngleTrig(c, s);
  Ialphas = c * x_[0] - s * x_[1];
  Ibetas = s * x_[0] + c * x_[1];
  double& th = x_[iTheta];
  if (th > kPi) th -= 2 * kPi;
  if (th < -kPi) th += 2 * kPi;
}

PhaseCurrents CageMachineModel::StepStar(double a, double b, double c) {
  // The zero-sequence part of the three voltages drives no current in a star winding.
  const double vb_phase = (2 * b - a - c) / 3;
  const double vc_phase = (2 * c - a - b) / 3;
  const double va_phase = (2 * a - b - c) / 3;
  Valphas = (2 * va_phase - vb_phase - vc_phase) / 3;
  Vbetas = (vb_phase - vc_phase) / kSqrt3;
  Advance();
  return {Ialphas, (kSqrt3 * Ibetas - Ialphas) / 2, x_[iW] / p};
}

PhaseCurrents CageMachineModel::StepDelta(double a, double b, double c) {
  Valphas = (2 * (a - b) - (b - c) - (c - a)) / 3;
  Vbetas = ((b - c) - (c - a)) / kSqrt3;
  Advance();
  const double i1 = Ialphas;
  const double i2 = (kSqrt3 * Ibetas - Ialphas) / 2;
  return {2 * i1 + i2, i2 - i1, x_[iW] / p};
}

bool CageMachineModel::WriteBarCurrents(const std::string& path, LinkPolicy links) const {
  FileReplacement out;
  if (!out.Begin(path, links)) return false;
  bool ok = true;
  for (int k = 0; k < run_bars_ && ok; ++k) {
    // "%d  %f\n"
    char line[16 + kFixed6Chars];
    char* end = std::to_chars(line, line + 16, k).ptr;
    *end++ = ' ';
    *end++ = ' ';
    end = FormatFixed6(end, Ib(k));
    *end++ = '\n';
    const std::size_t length = static_cast<std::size_t>(end - line);
    ok = std::fwrite(line, 1, length, out.file()) == length;
  }
  return ok && out.Commit();
}

}  // namespace mas
