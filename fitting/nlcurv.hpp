#pragma once
// Curvature that the scoring information lacks for estimated nonlinear parameters.
//
// The fit treats the derivative columns of the nonlinear parameters as covariates:
// the information X'WX it uses then omits the term -sum (y - mu) d2eta, the
// second derivatives of eta with respect to a parameter and to the coefficients
// (and to the other parameters). That term does not vanish at the optimum, so the
// plain steps converge only linearly, at a rate set by its size against the
// information: slowly when it is large, and with alternating over- and undershoot
// when the steps overshoot (a rate below -1 makes every full step lower the
// likelihood and be halved). The design store holds only first derivatives, so
// the missing rows and columns of the information are estimated from the change
// of the score between successive passes (a secant estimate restricted to the
// entries that the term can occupy), and the step solves with the corrected
// matrix. The covariance of the estimates keeps the scoring information.
#include "arrays.hpp"

namespace rg {

class NlCurvature {
 public:
  // n: order of the information matrix; rows first..n are the nonlinear parameters.
  NlCurvature(int n, int first);

  // Records a pass at the parameters phi(1..n) with score u(1..n) and information
  // a (both triangles filled), and updates the estimate from the previous pass.
  void observe(const Array1<double>& phi, const Array1<double>& u, const Matrix& a);

  // The step delta solving (a + correction) delta = u. False, leaving delta alone,
  // when there is no estimate yet or the corrected matrix is not clearly positive
  // definite (far from the optimum); the estimate is then dropped.
  bool step(const Matrix& a, const Array1<double>& u, Array1<double>& delta);

  // Drops the estimate (a corrected step that lowered the likelihood); the next
  // pass starts a new one.
  void forget();

 private:
  int n_, first_;
  bool have_prev_ = false, have_estimate_ = false;
  int pairs_ = 0;
  Array1<double> phi_, u_, s_, ws_, r_;
  Matrix a_, c_, work_;  // information of the previous pass, correction, factor
};

}  // namespace rg
