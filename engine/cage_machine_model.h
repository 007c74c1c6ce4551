#pragma once
// Squirrel-cage multi-loop model of the induction machine: one mesh per rotor bar plus
// the end-ring circulating current, coupled to a sinusoidally wound three-phase stator
// written in a frame fixed to the rotor. Each bar and each end-ring portion has its own
// resistance, so broken bars and broken ring portions show in the currents, the torque
// and the speed.
//
// This record holds the cage geometry, the per-bar resistances (which carry over from
// one run to the next, so that a broken bar stays broken), the per-bar output selections
// and, once ResetForRun has prepared a run, the inductance matrix, its inverse and the
// electrical and mechanical state. The run loop steps it exactly like DqMachineModel.
//
// Electrical equations, with the stator in the rotor frame (d, q) and the currents
// I = (isd, isq, Ir(0) .. Ir(Nr-1), Ie):
//   ML dI/dt = rhs(I, w, Vds, Vqs),  so  dI/dt = ML^-1 rhs
// ML depends only on the geometry, never on the resistances, so it is inverted once per
// run and a fault needs no new inversion.

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "engine/dq_machine_model.h"    // PhaseCurrents
#include "platform/file_replacement.h"  // LinkPolicy

namespace mas {

// A cage run that cannot start: the user's message and the caption of its message box.
// The front end shows it (exclamation icon); `kind` tells it which exit status the
// command line reports (1 for an invalid cage or a singular matrix, -1 for memory).
// Why the cage model cannot run with `bars` rotor bars (fewer than 3, or more than
// CageMachineModel::kMaxBars), or empty when it can.
std::string CageBarCountProblem(int bars);

struct CageModelError : std::runtime_error {
  enum class Kind { kInvalidCage, kSingularMatrix, kAllocation };
  CageModelError(Kind kind_in, const std::string& message, std::string caption_in)
      : std::runtime_error(message), kind(kind_in), caption(std::move(caption_in)) {}
  Kind kind;
  std::string caption;  // "Erreur", "Erreur de calcul" or "Erreur d'allocation"
};

// Inverts the n x n row-major matrix `a` by Gauss elimination of [a | identity]:
// for each column i < n-1, a zero pivot a[i][i] is replaced by swapping in the first row
// below it with a non-zero entry in column i (in `a` from column i on, in the augmented
// part entirely); there is no other pivoting and no scaling. Each row j > i then loses
// factor = a[j][i]/a[i][i] times row i (in `a` over columns i..n-1, so the entries under
// the diagonal keep the rounding residue of the elimination). Back substitution on the
// triangular form gives the inverse, row-major in `inverse`.
// `a` is left in its triangular form. Returns false when a column has no non-zero pivot
// at or below the diagonal; a zero last pivot is not detected (the inverse is then not
// finite). Throws std::invalid_argument when a.size() is not n x n, std::bad_alloc when
// the scratch matrix cannot be allocated.
bool GaussInvert(std::vector<double>& a, std::vector<double>& inverse, int n);

// y = A x for the n x n matrix A stored by columns, each column padded with zero rows to
// `rows`, a multiple of 4 (y has `rows` entries, the padding ones 0). Summing scaled
// columns keeps the rows independent of one another, so they fill vector registers,
// while each row still adds its n terms in column order as a row-by-row product would.
void MultiplyByColumns(const double* columns, int rows, int n, const double* x, double* y);

// printf's conversions for the model's text files, written without printf so that the
// bytes never depend on the locale. Each writes at `out` and returns the end of the text.
inline constexpr int kExp5Chars = 32;     // room needed by FormatExp5
inline constexpr int kFixed6Chars = 330;  // room needed by FormatFixed6 (any double)
// "%12.5e": mantissa with 5 decimals, exponent of at least two digits, right-justified
// in 12 characters.
char* FormatExp5(char* out, double value);
// "%f": fixed notation with 6 decimals.
char* FormatFixed6(char* out, double value);

class CageMachineModel {
 public:
  // Largest bar count for which the per-bar arrays are allocated. Real cages have a few
  // tens of bars, large machines a few hundred; the matrices of a run grow as the square
  // of Nr and their inversion as its cube (one to two seconds at this bound, with the
  // dump), so a file asking for more leaves the arrays empty and a cage run is refused.
  static constexpr int kMaxBars = 1000;
  // Permeability of vacuum (H/m), 4 pi 1e-7.
  static constexpr double kMu0 = 1.2566370614359173e-06;

  void SetElectricalParameters(double rs) { Rs = rs; }
  void SetMechanicalParameters(int pole_pairs, double j, double a10_in, double a20_in,
                               double a30_in) {
    p = pole_pairs;
    J = j;
    a10 = a10_in;
    a20 = a20_in;
    a30 = a30_in;
  }
  void SetStep(double dt) { h = dt; }
  void SetCageParameters(double rayon, double longueur, double e, int ns, int nr, double lsl,
                         double rb_sain, double rb_casse, double re_sain, double re_casse,
                         double le, double lb) {
    Rayon = rayon;
    Long = longueur;
    efer = e;
    Ns = ns;
    Nr = nr;
    Lsl = lsl;
    RbSain = rb_sain;
    RbCasse = rb_casse;
    ReSain = re_sain;
    ReCasse = re_casse;
    Le = le;
    Lb = lb;
  }

