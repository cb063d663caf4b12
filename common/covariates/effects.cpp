// Site-attribute transformations, trends, monthly effects and daily seasonal effects.
#include "effects.hpp"

#include <cmath>
#include <string>

#include "console.hpp"
#include "files.hpp"
#include "fixed_format.hpp"
#include "prevday.hpp"  // thtchk
#include "run_exit.hpp"

namespace rg {

namespace {

// Transformation codes of site attributes.
constexpr int XFM_BOXCOX = 1, XFM_EXP = 2, XFM_ATAN = 3;
constexpr int XFM_FOURIER_LO = 11, XFM_FOURIER_HI = 30;
constexpr int XFM_LEGENDRE_LO = 31, XFM_LEGENDRE_HI = 40;

// Below this |lambda * ln x| the Box-Cox derivative is summed as a series: the closed
// form (1 + (u - 1) e^u) / lambda^2 cancels to nothing as u goes to 0.
constexpr double BOXCOX_SERIES = 1.0e-2;

std::string text70(const std::string& s) { return fmt_a(s, TXTLEN); }

[[noreturn]] void limits_missing(int w, const std::string& mdltit) {
  Console& con = console();
  con.blank();
  con.line("****ERROR**** Wrong number of parameters supplied to ATTRXFM");
  con.line("(covariate " + fmt_i(w, 2) + "). Check model definition file. (I'm currently working");
  con.line("on the following model:");
  con.line(text70(mdltit) + ")");
  end_run(1);
}

[[noreturn]] void not_positive(int attribute, int site) {
  Console& con = console();
  con.blank();
  con.line("****ERROR**** you have asked for a Box-Cox transform of site attribute " + fmt_i(attribute, 2) + ",");
  con.line("but the value of this attribute is no strictly positive at site " + fmt_i(site, 3) + ".");
  end_run(1);
}

[[noreturn]] void illegal_transformation() {
  Console& con = console();
  con.blank();
  con.line("****ERROR**** Illegal transformation requested in ATTRXFM");
  end_run(1);
}

// Box-Cox value and derivative with respect to lambda.
void boxcox(double x, double lambda, double& value, double& deriv) {
  const double lx = std::log(x);
  if (lambda == 0.0) {
    value = lx;
    deriv = 0.5 * lx * lx;
    return;
  }
  const double u = lambda * lx;
  value = std::expm1(u) / lambda;
  if (std::fabs(u) < BOXCOX_SERIES) {
    // (1 + (u-1)e^u)/lambda^2 = (ln x)^2 * sum over k >= 2 of (k-1) u^(k-2) / k!
    double sum = 0.0, upow = 1.0, fact = 2.0;
    for (int k = 2; k <= 10; ++k) {
      sum += (k - 1) * upow / fact;
      upow *= u;
      fact *= k + 1;
    }
    deriv = lx * lx * sum;
  } else {
    deriv = (1.0 + (u - 1.0) * std::exp(u)) / (lambda * lambda);
  }
}

// Legendre polynomial of degree n at z by the three-term recurrence.
double legendre(int n, double z) {
  double pm1 = 1.0, p = z;
  if (n == 0) return 1.0;
  for (int m = 1; m < n; ++m) {
    const double next = ((2.0 * m + 1.0) * z * p - m * pm1) / (m + 1.0);
    pm1 = p;
    p = next;
  }
  return p;
}

// Interval limits of a series expansion held in row `row` of theta; stops when
// there is no row or the limits do not make an interval.
void series_limits(int w, int row, const Array2<double>& theta, int icheck, int maxpar, const std::string& mdltit,
                   double& lo, double& hi) {
  if (row == 0) limits_missing(w, mdltit);
  if (icheck == 0) thtchk(theta, row, 2, maxpar);
  lo = theta(row, 1);
  hi = theta(row, 2);
  if (!isdef(lo) || !isdef(hi) || !(lo < hi)) limits_missing(w, mdltit);
}

constexpr int MONTH_START[12] = {0, 31, 60, 91, 121, 152, 182, 213, 244, 274, 305, 335};
constexpr int MONTH_LENGTH[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

}  // namespace

void attrxfm(const std::string& mdltit, Array3<double>& sitinf, int nsites, Array1<std::string>& attnam, int nattr,
             Array1<int>& covcod, const Array2<int>& sitxfm, const Array1<int>& fouidx, const Array1<int>& legidx,
             const Array2<double>& theta, const Array1<int>& np, int icheck, int maxsit, int maxpar) {
  if (nsites > maxsit || nsites > MAXSIT || np(1) > maxpar || maxpar > theta.rows() || nattr > attnam.hi())
    prgerr("ATTRXFM", "funcdefs", 1);
  int column = nattr;
  for (int w = 1; w <= np(1); ++w) {
    const int xfm = sitxfm(w, 2);
    if (xfm == 0) {
      if (icheck == 0) thtchk(theta, w, 0, maxpar);
      continue;
    }
    const bool known = (xfm >= XFM_BOXCOX && xfm <= XFM_ATAN) || (xfm >= XFM_FOURIER_LO && xfm <= XFM_LEGENDRE_HI);
    if (!known) illegal_transformation();
    const int a = sitxfm(w, 1);
    if (a < 1 || a > nattr) prgerr("ATTRXFM", "funcdefs", 3);
    ++column;
    // Raw and derived columns share the site table's columns.
    if (column > MAXATT || column > attnam.hi()) prgerr("ATTRXFM", "funcdefs", 2);
    covcod(w) = column;
    const std::string atext = text70(attnam(a));

    for (int s = 1; s <= nsites; ++s)
      for (int layer = 2; layer <= MAXLAYER; ++layer) sitinf(s, column, layer) = 0.0;

    if (xfm == XFM_BOXCOX) {
      if (icheck == 0) thtchk(theta, w, 1, maxpar);
      const double lambda = theta(w, 1);
      for (int s = 1; s <= nsites; ++s) {
        const double x = sitinf(s, a, 1);
        if (!(x > 0.0)) not_positive(a, s);
        boxcox(x, lambda, sitinf(s, column, 1), sitinf(s, column, 2));
      }
      attnam(column) = text70("Box-Cox power transform of " + atext);
    } else if (xfm == XFM_EXP) {
      if (icheck == 0) thtchk(theta, w, 1, maxpar);
      const double ca = theta(w, 1);
      for (int s = 1; s <= nsites; ++s) {
        const double x = sitinf(s, a, 1);
        const double e = std::exp(ca * x);
        sitinf(s, column, 1) = e;
        sitinf(s, column, 2) = x * e;
      }
      attnam(column) = text70("exp[ax] transform of " + atext);
    } else if (xfm == XFM_ATAN) {
      if (icheck == 0) thtchk(theta, w, 2, maxpar);
      const double t1 = theta(w, 1), t2 = theta(w, 2);
      for (int s = 1; s <= nsites; ++s) {
        const double x = sitinf(s, a, 1);
        const double r2 = (x - t1) * (x - t1) + t2 * t2;
        sitinf(s, column, 1) = std::atan((x - t1) / t2);
        sitinf(s, column, 2) = -t2 / r2;
        sitinf(s, column, 3) = (t1 - x) / r2;
      }
      attnam(column) = text70("Arctan-transformed " + atext);
    } else if (xfm <= XFM_FOURIER_HI) {
      double lo = 0.0, hi = 0.0;
      series_limits(w, fouidx(a), theta, icheck, maxpar, mdltit, lo, hi);
      const int h = (xfm - 9) / 2;
      const bool sine = xfm % 2 == 1;
      for (int s = 1; s <= nsites; ++s) {
        const double arg = 2.0 * PI * h * (sitinf(s, a, 1) - lo) / (hi - lo);
        sitinf(s, column, 1) = sine ? std::sin(arg) : std::cos(arg);
      }
      attnam(column) = sine ? text70("Fourier sine component " + fmt_i(h, 2) + " for " + atext.substr(0, 40))
                            : text70("Fourier cosine component " + fmt_i(h, 2) + " for " + atext.substr(0, 38));
    } else {
      double lo = 0.0, hi = 0.0;
      series_limits(w, legidx(a), theta, icheck, maxpar, mdltit, lo, hi);
      const int n = xfm - 30;
      for (int s = 1; s <= nsites; ++s) {
        const double z = (2.0 * sitinf(s, a, 1) - (hi + lo)) / (hi - lo);
        sitinf(s, column, 1) = legendre(n, z);
      }
      attnam(column) = text70("Legendre polynomial " + fmt_i(n, 2) + " for " + atext.substr(0, 43));
    }
  }
}

void attrxfm(Model& m, SiteTable& sites, int icheck) {
  attrxfm(m.mdltit, sites.sitinf, sites.nsites, sites.attnam, sites.nattr, m.covcod, m.sitxfm, m.fouidx, m.legidx,
          m.theta, m.np, icheck, MAXSIT, MAXPAR);
}

void trendsb(Array1<double>& result, int yy, int covno, int code, const Array2<double>& theta, int icheck, int maxpar) {
  if (result.lo() > 1 || result.hi() < 3 || covno < 1 || covno > maxpar || maxpar > theta.rows())
    prgerr("TRENDSB", "funcdefs", 1);
  if (code < 1 || code > 3) {
    console().blank();
    console().line("****ERROR**** Illegal trend requested in TRENDFN");
    end_run(1);
  }
  if (icheck == 0) thtchk(theta, covno, code - 1, maxpar);
  const double y = yy;
  result(1) = result(2) = result(3) = 0.0;
  if (code == 1) {
    result(1) = (y - 1950.0) / 10.0;
  } else if (code == 2) {
    const double cp = theta(covno, 1);
    if (cp < y) {
      result(1) = (y - cp) / 10.0;
      result(2) = -0.1;
    }
  } else {
    const double period = theta(covno, 1), tmin = theta(covno, 2);
    const double alpha = 2.0 * PI * (y - tmin) / period;
    result(1) = -std::cos(alpha);
    result(2) = -std::sin(alpha) * alpha / period;
    result(3) = -std::sin(alpha) * 2.0 * PI / period;
  }
}

void monsb(double& result, int mm, int yy, int code) {
  (void)yy;
  const double m = mm;
  switch (code) {
    case 1: result = std::cos(PI * m / 6.0); return;
    case 2: result = std::sin(PI * m / 6.0); return;
    case 3: result = std::cos(PI * m / 3.0); return;
    case 4: result = std::sin(PI * m / 3.0); return;
    default: break;
  }
  if (code >= 11 && code <= 22) {
    result = code == mm + 10 ? 1.0 : 0.0;
    return;
  }
  console().line("****ERROR**** Illegal choice of predictor in MONFN");
  end_run(1);
}

int dayofy(int dd, int mm) {
  if (mm < 1 || mm > 12) prgerr("DYSET", "funcdefs", 3);
  return MONTH_START[mm - 1] + dd;
}

double dlyeff(int dd, int mm, int yy, int code) {
  (void)yy;
  if (code >= 21 && code <= 24) {
    const double v = dayofy(dd, mm);
    switch (code) {
      case 21: return std::cos(PI * v / 183.0);
      case 22: return std::sin(PI * v / 183.0);
      case 23: return std::cos(PI * v / 91.5);
      default: return std::sin(PI * v / 91.5);
    }
  }
  if (code >= 31 && code <= 42) {
    const int month = code - 30;
    if (mm != month) return 0.0;
    const double h = (MONTH_LENGTH[month - 1] + 1) / 2.0;
    const double b = (dd - h) / h;
    const double q = 1.0 - b * b;
    return q * q;
  }
  console().line("****ERROR**** Undefined effect found in DYSET");
  end_run(1);
}

}  // namespace rg
