// The joint Bernoulli table: column by column, from sum 1 upwards, each site gets a
// share x(i, s) = pz(s) cp(i, s) between bounds that keep the rest of its marginal
// placeable in the later columns, interpolated so the column holds s pz(s). Where the
// bounds leave no room, mass is shifted between the column and earlier ones (the
// repair). A table exists exactly when, for every k, the k largest marginals together
// are at most E[min(k, S)]; when that holds and the construction above still fails,
// the table is built by filling each column from the sites with the largest
// remaining marginals, which always succeeds.
#include <algorithm>
#include <cmath>
#include <functional>
#include <string>

#include "bernoulli.hpp"
#include "console.hpp"
#include "files.hpp"
#include "fixed_format.hpp"
#include "run_exit.hpp"

namespace rg {

namespace {

// Largest deviation from the table's three conditions that a finished table may show.
constexpr double TABLE_TOL = 1e-9;

struct BercdbWork {
  BernTable lb, ub;
  std::vector<double> r = std::vector<double>(MAXSIT + 1);         // remaining marginals
  std::vector<double> above = std::vector<double>(MAXSIT + 2);     // above[s] = P(S >= s)
  std::vector<double> v = std::vector<double>(MAXSIT + 1), w = std::vector<double>(MAXSIT + 1);
  std::vector<double> sorted = std::vector<double>(MAXSIT);
};

BercdbWork& work() {
  static BercdbWork b;
  return b;
}

[[noreturn]] void stop(std::initializer_list<std::string> lines) {
  Console& con = console();
  con.blank();
  for (const std::string& l : lines) con.line(l);
  end_run(1);
}

const std::string HEAD = "****ERROR**** in routine BERCDB, ";
const std::string INCOMPATIBLE = HEAD + "distribution of sum is incompatible with ";

// Why the column-by-column construction failed, for its message.
struct Failure {
  int code = 0;
  int s = 0;
  double a = 0, b = 0, c = 0;  // code 5: lb, ub; code 6: t, suml, sumu
};

// True when some table exists: the k largest marginals sum to at most E[min(k, S)].
bool table_exists(int n, VecView<const double> p, const double* pz, double tol, BercdbWork& wk) {
  for (int i = 1; i <= n; ++i) wk.sorted[static_cast<std::size_t>(i - 1)] = p(i);
  std::sort(wk.sorted.begin(), wk.sorted.begin() + n, std::greater<>());
  double top = 0.0;
  for (int k = 1; k <= n; ++k) {
    top += wk.sorted[static_cast<std::size_t>(k - 1)];
    double cap = 0.0;
    for (int s = 1; s <= n; ++s) cap += pz[s] * std::min(k, s);
    if (top > cap + tol) return false;
  }
  return true;
}

// Fills x(i, s) = pz(s) cp(i, s) into cp, columns n - 1 down to 1, each from the
// sites with the largest remaining marginals: x = clamp(r - lambda, 0, pz(s)) with
// lambda found by bisection so that the column holds s pz(s).
void fill_largest_first(int n, VecView<const double> p, const double* pz, BernTable& cp, BercdbWork& wk) {
  std::vector<double>& r = wk.r;
  for (int i = 1; i <= n; ++i) r[static_cast<std::size_t>(i)] = p(i) - pz[n];
  for (int s = n - 1; s >= 1; --s) {
    double* x = cp.column(s);
    const double t = s * pz[s];
    double lo = -pz[s], hi = 0.0;
    for (int i = 1; i <= n; ++i) hi = std::max(hi, r[static_cast<std::size_t>(i)]);
    lo += std::min(0.0, *std::min_element(r.begin() + 1, r.begin() + n + 1));
    auto held = [&](double lambda) {
      double sum = 0.0;
      for (int i = 1; i <= n; ++i) sum += std::clamp(r[static_cast<std::size_t>(i)] - lambda, 0.0, pz[s]);
      return sum;
    };
    for (int it = 0; it < 200 && hi - lo > 0.0; ++it) {
      const double mid = 0.5 * (lo + hi);
      if (mid <= lo || mid >= hi) break;
      (held(mid) > t ? lo : hi) = mid;
    }
    for (int i = 1; i <= n; ++i) {
      x[i - 1] = std::clamp(r[static_cast<std::size_t>(i)] - hi, 0.0, pz[s]);
      r[static_cast<std::size_t>(i)] -= x[i - 1];
    }
  }
}

// x(i, s) into cp(i, s), each column rescaled to sum s; columns that are never drawn
// hold s/n.
void convert(int n, const double* pz, double tol, BernTable& cp) {
  const double empty = tol * tol * tol;
  for (int s = 1; s <= n - 1; ++s) {
    double* c = cp.column(s);
    if (pz[s] <= empty) {
      for (int i = 0; i < n; ++i) c[i] = double(s) / n;
      continue;
    }
    double g = 0.0;
    for (int i = 0; i < n; ++i) {
      c[i] = std::min(1.0, c[i] / pz[s]);
      g += c[i];
    }
    if (g > 0.0)
      for (int i = 0; i < n; ++i) c[i] = std::clamp(s * c[i] / g, 0.0, 1.0);
  }
}

bool meets_conditions(int n, VecView<const double> p, const double* pz, BernTable& cp) {
  for (int s = 1; s <= n - 1; ++s) {
    double g = 0.0;
    for (int i = 1; i <= n; ++i) g += cp(i, s);
    if (!(std::fabs(g - s) <= TABLE_TOL * n)) return false;
  }
  for (int i = 1; i <= n; ++i) {
    double m = 0.0;
    for (int s = 1; s <= n; ++s) m += pz[s] * cp(i, s);
    if (!(std::fabs(m - p(i)) <= TABLE_TOL)) return false;
  }
  return true;
}

// The checks of the input, each stopping the run with its message.
void check_input(int n, VecView<const double> p, const double* pz, double tol) {
  auto unit = [](double v) { return v >= 0.0 && v <= 1.0; };
  const auto pz_outside = {HEAD + "some probabilities in PZ distribution", std::string("are outside the range [0,1].")};
  if (!unit(pz[0])) stop(pz_outside);
  for (int i = 1; i <= n; ++i) {
    if (!unit(p(i))) stop({HEAD + "some sites have probabilities", "outside the range [0,1]."});
    if (!unit(pz[i])) stop(pz_outside);
  }
  double total = 0.0, mean = 0.0, sump = 0.0;
  for (int s = 0; s <= n; ++s) {
    total += pz[s];
    mean += s * pz[s];
  }
  for (int i = 1; i <= n; ++i) sump += p(i);
  if (!(std::fabs(total - 1.0) <= tol)) stop({HEAD + "probabilities in PZ sum to " + fmt_f(total, 7, 5), "instead of 1."});
  if (!(std::fabs(mean - sump) <= tol))
    stop({HEAD + "sum of individual probabilities is ",
          fmt_f(sump, 7, 4) + ", but mean of PZ distribution is " + fmt_f(mean, 7, 4)});
}

// Shifts mass between column s and earlier columns until the lower bounds of column
// s fit its total (warning state 1) or by one step (warning state 2). False when the
// table cannot be built this way.
bool repair(int n, int s, int state, double t, const double* pz, double tol, BernTable& x, BercdbWork& wk,
            double& suml, double& sumu) {
  const double empty = tol * tol * tol;
  const double above = wk.above[static_cast<std::size_t>(s + 1)];
  int sweep = 1;
  double f = 0.95;
  int e = s - 1;
  for (;;) {
    if (e == 0) {
      if (state == 2) return true;
      if (sweep == 2 || s == 1) return false;
      sweep = 2;
      f = 1.0;
      e = s - 1;
      continue;
    }
    if (pz[e] <= empty) {
      --e;
      continue;
    }
    // Up-room: forced mass of column s that site i can move into column e; down-room
    // of the sites that cannot: mass they can take back without being forced in s.
    double sumv = 0.0, sumw = 0.0;
    for (int i = 1; i <= n; ++i) {
      const double r = wk.r[static_cast<std::size_t>(i)];
      const double v = std::max(0.0, std::min({wk.ub(i, e) - x(i, e), r, wk.lb(i, s)}));
      const double w = v > 0.0 ? 0.0 : std::max(0.0, std::min(x(i, e) - wk.lb(i, e), above - r));
      wk.v[static_cast<std::size_t>(i)] = v;
      wk.w[static_cast<std::size_t>(i)] = w;
      sumv += v;
      sumw += w;
    }
    const double moved = f * std::min(sumv, sumw);
    if (!(moved > 0.0)) {
      --e;
      continue;
    }
    for (int i = 1; i <= n; ++i) {
      double d = 0.0;
      if (wk.v[static_cast<std::size_t>(i)] > 0.0) {
        d = wk.v[static_cast<std::size_t>(i)] * moved / sumv;
      } else if (wk.w[static_cast<std::size_t>(i)] > 0.0) {
        d = -wk.w[static_cast<std::size_t>(i)] * moved / sumw;
      }
      x(i, e) += d;
      wk.r[static_cast<std::size_t>(i)] -= d;
      bounds(wk.r[static_cast<std::size_t>(i)], pz[n], pz[s], above, wk.lb(i, s), wk.ub(i, s), suml, sumu, 1);
    }
    if (state == 2 || suml <= t + tol) return true;
    --e;
  }
}

// The column-by-column construction; x(i, s) is kept in cp.
Failure build(int n, VecView<const double> p, const double* pz, int nmax, double tol, BernTable& x, BercdbWork& wk) {
  const double empty = tol * tol * tol;
  for (int i = 1; i <= n; ++i) wk.r[static_cast<std::size_t>(i)] = p(i);
  const int last = std::min(n - 1, nmax);
  for (int s = 1; s <= last; ++s) {
    if (pz[s] <= empty) continue;
    const double t = s * pz[s];
    const double above = wk.above[static_cast<std::size_t>(s + 1)];
    double suml = 0.0, sumu = 0.0;
    for (int i = 1; i <= n; ++i)
      bounds(wk.r[static_cast<std::size_t>(i)], pz[n], pz[s], above, wk.lb(i, s), wk.ub(i, s), suml, sumu, 0);
    for (int i = 1; i <= n; ++i)
      if (wk.lb(i, s) - wk.ub(i, s) > tol) return {5, s, wk.lb(i, s), wk.ub(i, s), 0};

    int state = 0;
    if (suml > t + tol) {
      state = 1;
    } else if (s < n - 1) {
      if (sumu - t < tol) state = 2;
      for (int i = 1; i <= n && state == 0; ++i) {
        const double lb = wk.lb(i, s), ub = wk.ub(i, s);
        if (ub - lb < 0.01 * pz[s] / n && (ub >= pz[s] || lb == 0.0)) state = 2;
      }
    }
    if (state != 0 && !repair(n, s, state, t, pz, tol, x, wk, suml, sumu)) return {7, s, 0, 0, 0};

    if (t > sumu + tol || suml > t + tol) return {6, s, t, suml, sumu};
    const double g = sumu - suml > tol ? std::clamp((t - suml) / (sumu - suml), 0.0, 1.0) : 0.5;
    for (int i = 1; i <= n; ++i) {
      const double v = wk.lb(i, s) + g * (wk.ub(i, s) - wk.lb(i, s));
      x(i, s) = v;
      wk.r[static_cast<std::size_t>(i)] -= v;
    }
  }
  return {};
}

}  // namespace

void bounds(double r, double pzn, double pzs, double above, double& lb, double& ub, double& suml, double& sumu,
            int update) {
  if (update == 1) {
    suml -= lb;
    sumu -= ub;
  }
  lb = std::max(0.0, r - above);
  ub = std::min(r - pzn, pzs);
  suml += lb;
  sumu += ub;
}

int bercdb(int n, VecView<const double> p, const double* pz, int capacity, int nmax, double tol, BernTable& cp,
           bool quiet) {
  if (capacity != MAXSIT || n < 1 || n > capacity) prgerr("BERCDB", "raingen", 1);
  check_input(n, p, pz, tol);
  BercdbWork& wk = work();
  wk.above[static_cast<std::size_t>(n + 1)] = 0.0;
  for (int s = n; s >= 0; --s) wk.above[static_cast<std::size_t>(s)] = wk.above[static_cast<std::size_t>(s + 1)] + pz[s];
  for (int i = 1; i <= n; ++i) {
    cp(i, 0) = 0.0;
    cp(i, n) = 1.0;
    for (int s = 1; s < n; ++s) cp(i, s) = 0.0;
  }

  Failure fail = build(n, p, pz, nmax, tol, cp, wk);
  if (fail.code == 0) {
    convert(n, pz, tol, cp);
    if (meets_conditions(n, p, pz, cp)) return 0;
    fail.code = 7;
  }
  if (table_exists(n, p, pz, tol, wk)) {
    fill_largest_first(n, p, pz, cp, wk);
    convert(n, pz, tol, cp);
    if (meets_conditions(n, p, pz, cp)) return 0;
  }

  if (quiet) return 7;
  const std::string where = "conditional probabilities when sum is " + fmt_i(fail.s, 3);
  if (fail.code == 5)
    stop({INCOMPATIBLE, "given marginal probabilities - I'm trying to sandwich something between a",
          "lower bound of " + fmt_f(fail.a, 7, 5) + " and an upper bound of " + fmt_f(fail.b, 7, 5) +
              ". The problem arose while",
          "trying to calculate " + where + " (maximum ", "is " + fmt_i(n, 3) + ")."});
  if (fail.code == 6)
    stop({INCOMPATIBLE, "given marginal probabilities - " + fmt_f(fail.a, 7, 4) + " doesn't lie in the range ",
          "(" + fmt_f(fail.b, 7, 4) + "," + fmt_f(fail.c, 7, 4) + "). The problem arose while trying to calculate ",
          where + " (maximum is " + fmt_i(n, 3) + ")."});
  Console& con = console();
  con.blank();
  con.line(INCOMPATIBLE);
  con.line("given marginal probabilities.");
  return 7;
}

}  // namespace rg