  // Sizes the per-bar arrays for the current Nr (none when Nr is outside 1..kMaxBars),
  // with the output selections cleared.
  void AllocateArrays();
  void FreeArrays();
  // Number of bars for which the arrays exist.
  int AllocatedBars() const { return static_cast<int>(Rb.size()); }
  // Every bar resistance back to the healthy value.
  void ResetBars();
  // Every end-ring portion resistance back to the healthy value.
  void ResetRings();

  // Run ---------------------------------------------------------------------------
  // Prepares a run: alpha and the inductances from the geometry, ML and its inverse,
  // the diagnostic dump, the state at rest with zero currents, the load coefficients.
  // Throws CageModelError when the cage cannot be run: fewer than 3 bars, per-bar
  // arrays not sized for Nr ("Erreur"); no usable pivot ("Erreur de calcul"); Nr above
  // kMaxBars ("Le modèle à cage accepte au plus 1000 barres rotoriques (Nr = N)") or
  // memory exhausted ("Erreur d'allocation"). A refused run leaves the model
  // unprepared: the read-outs give 0 and the steps throw.
  void ResetForRun();
  // One step of a star-connected stator fed with three phase voltages; returns the line
  // currents of phases a and b and the mechanical speed after the step.
  PhaseCurrents StepStar(double va, double vb, double vc);
  // One step of a delta-connected stator fed from the three inverter outputs (winding 1
  // between a and b, 2 between b and c, 3 between c and a); returns line currents.
  PhaseCurrents StepDelta(double va, double vb, double vc);

  void SetLoadIncrement1(double x) { a1Act = a10 + x; }
  void SetLoadIncrement2(double x) { a2Act = a20 + x; }
  void SetLoadIncrement3(double x) { a3Act = a30 + x; }

  // Matrix dump written by ResetForRun ("debinv.cpp" in the current directory by
  // default; an empty path writes none, for batch runs of the optimisers). The run never
  // depends on the file: when it cannot be written, DumpFailed() says so until the next
  // ResetForRun and the front end may tell the user.
  void SetDumpPath(std::string path) { dump_path_ = std::move(path); }
  const std::string& DumpPath() const { return dump_path_; }
  bool DumpFailed() const { return dump_failed_; }

  // Snapshot of the bar currents, one line "%d  %f\n" (bar, current) per bar of the
  // prepared run. Returns false when the file cannot be written.
  bool WriteBarCurrents(const std::string& path = "Ib.dat",
                        LinkPolicy links = LinkPolicy::kFollow) const;

  // Read-outs of the state after the last step (0 before a run is prepared, and for a
  // bar or mesh number outside the prepared cage).
  int RunBars() const { return run_bars_; }  // Nr of the prepared run, 0 if none
  double isd() const { return State(0); }
  double isq() const { return State(1); }
  double Ir(int k) const { return InCage(k) ? x_[k + 2] : 0.0; }
  double Ie() const { return State(iE); }
  // Bar k lies between meshes k and k+1; the last bar between mesh Nr-1 and mesh 0.
  double Ib(int k) const;
  // Current of end-ring portion k, which belongs to mesh k.
  double Ian(int k) const { return InCage(k) ? x_[k + 2] - x_[iE] : 0.0; }
  double theta() const { return State(iTheta); }  // electrical rotor angle (rad)
  double w() const { return State(iW); }          // electrical rotor speed (rad/s)
  // Electromagnetic torque Ce = 1.5 p Msr (isd Ssin - isq Scos), with
  // Ssin = sum sin(k alpha) Ir(k) and Scos = sum cos(k alpha) Ir(k).
  double Ce() const;
  // Load torque of the current state.
  double Cr() const { return LoadTorque(State(iW)); }
  // Load torque a1 (w/p)^2 + a2 (w/p) + a3 at the electrical speed w_el, the constant
  // term signed by SignSat(w_el) when Crsgn is set (as in DqMachineModel).
  double LoadTorque(double w_el) const;

  // Inductance matrix of the prepared run and its inverse, n = Nr + 3 (rows and columns
  // 0 and 1 the stator d and q axes, 2..Nr+1 the meshes, Nr+2 the end ring).
  // Entries outside the matrix read as 0.
  int MatrixSize() const { return n_; }
  double ML(int i, int j) const {
    return InMatrix(i, j) ? ml_[static_cast<std::size_t>(i) * n_ + j] : 0.0;
  }
  double InvML(int i, int j) const {
    return InMatrix(i, j) ? inv_cols_[static_cast<std::size_t>(j) * n_pad_ + i] : 0.0;
  }

