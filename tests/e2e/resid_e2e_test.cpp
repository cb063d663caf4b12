// The residual analysis of both fitting programs on the example network of
// tests/reference/fit_example (5 sites, 8 years, a spatial structure), checked
// number by number against a plain recomputation from the residual listing the
// same run writes (res_logi.dat, res_gamm.dat): Pearson residuals from the listed
// observation and fit (occurrence: the probability from the listed linear
// predictor, which carries more digits), pairwise residual correlations over common
// days, and the day-by-day dependence sums. The listing has 4 decimals, so printed
// values are compared to within about one unit of their last decimal.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "test_support.hpp"

using namespace rgtest;

namespace {

struct Rec {
  int site, yy, mm, dd;
  double y, fit;
};

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

double num(const std::string& s) { return std::stod(s); }

// The listing, sites numbered by their order in siteinfo.def.
std::vector<Rec> listing(const std::string& file, bool occurrence, const std::vector<std::string>& codes) {
  std::vector<Rec> out;
  auto ls = lines(slurp(file));
  for (std::size_t k = 1; k < ls.size(); ++k) {
    const std::string& l = ls[k];
    Rec r{};
    r.site = static_cast<int>(std::find(codes.begin(), codes.end(), l.substr(0, 4)) - codes.begin()) + 1;
    r.yy = std::stoi(l.substr(5, 4));
    r.mm = std::stoi(l.substr(13, 2));
    r.dd = std::stoi(l.substr(16, 3));
    r.y = num(l.substr(20, 8));
    if (occurrence) r.fit = 1.0 / (1.0 + std::exp(-num(l.substr(39, 8))));
    else r.fit = num(l.substr(30, 8));
    out.push_back(r);
  }
  return out;
}

// Expected mean and variance of (Y/mu)^(1/3) for gamma shape nu under the normal
// moment matching m^3 + 3mv = 1, 9m^4 v + 36 m^2 v^2 + 15 v^3 = 1/nu: the cubic in
// m solved for each v by bisection, then bisection on v.
void anscombe_moments(double nu, double& m, double& v) {
  auto mean_for = [](double var) {
    double lo = 0.0, hi = 2.0;
    for (int i = 0; i < 200; ++i) {
      double mid = 0.5 * (lo + hi);
      (mid * mid * mid + 3.0 * var * mid - 1.0 > 0.0 ? hi : lo) = mid;
    }
    return 0.5 * (lo + hi);
  };
  auto g = [&](double var) {
    double mm = mean_for(var);
    return 9 * std::pow(mm, 4) * var + 36 * mm * mm * var * var + 15 * var * var * var - 1.0 / nu;
  };
  double lo = 1e-12, hi = 1.0;
  for (int i = 0; i < 200; ++i) {
    double mid = 0.5 * (lo + hi);
    (g(mid) > 0.0 ? hi : lo) = mid;
  }
  v = 0.5 * (lo + hi);
  m = mean_for(v);
}

struct Stat {
  double n = 0, s = 0, q = 0, dep = 0;
};

// What the analysis must print, recomputed plainly.
struct Expected {
  std::map<std::string, double> overall;
  std::map<int, Stat> month, year;
  std::map<int, Stat> site;
  double h = 1.0, dep = 0.0;
  double t[2][2] = {{0, 0}, {0, 0}}, mx[2] = {0, 0};
  double dy[10] = {}, dp[10] = {}, dn[10] = {};
};

Expected recompute(const std::vector<Rec>& recs, bool occurrence, int nsites, int npar, double nu) {
  Expected e;
  e.h = occurrence ? 1.0 : 1.0 / std::sqrt(nu);
  auto pearson = [&](const Rec& r) {
    return occurrence ? (r.y - r.fit) / std::sqrt(r.fit * (1 - r.fit)) : (r.y - r.fit) / r.fit;
  };
  // Group the records by day.
  std::map<long, std::map<int, double>> days;
  for (const auto& r : recs) days[r.yy * 10000L + r.mm * 100 + r.dd][r.site] = pearson(r);
  // Pairwise correlations over common days.
  std::vector<std::vector<double>> rho(static_cast<std::size_t>(nsites + 1),
                                       std::vector<double>(static_cast<std::size_t>(nsites + 1), 0.0));
  for (int i = 1; i <= nsites; ++i)
    for (int j = i; j <= nsites; ++j) {
      double n = 0, si = 0, sj = 0, sii = 0, sjj = 0, sij = 0;
      for (const auto& [key, day] : days) {
        auto a = day.find(i), b = day.find(j);
        if (a == day.end() || b == day.end()) continue;
        n += 1;
        si += a->second;
        sj += b->second;
        sii += a->second * a->second;
        sjj += b->second * b->second;
        sij += a->second * b->second;
      }
      double r = 0.0;
      if (i == j) r = 1.0;
      else if (n > 0) {
        double vi = sii / n - (si / n) * (si / n), vj = sjj / n - (sj / n) * (sj / n);
        r = (sij / n - si / n * sj / n) / std::sqrt(vi * vj);
      }
      rho[static_cast<std::size_t>(i)][static_cast<std::size_t>(j)] = r;
      if (n > 0) e.dep += (i == j ? 1 : 2) * r * n;
    }
  for (const auto& [key, day] : days) {
    double d = 0;
    for (auto a = day.begin(); a != day.end(); ++a) {
      d += 1;
      for (auto b = std::next(a); b != day.end(); ++b)
        d += 2 * rho[static_cast<std::size_t>(a->first)][static_cast<std::size_t>(b->first)];
    }
    e.month[static_cast<int>(key / 100 % 100)].dep += d;
    e.year[static_cast<int>(key / 10000)].dep += d;
  }
  double n = 0, sse = 0, rs = 0, rq = 0, ys = 0, yq = 0, err = 0, as = 0, aq = 0;
  for (const auto& r : recs) {
    double p = pearson(r);
    n += 1;
    sse += (r.y - r.fit) * (r.y - r.fit);
    rs += p;
    rq += p * p;
    for (Stat* s : {&e.month[r.mm], &e.year[r.yy], &e.site[r.site]}) {
      s->n += 1;
      s->s += p;
      s->q += p * p;
    }
    if (occurrence) {
      int f = r.fit >= 0.5, o = r.y >= 0.5;
      e.t[f][o] += 1;
      e.mx[f] += std::max(r.fit, 1 - r.fit);
      int d = static_cast<int>(10 * r.fit);
      e.dy[d] += r.y;
      e.dp[d] += r.fit;
      e.dn[d] += 1;
    } else {
      ys += r.y;
      yq += r.y * r.y;
      err += r.y - r.fit;
      double a = std::cbrt(r.y / r.fit);
      as += a;
      aq += a * a;
    }
  }
  const double df = n - npar, mean = rs / n, sd = std::sqrt((rq - n * mean * mean) / df);
  e.overall["Mean Pearson residual: "] = mean;
  e.overall["Standard deviation of Pearson residuals: "] = sd;
  if (occurrence) {
    e.overall["Mean Squared Error (mean Brier score): "] = sse / df;
    e.overall["Standard error of mean Pearson residual: "] = sd * std::sqrt(e.dep / n) / std::sqrt(n);
  } else {
    double ym = ys / n, vy = (yq - n * ym * ym) / (n - 1), am = as / n, m, v;
    anscombe_moments(nu, m, v);
    e.overall["Mean of observations: "] = ym;
    e.overall["Standard deviation of observations: "] = std::sqrt(vy);
    e.overall["Mean error (observed - predicted): "] = err / n;
    e.overall["Root mean squared error: "] = std::sqrt(sse / df);
    e.overall["Proportion of variance explained by model: "] = 1 - sse / df / vy;
    e.overall["Expected std dev of Pearson residuals: "] = e.h;
    e.overall["Mean Anscombe residual: "] = am;
    e.overall["(expected mean)"] = m;
    e.overall["Std Dev of Anscombe residuals: "] = std::sqrt((aq - n * am * am) / df);
    e.overall["(expected sd)"] = std::sqrt(v);
  }
  return e;
}

// The residual analysis section of a results file.
std::vector<std::string> analysis(const std::string& res) {
  auto at = res.find("RESIDUAL ANALYSIS");
  EXPECT_NE(at, std::string::npos);
  return lines(res.substr(at));
}

const std::string* find_line(const std::vector<std::string>& ls, const std::string& start, std::size_t from = 0) {
  for (std::size_t i = from; i < ls.size(); ++i)
    if (ls[i].rfind(start, 0) == 0) return &ls[i];
  return nullptr;
}

// Month, site or year rows between a table's heading and its closing rule.
void expect_rows(const std::vector<std::string>& ls, const std::string& title, const std::map<int, Stat>& groups,
                 double h, bool inflate, std::size_t key_col, std::size_t key_width, const std::vector<std::string>& codes) {
  std::size_t i = 0;
  while (i < ls.size() && ls[i] != "    " + title) ++i;
  ASSERT_LT(i, ls.size()) << title;
  i += 6;  // title, rule, empty line, two column headings, rule
  std::size_t rows = 0;
  for (; i < ls.size() && ls[i].find("-----") == std::string::npos; ++i, ++rows) {
    const std::string& l = ls[i];
    std::string key = l.substr(key_col, key_width);
    int k = codes.empty() ? std::stoi(key)
                          : static_cast<int>(std::find(codes.begin(), codes.end(), key) - codes.begin()) + 1;
    ASSERT_TRUE(groups.count(k)) << l;
    const Stat& g = groups.at(k);
    const std::size_t bar = l.find(" | ");
    EXPECT_EQ(std::stoi(l.substr(bar + 3, 6)), static_cast<int>(g.n)) << l;
    double mean = g.s / g.n, sd = g.n > 1 ? std::sqrt((g.q - g.n * mean * mean) / (g.n - 1)) : h;
    double se = inflate ? h * std::sqrt(g.dep / g.n) / std::sqrt(g.n) : h / std::sqrt(g.n);
    EXPECT_NEAR(num(l.substr(bar + 13, 7)), mean, 1.5e-4) << l;
    EXPECT_NEAR(num(l.substr(bar + 23, 7)), sd, 1.5e-4) << l;
    EXPECT_NEAR(num(l.substr(bar + 34, 7)), se, 1.5e-4) << l;
  }
  EXPECT_EQ(rows, groups.size()) << title;
}

std::vector<std::string> site_codes() {
  std::vector<std::string> codes;
  auto ls = lines(slurp("siteinfo.def"));
  int nattr = std::stoi(ls[38]);
  for (std::size_t i = 40 + static_cast<std::size_t>(nattr) + 1; i < ls.size(); i += 2) codes.push_back(ls[i].substr(0, 4));
  return codes;
}

void check_program(const std::string& program, bool occurrence) {
  TempDir dir;
  for (const char* f : {"siteinfo.def", "gaugvals.dat", "logistic.def", "gammamdl.def"})
    std::filesystem::copy_file(std::string(RAINGLM_REFERENCE_DIR) + "/fit_example/" + f, f);
  auto r = run_binary(program);
  ASSERT_EQ(r.status, 0) << r.output;
  const std::string res = slurp(occurrence ? "logistic.res" : "gammamdl.res");
  const auto codes = site_codes();
  const auto recs = listing(occurrence ? "res_logi.dat" : "res_gamm.dat", occurrence, codes);
  ASSERT_FALSE(recs.empty());
  auto scalar = [&](const std::string& label) {
    auto at = res.rfind(label);
    EXPECT_NE(at, std::string::npos) << label;
    return num(res.substr(at + label.size(), 14));
  };
  const int npar = static_cast<int>(scalar("No. of parameters estimated - "));
  const double nu = occurrence ? 1.0 : scalar("Dispersion parameter (NU) - ");
  Expected e = recompute(recs, occurrence, static_cast<int>(codes.size()), npar, nu);
  auto ls = analysis(res);

  for (const auto& [label, value] : e.overall) {
    if (label[0] == '(') continue;
    const std::string* l = find_line(ls, (occurrence ? std::string(9, ' ') : std::string(4, ' ')) + label);
    ASSERT_NE(l, nullptr) << label;
    const int decimals = occurrence || label.find("Anscombe") != std::string::npos ? 4 : 3;
    const std::size_t col = 4 + label.size() + (occurrence ? 5 : 0);
    EXPECT_NEAR(num(l->substr(col, 7)), value, 1.5 * std::pow(10.0, -decimals)) << *l;
    if (label.find("Anscombe") != std::string::npos) {
      const double expected = e.overall[label[0] == 'M' ? "(expected mean)" : "(expected sd)"];
      EXPECT_NEAR(num(l->substr(col + 19, 7)), expected, 1e-4) << *l;
    }
  }
  if (occurrence) {
    for (int f = 0; f < 2; ++f) {
      const std::string* l = find_line(ls, f == 0 ? "     Forecast dry |" : "     Forecast wet |");
      ASSERT_NE(l, nullptr);
      double tot = e.t[f][0] + e.t[f][1];
      EXPECT_EQ(std::stoi(l->substr(20, 6)), e.t[f][0]);
      EXPECT_EQ(std::stoi(l->substr(28, 6)), e.t[f][1]);
      EXPECT_NEAR(num(l->substr(40, 4)), 100 * e.t[f][f] / tot, 0.051);
      EXPECT_NEAR(num(l->substr(50, 4)), 100 * e.mx[f] / tot, 0.051);
    }
    const std::string* l = find_line(ls, "                  OVERALL % CORRECT :");
    ASSERT_NE(l, nullptr);
    double n = static_cast<double>(recs.size());
    EXPECT_NEAR(num(l->substr(40, 4)), 100 * (e.t[0][0] + e.t[1][1]) / n, 0.051);
    EXPECT_NEAR(num(l->substr(50, 4)), 100 * (e.mx[0] + e.mx[1]) / n, 0.051);
    const std::string *obs = find_line(ls, " Observed propn. |"), *exp = find_line(ls, " Expected propn. |"),
                      *cases = find_line(ls, " Number of cases |");
    ASSERT_TRUE(obs && exp && cases);
    for (int d = 0; d < 10; ++d) {
      const std::size_t c = 18 + 6 * static_cast<std::size_t>(d);
      // A probability within the listing's rounding of a decile boundary may fall
      // on the other side of it here.
      EXPECT_NEAR(std::stoi(cases->substr(c, 5)), e.dn[d], 2) << d;
      EXPECT_NEAR(num(obs->substr(c, 5)), e.dn[d] > 0 ? e.dy[d] / e.dn[d] : 0.0, 6e-4) << d;
      EXPECT_NEAR(num(exp->substr(c, 5)), e.dn[d] > 0 ? e.dp[d] / e.dn[d] : 0.0, 6e-4) << d;
    }
  }
  expect_rows(ls, "MODEL PERFORMANCE BY MONTH", e.month, e.h, true, 7, 4, {});
  expect_rows(ls, "MODEL PERFORMANCE BY SITE", e.site, e.h, false, 7, 4, codes);
  expect_rows(ls, "MODEL PERFORMANCE BY YEAR", e.year, e.h, true, 7, 4, {});
  // The console shows the same analysis, with the longer closing rule of the site table.
  auto con = r.output.substr(r.output.find("RESIDUAL ANALYSIS"));
  auto cl = lines(con.substr(0, con.find("dependence.") + 11));
  ASSERT_EQ(cl.size(), ls.size()) << con;
  int site_rules = 0;
  for (std::size_t i = 0; i < cl.size(); ++i) {
    if (ls[i] == "     " + std::string(73, '-') && ++site_rules == 2) EXPECT_EQ(cl[i], "     " + std::string(77, '-'));
    else EXPECT_EQ(cl[i], ls[i]) << i;
  }
  EXPECT_EQ(site_rules, 2);
}

}  // namespace

TEST(ResidualAnalysis, OccurrenceAgainstARecomputationFromTheListing) { check_program("occmodel/occmodel", true); }

TEST(ResidualAnalysis, AmountsAgainstARecomputationFromTheListing) { check_program("amtmodel/amtmodel", false); }
