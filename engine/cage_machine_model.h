#pragma once
// Squirrel-cage multi-loop model of the induction machine: one mesh per rotor bar plus
// the end-ring current. This record holds its geometry, its per-bar resistances (which
// carry over from one run to the next, so that a broken bar stays broken) and the
// per-bar output selections. Its dynamics are stepped by the run loop when the cage
// model is selected.

#include <cstdint>
#include <vector>

namespace mas {

class CageMachineModel {
 public:
  // Largest bar count for which the per-bar arrays are allocated; a file asking for
  // more leaves the arrays empty and a cage run is refused.
  static constexpr int kMaxBars = 10000;

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

  void SetLoadIncrement1(double x) { a1Act = a10 + x; }
  void SetLoadIncrement2(double x) { a2Act = a20 + x; }
  void SetLoadIncrement3(double x) { a3Act = a30 + x; }

  int Nr = 0;
  int Ns = 0;
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
  double h = 0.0;
};

}  // namespace mas
