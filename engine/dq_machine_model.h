#pragma once
// Two-axis model of the simulated three-phase induction machine, written in the
// stator-fixed frame (alpha, beta) with the stator currents and stator fluxes as
// electrical states and the electrical rotor speed as mechanical state.
//
// It is at the same time the record of the physical machine's parameters: the parameter
// file and the machine dialogs read and write Rs ... a30 and Crsgn here.

namespace mas {

struct PhaseCurrents {
  double ia = 0.0;     // line current of phase a (A)
  double ib = 0.0;     // line current of phase b (A)
  double omega = 0.0;  // mechanical speed (rad/s)
};

class DqMachineModel {
 public:
  // Configuration.
  void SetElectricalParameters(double rs, double rr, double ls, double lr, double m);
  void SetMechanicalParameters(int pole_pairs, double j, double a10, double a20, double a30);
  void SetStep(double dt) { h = dt; }

  // Run.
  void ResetForRun();
  // One step of a star-connected winding fed with three phase voltages.
  PhaseCurrents StepStar(double va, double vb, double vc);
  // One step of a delta-connected winding fed from the three inverter outputs
  // (winding 1 between a and b, 2 between b and c, 3 between c and a).
  PhaseCurrents StepDelta(double va, double vb, double vc);

  // Rotor-resistance event. A positive resistance changes the simulated machine from now
  // on: Tr, 1/Tr and 1/Ts + 1/Tr follow RrAct. A zero or negative resistance is ignored:
  // studies that never use these events store their times and values as 0, and applying
  // 0 ohm would short-circuit the rotor from the first step.
  void SetRotorResistance(double r);
  void SetLoadIncrement1(double x) { a1Act = a10 + x; }
  void SetLoadIncrement2(double x) { a2Act = a20 + x; }
  void SetLoadIncrement3(double x) { a3Act = a30 + x; }

  // Read-outs.
  double isAlpha() const { return x_[0]; }
  double isBeta() const { return x_[1]; }
  double PhisAlpha() const { return x_[2]; }
  double PhisBeta() const { return x_[3]; }
  double w() const { return x_[4]; }
  // Electromagnetic torque Ce = 1.5 p (PhisAlpha isBeta - isAlpha PhisBeta).
  double Ce() const { return 1.5 * p * (x_[2] * x_[1] - x_[0] * x_[3]); }
  // Stator back-EMF (the stator flux derivatives): V - Rs i on each axis.
  double Esalpha() const { return Valphas - Rs * x_[0]; }
  double Esbeta() const { return Vbetas - Rs * x_[1]; }
  // Load torque of the current state.
  double Cr() const { return LoadTorque(x_[4]); }
  // Load torque a1 (w/p)^2 + a2 (w/p) + a3 at the electrical speed w_el, the constant
  // term signed by SignSat(w_el) when Crsgn is set. The squared term keeps its sign for
  // negative speeds.
  double LoadTorque(double w_el) const;

  // Parameters (the physical machine), in the parameter-file order.
  double Rs = 0.0;
  double Rr = 0.0;
  double Ls = 0.0;
  double Lr = 0.0;
  double M = 0.0;
  double J = 0.0;
  double a10 = 0.0;
  double a20 = 0.0;
  double a30 = 0.0;
  int Crsgn = 0;
  int p = 0;

  // Derived per run by ResetForRun (and by SetRotorResistance for the rotor terms).
  double sigma = 0.0;
  double Ts = 0.0;
  double Tr = 0.0;
  double sigmaLs = 0.0;
  double invTs = 0.0;
  double invTr = 0.0;
  double invTsTr = 0.0;
  double RrAct = 0.0;
  double a1Act = 0.0;
  double a2Act = 0.0;
  double a3Act = 0.0;

  double Valphas = 0.0;  // stator voltages held over the step (V)
  double Vbetas = 0.0;
  double h = 0.0;  // integration step (s), a copy of dt

 private:
  // Constants of the derivative function that change only with the parameters.
  void UpdateRotorTerms();
  void Derivative(const double* x, double* dx) const;
  // Classical fourth-order Runge-Kutta with the stator voltages held over the step:
  // k1 = f(x), k2 = f(x + h/2 k1), k3 = f(x + h/2 k2), k4 = f(x + h k3),
  // x += h/6 (k1 + 2 k2 + 2 k3 + k4).
  void Integrate();

  double x_[5] = {0, 0, 0, 0, 0};  // isAlpha, isBeta, PhisAlpha, PhisBeta, w
  // Per-run constants of the derivative function.
  double invTsTr_over_sigma_ = 0.0;
  double invTr_over_sigmaLs_ = 0.0;
};

}  // namespace mas
