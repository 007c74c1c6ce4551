#pragma once
// Amplitude-preserving Clarke and Park transforms and their inverses, with the
// delta-connection variants, and the angle of a flux vector.

#include <cmath>

#include "engine/numeric.h"

namespace mas {

struct AlphaBeta {
  double alpha = 0.0;
  double beta = 0.0;
};

struct ThreePhase {
  double a = 0.0;
  double b = 0.0;
  double c = 0.0;
};

// Clarke transform of two measured line currents (the third is -(a + b)). For a delta
// winding the line currents are first turned into winding currents:
// a' = (a - b)/3, b' = (a + 2 b)/3. Then alpha = a, beta = (2 b + a)/sqrt(3).
inline AlphaBeta ClarkeCurrents(double a, double b, bool delta) {
  if (delta) {
    const double winding_a = (a - b) / 3;
    const double winding_b = (a + 2 * b) / 3;
    a = winding_a;
    b = winding_b;
  }
  return {a, (2 * b + a) / kSqrt3};
}

// Park transform to the frame at angle theta (given by its cosine and sine):
// d = alpha cos + beta sin, q = -alpha sin + beta cos.
inline void Park(AlphaBeta in, double cos_theta, double sin_theta, double& d, double& q) {
  d = in.alpha * cos_theta + in.beta * sin_theta;
  q = -in.alpha * sin_theta + in.beta * cos_theta;
}

// Inverse Park: alpha = d cos - q sin, beta = d sin + q cos.
inline AlphaBeta InversePark(double d, double q, double cos_theta, double sin_theta) {
  return {d * cos_theta - q * sin_theta, d * sin_theta + q * cos_theta};
}

// Inverse Clarke to the three phase references: x = alpha, y = (sqrt(3) beta - alpha)/2,
// z = (-alpha - sqrt(3) beta)/2. A delta winding is fed from the legs so that its winding
// voltages are (x, y, z): a = (2 x + y)/3, b = (y - x)/3, c = -a - b.
inline ThreePhase InverseClarke(AlphaBeta v, bool delta) {
  const double x = v.alpha;
  const double y = (kSqrt3 * v.beta - v.alpha) / 2;
  const double z = (-v.alpha - kSqrt3 * v.beta) / 2;
  if (!delta) return {x, y, z};
  const double a = (2 * x + y) / 3;
  const double b = (y - x) / 3;
  return {a, b, -a - b};
}

// Three leg (pole) voltages to the stationary frame of the star winding, the common part
// removed: van = (2 Va - Vb - Vc)/3 ..., alpha = (2 van - vbn - vcn)/3,
// beta = (vbn - vcn)/sqrt(3).
inline AlphaBeta PhaseToStationary(double va, double vb, double vc) {
  const double van = (2 * va - vb - vc) / 3;
  const double vbn = (2 * vb - va - vc) / 3;
  const double vcn = (2 * vc - va - vb) / 3;
  return {(2 * van - vbn - vcn) / 3, (vbn - vcn) / kSqrt3};
}

// Angle of a flux vector (x, y) in (-pi, pi]: atan(y/x), plus pi when x < 0, minus 2 pi
// when above pi; 0 when x is exactly 0, whatever y.
inline double FluxAngle(double x, double y) {
  if (x == 0.0) return 0.0;
  double theta = std::atan(y / x);
  if (x < 0) theta += kPi;
  if (theta > kPi) theta -= 2 * kPi;
  return theta;
}

// One wrap of an angle into [-pi, pi]: above pi subtract 2 pi, then below -pi add 2 pi.
inline double WrapOnce(double theta) {
  if (theta > kPi) theta -= 2 * kPi;
  if (theta < -kPi) theta += 2 * kPi;
  return theta;
}

}  // namespace mas
