#include "randgen.hpp"

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <ctime>
#include <string_view>

#include "console.hpp"

namespace rg {

namespace {

constexpr double PI = 3.14159265358979323846;
constexpr int LAGS = 43;
constexpr double MODULUS = 4294967291.0;  // 2^32 - 5

// Table used when a generator is called before zbqlini: the congruential fill that
// zbqlini makes, from a fixed starting value.
constexpr std::array<double, LAGS> builtin_table() {
  std::array<double, LAGS> t{};
  unsigned long long v = 1802;
  for (int i = 0; i < LAGS; ++i) {
    t[static_cast<std::size_t>(i)] = static_cast<double>(v);
    v = (30269ULL * v) % 4294967291ULL;
  }
  return t;
}

// Lag table, modulus and carry: the state every uniform draw advances.
struct Zbql0001 {
  std::array<double, LAGS> zbqlix = builtin_table();
  double b = MODULUS;
  double c = 0.0;
};

struct RandgenState {
  Zbql0001 zbql0001;
  int id22 = 22, id43 = 43, curpos = 1;  // 1-based positions in the lag table
  int initcount = 0;                     // calls of zbqlini so far (counts to 2)
  int norstatus = -1;                    // -1 unused, 0 no spare, 1 spare held
  double norspare = 0.0;
};

RandgenState st;

void illegal(std::string_view routine, std::string_view detail = {}) {
  Console& con = console();
  con.blank();
  con.line("****ERROR**** Illegal parameter value in  " + std::string(routine));
  if (!detail.empty()) con.line(detail);
}

constexpr std::string_view BOTH_POSITIVE = "(both parameters must be positive)";

// Counts come from doubles; a value beyond the integer range saturates instead of
// overflowing the conversion.
long long to_count(double v) {
  if (!(v < 9.2e18)) return LLONG_MAX;
  return static_cast<long long>(v);
}

// Starting value from the local clock: seconds, minutes, hours and day of the year,
// each scaled over the modulus.
double clock_start(double b) {
  const std::time_t now = std::time(nullptr);
  std::tm t{};
  localtime_r(&now, &t);
  const double ss = t.tm_sec, mm = t.tm_min, hh = t.tm_hour, ddd = t.tm_yday + 1;
  const double sum = std::trunc(b * ss / 60.0) + std::trunc(b * mm / 60.0) + std::trunc(b * hh / 24.0) +
                     std::trunc(b * ddd / 365.0);
  return std::fmod(sum, b);
}

// Gamma with shape g and rate 1 (g > 0).
double gamma_draw(double g) {
  if (g < 1.0) {
    // Rejection from a mixture of a power density on (0, 1) and an exponential tail.
    const double e = std::exp(1.0);
    const double b = (e + g) / e;
    for (;;) {
      const double p = b * zbqlu01();
      if (p <= 1.0) {
        const double x = std::exp(std::log(p) / g);
        if (zbqlu01() <= std::exp(-x)) return x;
      } else {
        const double x = -std::log((b - p) / g);
        if (zbqlu01() <= std::pow(x, g - 1.0)) return x;
      }
    }
  }
  if (g > 10.0) {
    // Ratio of uniforms over a parallelogram that hugs the acceptance region.
    const double c1 = g - 1.0, c2 = (g - 1.0 / (6.0 * g)) / c1, c3 = 2.0 / c1, c4 = c3 + 2.0;
    const double c5 = 1.0 / std::sqrt(g);
    for (;;) {
      double u1, u2;
      do {
        u1 = zbqlu01();
        u2 = zbqlu01();
        u1 = u2 + c5 * (1.0 - 1.86 * u1);
      } while (u1 <= 0.0 || u1 >= 1.0);
      const double w = c2 * u2 / u1;
      if (c3 * u1 + w + 1.0 / w <= c4) return c1 * w;
      if (c3 * std::log(u1) - std::log(w) + w < 1.0) return c1 * w;
    }
  }
  // 1 <= g <= 10: rejection from a log-logistic envelope.
  const double a = 1.0 / std::sqrt(2.0 * g - 1.0), b = g - std::log(4.0), c = g + 1.0 / a;
  const double d = 1.0 + std::log(4.5);
  for (;;) {
    const double u1 = zbqlu01(), u2 = zbqlu01();
    const double v = a * std::log(u1 / (1.0 - u1));
    const double x = g * std::exp(v);
    const double z = u1 * u1 * u2;
    const double r = b + c * v - x;
    if (r + d - 4.5 * z >= 0.0 || r >= std::log(z)) return x;
  }
}

double beta_draw(double nu1, double nu2) {
  if (nu1 < 0.9 && nu2 < 0.9) {
    // Johnk: U1^(1/nu1) / (U1^(1/nu1) + U2^(1/nu2)) given that the sum is at most 1,
    // evaluated from the logarithms when both powers underflow.
    for (;;) {
      const double lx = std::log(zbqlu01()) / nu1, ly = std::log(zbqlu01()) / nu2;
      const double x = std::exp(lx), y = std::exp(ly);
      if (x + y <= 1.0) {
        if (x + y > 0.0) return x / (x + y);
        const double top = std::max(lx, ly);
        const double ex = std::exp(lx - top), ey = std::exp(ly - top);
        return ex / (ex + ey);
      }
    }
  }
  const double g1 = gamma_draw(nu1), g2 = gamma_draw(nu2);
  return g1 / (g1 + g2);
}

long long geometric_draw(double p) {
  if (p > 0.9) {
    long long n = 1;
    while (zbqlu01() > p) ++n;
    return n;
  }
  if (p <= 1e-12) return 1 + to_count(std::trunc(-std::log(zbqlu01()) / p));
  return 1 + to_count(std::trunc(std::log(zbqlu01()) / std::log1p(-p)));
}

// Binomial count of n trials (n >= 0, 0 <= p <= 1).
long long binomial_draw(long long n, double p) {
  // Split at the median order statistic of n uniforms until the expected count is
  // within 10 of either end: the uniforms below the statistic are uniform on (0, x),
  // those above on (x, 1).
  long long count = 0;
  while (static_cast<double>(n) * p > 10.0 && static_cast<double>(n) * (1.0 - p) > 10.0) {
    const long long i = (n + 1) / 2;
    const double x = beta_draw(static_cast<double>(i), static_cast<double>(n + 1 - i));
    if (p <= x) {
      n = i - 1;
      p = p / x;
    } else {
      count += i;
      n -= i;
      p = (p - x) / (1.0 - x);
    }
  }
  // Count successes of the rarer kind by their geometric waiting times.
  const bool flip = p > 0.5;
  const double q = flip ? 1.0 - p : p;
  long long k = 0;
  if (q > 1e-8) {
    long long trials = 0;
    for (;;) {
      trials += geometric_draw(q);
      if (trials > n) break;
      ++k;
    }
  }
  return count + (flip ? n - k : k);
}

long long poisson_draw(double mu) {
  long long count = 0;
  for (;;) {
    if (mu <= 10.0) {
      // Product of uniforms until it falls below exp(-mu).
      const double limit = std::exp(-mu);
      long long k = 0;
      double prod = zbqlu01();
      while (prod > limit) {
        prod *= zbqlu01();
        ++k;
      }
      return count + k;
    }
    if (mu <= 1000.0) {
      // Time of the m-th event of a unit-rate process: either all m fall before mu
      // (the rest is Poisson over the remaining time) or the count before mu among
      // the first m - 1 is binomial.
      const double m = std::floor(0.875 * mu);
      const double x = gamma_draw(m);
      if (x < mu) {
        count += static_cast<long long>(m);
        mu -= x;
        continue;
      }
      return count + binomial_draw(static_cast<long long>(m) - 1, mu / x);
    }
    // Rejection from a Cauchy envelope around the mean.
    const double sq = std::sqrt(2.0 * mu), alxm = std::log(mu), g = mu * alxm - zbqllg(mu + 1.0);
    double em, t;
    do {
      double y;
      do {
        y = std::tan(PI * zbqlu01());
        em = sq * y + mu;
      } while (em < 0.0);
      em = std::floor(em);
      t = 0.9 * (1.0 + y * y) * std::exp(em * alxm - zbqllg(em + 1.0) - g);
    } while (zbqlu01() > t);
    return count + to_count(em);
  }
}

}  // namespace

void randgen_restart() { st = RandgenState{}; }

void zbqlini(long long seed) {
  if (st.initcount >= 2) return;
  if (st.initcount == 1) {
    Console& con = console();
    con.blank();
    con.line("****WARNING**** You have called routine ZBQLINI more than");
    con.line("once. I'm ignoring any subsequent calls.");
    st.initcount = 2;
    return;
  }
  st.initcount = 1;
  const double b = st.zbql0001.b;
  // The table must hold integers in [0, B): negative seeds take the non-negative
  // remainder. An all-zero table would repeat 0 for ever, so a start of 0 becomes 1.
  double start;
  if (seed != 0) {
    const long long bi = static_cast<long long>(b);
    start = static_cast<double>(((seed % bi) + bi) % bi);
  } else {
    start = clock_start(b);
  }
  if (start == 0.0) start = 1.0;
  auto& l = st.zbql0001.zbqlix;
  l[0] = start;
  for (int i = 1; i < LAGS; ++i) l[static_cast<std::size_t>(i)] = std::fmod(30269.0 * l[static_cast<std::size_t>(i - 1)], b);
}

double zbqlu01() {
  auto& l = st.zbql0001.zbqlix;
  const double b = st.zbql0001.b;
  double divisor = b;
  for (;;) {
    double x = l[static_cast<std::size_t>(st.id22 - 1)] - l[static_cast<std::size_t>(st.id43 - 1)] - st.zbql0001.c;
    if (x < 0.0) {
      x += b;
      st.zbql0001.c = 1.0;
    } else {
      st.zbql0001.c = 0.0;
    }
    l[static_cast<std::size_t>(st.id43 - 1)] = x;
    --st.curpos;
    --st.id22;
    --st.id43;
    if (st.curpos == 0) {
      st.curpos = LAGS;
    } else if (st.id22 == 0) {
      st.id22 = LAGS;
    } else if (st.id43 == 0) {
      st.id43 = LAGS;
    }
    if (x < 1.0 / b) {  // x is 0: draw again on a finer scale, so 0 is never returned
      divisor *= b;
      continue;
    }
    return x / divisor;
  }
}

double zbqluab(double a, double b) {
  if (a == b) {
    Console& con = console();
    con.blank();
    con.line("****WARNING**** (function ZBQLUAB) Upper and lower limits on uniform");
    con.line("distribution are identical");
    return a;
  }
  return a + zbqlu01() * (b - a);
}

double zbqlexp(double mu) {
  if (mu < 0.0) {
    illegal("ZBQLEXP");
    return 0.0;
  }
  return -mu * std::log(zbqlu01());
}

double zbqlnor(double mu, double sigma) {
  if (st.norstatus == 1) {
    st.norstatus = 0;
    return st.norspare * sigma + mu;
  }
  const double u1 = zbqlu01();
  const double u2 = zbqlu01();
  const double r = std::sqrt(-2.0 * std::log(u2));
  const double theta = 2.0 * PI * u1;
  st.norspare = r * std::sin(theta);
  st.norstatus = 1;
  return r * std::cos(theta) * sigma + mu;
}

double zbqlgam(double g, double h) {
  if (!(g > 0.0 && h > 0.0)) {
    illegal("ZBQLGAM", BOTH_POSITIVE);
    return 0.0;
  }
  return gamma_draw(g) / h;
}

double zbqlbet1(double nu1, double nu2) {
  if (!(nu1 > 0.0 && nu2 > 0.0)) {
    illegal("ZBQLBET1", "(both degrees of freedom must be positive)");
    return 0.0;
  }
  return beta_draw(nu1, nu2);
}

double zbqlwei(double a, double b) {
  if (!(a > 0.0 && b > 0.0)) {
    illegal("ZBQLWEI", BOTH_POSITIVE);
    return 0.0;
  }
  return b * std::pow(-std::log(zbqlu01()), 1.0 / a);
}

double zbqlpar(double a, double b) {
  if (!(a > 0.0 && b > 0.0)) {
    illegal("ZBQLPAR", BOTH_POSITIVE);
    return 0.0;
  }
  return b * (std::pow(zbqlu01(), -1.0 / a) - 1.0);
}

long long zbqlgeo(double p) {
  // p = 0 would wait for ever for the first success.
  if (!(p > 0.0 && p <= 1.0)) {
    illegal("ZBQLGEO");
    return 0;
  }
  return geometric_draw(p);
}

int zbqlbin(int n, double p) {
  if (n <= 0 || !(p >= 0.0 && p <= 1.0)) {
    illegal("ZBQLBIN");
    return 0;
  }
  return static_cast<int>(binomial_draw(n, p));
}

long long zbqlpoi(double mu) {
  if (!(mu >= 0.0)) {
    illegal("ZBQLPOI");
    return 0;
  }
  return poisson_draw(mu);
}

long long zbqlnb(double r, double p) {
  if (!(r > 0.0 && p > 0.0 && p < 1.0)) {
    illegal("ZBQLNB");
    return 0;
  }
  return poisson_draw(gamma_draw(r) * p / (1.0 - p));
}

double zbqllg(double x) {
  static constexpr double coef[6] = {76.18009172947146,     -86.50532032941678,    24.01409824083091,
                                     -1.231739572450155,    0.001208650973866179, -5.395239384953e-06};
  // For x < 1: Gamma(x) = pi z / (sin(pi z) Gamma(1 + z)) with z = 1 - x.
  double reflect = 0.0;
  double arg = x;
  if (x < 1.0) {
    const double z = 1.0 - x;
    arg = 1.0 + z;
    if (std::fabs(arg - 1.0) < 1e-12) return 0.0;
    reflect = std::log(std::fabs(PI * z / std::sin(PI * z)));
  } else if (std::fabs(arg - 1.0) < 1e-12) {
    return 0.0;
  }
  const double y = arg - 1.0, t = y + 5.5;
  double s = 1.000000000190015;
  for (int i = 0; i < 6; ++i) s += coef[i] / (y + i + 1.0);
  const double lg = std::log(s) + 0.9189385332046727 + (y + 0.5) * std::log(t) - t;
  return x < 1.0 ? reflect - lg : lg;
}

}  // namespace rg
