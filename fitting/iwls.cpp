#include "iwls.hpp"

#include <algorithm>
#include <cmath>

#include "channels.hpp"
#include "console.hpp"
#include "dev_math.hpp"
#include "files.hpp"
#include "fixed_format.hpp"
#include "fixed_parse.hpp"
#include "run_exit.hpp"

namespace rg {

int mxitst() {
  Console& con = console();
  for (;;) {
    con.blank();
    con.blank();
    con.line("     Input maximum number of iterations for iterative weighted");
    con.line("     least squares (default unlimited):");
    std::string ans = con.answer();
    std::string_view first = column_field(ans, 1, 4);
    if (trim_right(first).empty()) return -1;
    auto v = parse_int(first);
    // -1 is the unlimited default written out; any other negative limit means nothing.
    if (v && *v >= -1 && *v <= 9999) return static_cast<int>(*v);
  }
}

void fitted_zero_one() {
  Console& con = console();
  con.blank();
  con.line("     ****WARNING**** Current parameter estimates yield a fitted");
  con.line("     probability of either 0 or 1 (to machine precision). This isn't going ");
  con.line("     to converge - I'm bailing out. Try different starting values.");
  end_run(1);
}

void trace_warning(unsigned event) {
  Console& con = console();
  con.blank();
  if (event == FITCAL_TRACE_HIGH)
    con.line("****WARNING**** Some trace values have approximate conditional expectation > trace threshold");
  else
    con.line("****WARNING**** Some trace values have approximate conditional expectation < 0");
}

double invpar(double& x0, double& y0, double& x1, double& y1, double& x2, double& y2) {
  double num = (x1 - x0) * (x1 - x0) * (y1 - y2) - (x1 - x2) * (x1 - x2) * (y1 - y0);
  double den = (x1 - x0) * (y1 - y2) - (x1 - x2) * (y1 - y0);
  // Three collinear points have no vertex: go back halfway instead of dividing by 0.
  double xnew = den != 0.0 ? x1 - 0.5 * num / den : 0.5 * x1;
  if (!(y2 < y0 && y2 < y1)) {
    if (y0 > y1) {
      x1 = x2;
      y1 = y2;
    } else {
      x0 = x2;
      y0 = y2;
    }
  }
  y2 = 0.0;
  x2 = xnew;
  return xnew;
}

void mlnues(double& nu, double sumlogy, std::int64_t n, double& ll) {
  const double nn = static_cast<double>(n);
  const double k = (ll + sumlogy) / nn + 1.0;
  // A start that is not a positive number (a moment estimate from too few
  // records) is replaced by 1; the equation has a root whenever K < 0, which holds
  // unless every observation equals its fitted mean.
  if (!(nu > 0.0) || !std::isfinite(nu)) nu = 1.0;
  if (!std::isfinite(k) || n <= 0) {
    ll = LLFLOOR;
    return;
  }
  auto f = [k](double x) {
    int ifail = 0;
    return digamm(std::exp(x), ifail) - x - k;
  };
  // The bracket walks outwards one unit of log(nu) at a time; 700 units span every
  // representable shape.
  double xa = std::log(nu / 2.0);
  double fa = f(xa);
  for (int i = 0; i < 700 && fa > 0.0; ++i) fa = f(xa -= 1.0);
  double xb = std::log(2.0 * nu);
  double fb = f(xb);
  for (int i = 0; i < 700 && fb < 0.0; ++i) fb = f(xb += 1.0);
  // Secant iteration: (xa, fa) newest, (xb, fb) previous. The walk has bracketed
  // the root in [lo, hi]; a secant point outside the bracket (the function is flat
  // for large shapes and steep for small ones, so a wide bracket can throw the
  // secant far off) is replaced by the bracket's midpoint. Near the root the points
  // are pure secant points.
  double lo = xa, hi = xb;
  std::swap(xa, xb);
  std::swap(fa, fb);
  for (int it = 0; it < 200 && std::fabs(xa - xb) >= 1e-8 && hi - lo >= 1e-8; ++it) {
    double xn = fb != fa ? (xa * fb - xb * fa) / (fb - fa) : 0.5 * (lo + hi);
    if (!(xn > lo && xn < hi)) xn = 0.5 * (lo + hi);
    xb = xa;
    fb = fa;
    xa = xn;
    fa = f(xa);
    if (fa > 0.0) hi = xa;
    else lo = xa;
  }
  nu = std::exp((xa + xb) / 2.0);
  int ifail = 0;
  ll = nu * (nn * std::log(nu) + sumlogy + ll) - nn * gammln(nu, ifail);
}

void sndwch(Matrix& v, int chscore, int m, std::int64_t ndays, int capacity) {
  if (m > capacity || m > MAXPAR) prgerr("SNDWCH", "fit_both", 2);
  const int n = m + 1;
  SequentialStore& st = channels().sequential(chscore);
  st.rewind();
  Matrix b(n, n);
  std::array<double, MAXPAR + 1> u{};
  for (std::int64_t d = 0; d < ndays; ++d) {
    if (!st.read(u.data(), sizeof(double) * static_cast<std::size_t>(n))) prgerr("SNDWCH", "fit_both", 3);
    for (int i = 0; i < n; ++i)
      for (int j = i; j < n; ++j) b(i + 1, j + 1) += u[static_cast<std::size_t>(i)] * u[static_cast<std::size_t>(j)];
  }
  for (int i = 1; i <= n; ++i)
    for (int j = 1; j < i; ++j) b(i, j) = b(j, i);
  Matrix t(n, n);  // t = v * b
  for (int j = 1; j <= n; ++j)
    for (int k = 1; k <= n; ++k) {
      double bkj = b(k, j);
      if (bkj == 0.0) continue;
      for (int i = 1; i <= n; ++i) t(i, j) += v(i, k) * bkj;
    }
  Matrix r(n, n);  // r = t * v, symmetric
  for (int j = 1; j <= n; ++j)
    for (int i = 1; i <= j; ++i) {
      double s = 0.0;
      for (int k = 1; k <= n; ++k) s += t(i, k) * v(k, j);
      r(i, j) = s;
      r(j, i) = s;
    }
  for (int j = 1; j <= n; ++j)
    for (int i = 1; i <= n; ++i) v(i, j) = r(i, j);
}

void nlupdt(Model& model, const Array1<double>& se, Array2<double>& setheta) {
  const int np6 = model.np(6), np7 = model.np(7);
  for (int i = np6 + 1; i <= np7; ++i) {
    int j = model.covcod(i) / 1000, p = model.covcod(i) % 1000;
    if (j < 1 || j > MAXPAR || p < 1 || p > MAXNLP) prgerr("NLUPDT", "fit_both", 3);
    if (!(std::fabs(model.beta(i)) <= 1.0e8)) {
      Console& con = console();
      con.blank();
      con.line("     ****ERROR**** During iteration, the estimate of parameter " + fmt_i(p, 1));
      con.line("     in the nonlinear transformation of covariate no. " + fmt_i(j, 2));
      con.line("     is approaching infinity. This isn't going to work - I'm bailing out.");
      con.line("     Try different starting values.");
      end_run(1);
    }
    // Weighting-scheme parameters live in the row of the scheme's owner, whichever
    // covariate's line gave them.
    int row = j;
    if (model.wtschm(j) >= 2 && model.pwtidx(model.wtschm(j), 1) != 0) row = model.pwtidx(model.wtschm(j), 1);
    model.theta(row, p) = model.beta(i);
    setheta(row, p) = se(i);
  }
}

}  // namespace rg
