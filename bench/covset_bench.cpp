// Cost of covariate assembly for a 200-site model with 20 covariates of every kind
// (site attributes, trends, seasonal effects, own-site and network-averaged previous
// days with estimated weighting parameters, interactions). Prints the time per
// site-covariate for a year of days, in the fitting pass (everything) and in the
// parameter-only refresh.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>

#include "covset.hpp"
#include "prevday.hpp"

using namespace rg;

namespace {

int add(Model& m, int type, int code, double beta) {
  const int j = m.np(6) + 1;
  for (int t = type; t <= 6; ++t) m.np(t) += 1;
  m.covcod(j) = code;
  m.beta(j) = beta;
  if (type == 4 && code % 1000 <= MAXLAG) m.mxlag = std::max(m.mxlag, code % 1000);
  return j;
}
int pcode(int lag, int xfm, int scheme, int order) { return lag + 1000 * (xfm + 10 * scheme + 100 * order); }

double run(Model& m, const SiteTable& sites, Matrix& covs, Matrix& prev, Array1<int>& miss, int parmod, int& cells) {
  unsigned state = 12345;
  auto rnd = [&] {
    state = state * 1103515245u + 12345u;
    return ((state >> 8) & 0xffff) / 65536.0;
  };
  const auto t0 = std::chrono::steady_clock::now();
  cells = 0;
  for (int day = 0; day < 365; ++day) {
    const int mm = 1 + day / 31 % 12, dd = 1 + day % 28;
    for (int s = 1; s <= sites.nsites; ++s) {
      for (int l = MAXLAG; l > 1; --l) prev(s, l) = prev(s, l - 1);
      const double u = rnd();
      prev(s, 1) = u < 0.5 ? 0.0 : 10.0 * (u - 0.5);
    }
    covset(covs, m, sites, 1990, mm, dd, prev, 0.3, parmod, 0, miss, 1, 0, parmod == 0 ? 1 : 0);
    cells += sites.nsites * m.np(6);
  }
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

}  // namespace

int main() {
  auto sites = std::make_unique<SiteTable>();
  sites->nsites = MAXSIT;
  sites->nattr = 3;
  for (int s = 1; s <= MAXSIT; ++s) {
    sites->sitinf(s, 1, 1) = (s * 37 % 101) * 1.3;
    sites->sitinf(s, 2, 1) = (s * 53 % 97) * 0.9;
    sites->sitinf(s, 3, 1) = 50.0 + s;
  }
  auto m = std::make_unique<Model>();
  const int a1 = add(*m, 1, 1, 0.01), a2 = add(*m, 1, 2, 0.01), a3 = add(*m, 1, 3, 0.001);
  add(*m, 2, 1, 0.1);
  add(*m, 3, 1, 0.1);
  add(*m, 3, 2, 0.1);
  const int d1 = add(*m, 4, 21, 0.1);
  add(*m, 4, 22, 0.1);
  const int p1 = add(*m, 4, pcode(1, 3, 0, 0), 0.5);
  add(*m, 4, pcode(2, 2, 0, 0), 0.2);
  add(*m, 4, pcode(1, 3, 1, 0), 0.3);
  const int w2 = add(*m, 4, pcode(1, 2, 2, 0), 0.3);
  add(*m, 4, pcode(2, 0, 2, 1), 0.1);
  const int w3 = add(*m, 4, pcode(1, 3, 3, 0), 0.2);
  add(*m, 4, pcode(3, 5, 0, 0), 0.1);
  auto two = [&](int a, int b) {
    const int j = add(*m, 5, 0, 0.05);
    m->twoway(j, 1) = a;
    m->twoway(j, 2) = b;
  };
  two(a1, p1);
  two(a3, d1);
  two(a2, w2);
  two(a1, w3);
  const int t = add(*m, 6, 0, 0.01);
  m->thrway(t, 1) = a1;
  m->thrway(t, 2) = a2;
  m->thrway(t, 3) = p1;
  m->pwtidx(2, 1) = w2;
  m->theta(w2, 1) = 0.05;
  m->pwtidx(3, 1) = w3;
  m->theta(w3, 1) = 1.0;
  m->theta(w3, 2) = -0.5;
  m->theta(w3, 3) = 0.08;
  m->np(7) = m->np(6);
  for (auto [j, p] : {std::pair{w2, 1}, {w3, 1}, {w3, 2}, {w3, 3}}) {
    const int v = ++m->np(7);
    m->covcod(v) = 1000 * j + p;
    m->beta(v) = m->theta(j, p);
    m->pwtidx(j == w2 ? 2 : 3, 1 + p) = v;
  }
  Matrix covs(MAXSIT, MAXPAR), prev(MAXSIT, MAXLAG);
  prev.fill(1.0);
  Array1<int> miss(1, MAXSIT, 0);
  int cells = 0;
  std::printf("model: %d sites, %d covariates, %d estimated parameters\n", sites->nsites, m->np(6), m->np(7) - m->np(6));
  run(*m, *sites, covs, prev, miss, 0, cells);  // warm the weight tables
  for (int parmod : {0, 1}) {
    const double sec = run(*m, *sites, covs, prev, miss, parmod, cells);
    std::printf("%s: %.1f ns per site-covariate (%.2f ms per day)\n", parmod ? "parameter-only refresh" : "full assembly   ",
                1e9 * sec / cells, 1e3 * sec / 365);
  }
  return 0;
}