  // Parameters.
  int Nr = 0;  // rotor bars (and meshes)
  int Ns = 0;  // stator turns per phase
  int Crsgn = 0;
  double RbSain = 0.0;
  double RbCasse = 0.0;
  std::vector<double> Rb;  // resistance in force of each bar (ohm)
  double Rs = 0.0;
  double ReSain = 0.0;
  double ReCasse = 0.0;
  std::vector<double> Re;  // resistance in force of each end-ring portion (ohm)
  double J = 0.0;
  double a10 = 0.0;
  double a20 = 0.0;
  double a30 = 0.0;
  double Rayon = 0.0;                   // rotor radius (m)
  double Long = 0.0;                    // stack length (m)
  double efer = 0.0;                    // air gap (m)
  double Lsl = 0.0;                     // stator leakage inductance (H)
  double Le = 0.0;                      // end-ring portion leakage inductance (H)
  double Lb = 0.0;                      // bar leakage inductance (H)
  std::vector<std::uint8_t> BarreSel;   // bar currents written to the output table
  std::vector<std::uint8_t> LoopSel;    // mesh currents written to the output table
  std::vector<std::uint8_t> AnneauSel;  // ring-portion currents written to the output table
  int p = 0;
  double a1Act = 0.0;
  double a2Act = 0.0;
  double a3Act = 0.0;
  double h = 0.0;  // integration step (s), a copy of dt

  // Derived by ResetForRun.
  double alpha = 0.0;  // electrical angle between adjacent bars, 2 pi p/Nr (rad)
  double Lsc = 0.0;    // stator cyclic inductance (H)
  double Msr = 0.0;    // stator phase to rotor mesh mutual amplitude (H)
  double Lrp = 0.0;    // air-gap self inductance of one mesh (H)
  double Mrr = 0.0;    // air-gap mutual inductance of two meshes, negative (H)
  int iE = 0;          // state index of the end-ring current, Nr + 2
  int iW = 0;          // state index of the electrical speed, Nr + 3
  int iTheta = 0;      // state index of the electrical rotor angle, Nr + 4

  // Voltages of the current step and stator currents after it.
  double Valphas = 0.0;  // stator frame (V)
  double Vbetas = 0.0;
  double Vds = 0.0;  // rotor frame, held over the step (V)
  double Vqs = 0.0;
  double Ialphas = 0.0;  // stator frame (A)
  double Ibetas = 0.0;

 private:
  bool InCage(int k) const { return k >= 0 && k < run_bars_; }
  bool InMatrix(int i, int j) const { return i >= 0 && i < n_ && j >= 0 && j < n_; }
  double State(int i) const { return run_bars_ > 0 ? x_[i] : 0.0; }
  // Refuses a step when no run is prepared or when the per-bar arrays no longer match
  // the prepared cage, rather than reading past their ends.
  void CheckPrepared() const;
  void Prepare();
  // ML of the geometry, row-major n x n, into m.
  void BuildML(std::vector<double>& m) const;
  void WriteDump(const std::vector<double>& triangular, const std::vector<double>& inverse);
  // dx = f(x): the n current derivatives ML^-1 rhs, then dw/dt and dtheta/dt.
  void Derivative(const double* x, double* dx);
  // Classical fourth-order Runge-Kutta over the Nr + 5 states with Vds, Vqs held:
  // k1 = f(x), k2 = f(x + h/2 k1), k3 = f(x + h/2 k2), k4 = f(x + h k3),
  // x += h/6 (k1 + 2 k2 + 2 k3 + k4).
  void Integrate();
  // Rotation into the rotor frame, one step, rotation back, theta wrapped once.
  void Advance();
  // cos and sin of the state's theta, kept from the previous step when theta is the same.
  void RotorAngleTrig(double& c, double& s);

  std::string dump_path_ = "debinv.cpp";
  bool dump_failed_ = false;

  // Prepared run.
  int run_bars_ = 0;              // 0 while no run is prepared
  int n_ = 0;                     // Nr + 3 currents
  int n_pad_ = 0;                 // n rounded up to a multiple of 4: length of a stored column
  double ce_factor_ = 0.0;        // p 1.5 Msr
  std::vector<double> ml_;        // ML, row-major n x n
  std::vector<double> inv_cols_;  // ML^-1 by columns, each padded with zeros to n_pad
  std::vector<double> sin_k_;     // sin(k alpha), k = 0..Nr-1
  std::vector<double> cos_k_;     // cos(k alpha)
  std::vector<double> rhs_;       // n
  std::vector<double> loop_r_;    // Rb(k) + Rb(k-1) + 2 Re(k) of the step
  std::vector<double> x_;         // state, Nr + 5
  std::vector<double> stage_;     // Runge-Kutta stage state
  std::vector<double> k1_, k2_, k3_, k4_;  // slopes, max(n_pad, Nr + 5) each
  double trig_theta_ = 0.0;                // angle of which trig_cos_, trig_sin_ are cos and sin
  double trig_cos_ = 1.0;
  double trig_sin_ = 0.0;
};

}  // namespace mas
