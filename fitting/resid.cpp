#include "resid.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "anscombe.hpp"
#include "channels.hpp"
#include "console.hpp"
#include "correl.hpp"
#include "files.hpp"
#include "fixed_format.hpp"
#include "model.hpp"
#include "stores.hpp"

namespace rg {

namespace {

constexpr int NYEARS = RESID_LAST_YEAR - RESID_FIRST_YEAR + 1;

// Count, sum and sum of squares of the Pearson residuals of one month, site or
// year, with the dependence sum of its mean (months and years).
struct Group {
  double n = 0.0, sum = 0.0, sq = 0.0, dep = 0.0;
  void add(double r) {
    n += 1.0;
    sum += r;
    sq += r * r;
  }
};

// Standard deviation from a sum and sum of squares with the given divisor; rounding
// can leave a tiny negative numerator for constant values.
double stdev(double sum, double sq, double n, double divisor) {
  const double mean = sum / n;
  return std::sqrt(std::max(0.0, sq - n * mean * mean) / divisor);
}

// A percentage in its 4 columns with 1 decimal; 100 per cent keeps the field as
// "100." rather than overflowing into asterisks.
std::string percent(double v) {
  std::string s = fmt_f(v, 4, 1);
  return s.find('*') == std::string::npos ? s : fmt_f(v, 4, 0);
}

// A line of n copies of c starting at column col.
std::string rule(int col, int n, char c = '-') {
  std::string s = blanks(col - 1);
  s.append(static_cast<std::size_t>(n), c);
  return s;
}

// Writes each line to the console and then to the results file.
class Report {
 public:
  explicit Report(TextOut& res) : res_(res) {}
  void line(const std::string& l) {
    console().line(l);
    res_.line(l);
  }
  void both(const std::string& con, const std::string& res) {
    console().line(con);
    res_.line(res);
  }

 private:
  TextOut& res_;
};

const char* const NEGATIVE_NOTE = "    NOTE: negative dependence sum - the standard error above is not inflated.";

// Standard error of a mean of count values with expected standard deviation h and
// dependence sum dep: h * sqrt(dep/count) / sqrt(count). A negative dependence sum
// (strong negative correlations) has no square root: the uninflated error is used
// and flagged.
double inflated_se(double h, double dep, double count, bool& negative) {
  negative = dep < 0.0;
  const double factor = negative ? 1.0 : std::sqrt(dep / count);
  return h * factor / std::sqrt(count);
}

std::string row(const std::string& label, double n, double mean, double sd, double se) {
  return Fields()
      .t(label)
      .t(" | ")
      .t(fmt_iw(static_cast<long long>(n), 6))
      .t(" || ")
      .f(mean, 7, 4)
      .x(3)
      .f(sd, 7, 4)
      .x(4)
      .f(se, 7, 4)
      .str();
}

void table_head(Report& out, const std::string& title, int bar_col, const std::string& columns, int dashes) {
  out.line("");
  out.line(blanks(4) + title);
  out.line(rule(5, static_cast<int>(title.size())));
  out.line("");
  out.line(blanks(bar_col - 1) + "|" + blanks(8) + "||     Pearson residuals");
  out.line(blanks(6) + columns);
  out.line(rule(6, dashes));
}

// Rows of the month or year table: label, count, mean, standard deviation and the
// inflated standard error, with a note under a row whose dependence sum is negative.
void period_rows(Report& out, const std::vector<Group>& groups, int first_label, double h) {
  for (std::size_t k = 0; k < groups.size(); ++k) {
    const Group& g = groups[k];
    if (g.n <= 0.0) continue;
    const double sd = g.n > 1.0 ? stdev(g.sum, g.sq, g.n, g.n - 1.0) : h;
    bool negative = false;
    const double se = inflated_se(h, g.dep, g.n, negative);
    out.line(row(blanks(7) + fmt_i(first_label + static_cast<int>(k), 4), g.n, g.sum / g.n, sd, se));
    if (negative) out.line(NEGATIVE_NOTE);
  }
  out.line(rule(6, 49));
}

}  // namespace

void resid(int rsptyp, double nu, int npar, std::int64_t nrec, int chfit, int chres, const SiteTable& sites,
           int nsites, int site_capacity) {
  if (site_capacity != MAXSIT || nsites < 0 || nsites > site_capacity) prgerr(" RESID", "fit_both", 1);
  const bool occurrence = rsptyp == RSP_OCCURRENCE;

  // Expected standard deviation of a Pearson residual; Anscombe moments of amounts.
  double h = 1.0, am = 0.0, av = 0.0;
  if (!occurrence) {
    h = 1.0 / std::sqrt(nu);
    ansprm(nu, am, av);
  }

  // Residual correlations between sites and their numbers of common days.
  Matrix rho(MAXSIT, MAXSIT), common(MAXSIT, MAXSIT);
  empcor(chfit, nsites, nrec, rsptyp, RES_PEARSON, DEP_CORRELATION, rho, common, MAXSIT);

  // One pass over the store.
  double n = 0.0, sse = 0.0, rsum = 0.0, rsq = 0.0;
  std::array<std::array<double, 2>, 2> table{};  // forecast x observed
  std::array<double, 2> maxp{};                  // sum of max(p, 1 - p) per forecast
  std::array<double, 10> dec_y{}, dec_p{}, dec_n{};
  double ysum = 0.0, ysq = 0.0, err = 0.0, asum = 0.0, asq = 0.0;
  std::vector<Group> months(12), years(NYEARS), bysite(static_cast<std::size_t>(nsites));
  std::int64_t outside = 0;

  // Sites with a record on the current day, and the day's dependence sum: each site
  // with itself (correlation 1) and every pair twice.
  std::vector<int> present;
  present.reserve(static_cast<std::size_t>(nsites));
  std::vector<char> on_day(static_cast<std::size_t>(nsites) + 1, 0);
  int cur_y = 0, cur_m = 0;
  long cur_key = -1;
  auto end_day = [&]() {
    double dep = 0.0;
    for (std::size_t a = 0; a < present.size(); ++a) {
      const int i = present[a];
      dep += 1.0;
      for (std::size_t b = a + 1; b < present.size(); ++b) dep += 2.0 * rho(i, present[b]);
      on_day[static_cast<std::size_t>(i)] = 0;
    }
    if (!present.empty()) {
      months[static_cast<std::size_t>(cur_m - 1)].dep += dep;
      if (cur_y >= RESID_FIRST_YEAR && cur_y <= RESID_LAST_YEAR)
        years[static_cast<std::size_t>(cur_y - RESID_FIRST_YEAR)].dep += dep;
    }
    present.clear();
  };

  RecordStore& store = channels().store(chfit);
  FittedRecord rec;
  for (std::int64_t k = 1; k <= nrec; ++k) {
    if (!read_fitted(store, k, rec) || rec.site < 1 || rec.site > nsites || rec.mm < 1 || rec.mm > 12)
      prgerr(" RESID", "fit_both", 3);
    const long key = static_cast<long>(rec.yy) * 10000 + rec.mm * 100 + rec.dd;
    if (key != cur_key) {
      end_day();
      cur_key = key;
      cur_y = rec.yy;
      cur_m = rec.mm;
    }
    if (!on_day[static_cast<std::size_t>(rec.site)]) {
      on_day[static_cast<std::size_t>(rec.site)] = 1;
      present.push_back(rec.site);
    }
    const double y = rec.y, fit = rec.mu;
    double r;
    n += 1.0;
    sse += (y - fit) * (y - fit);
    if (occurrence) {
      r = (y - fit) / std::sqrt(fit * (1.0 - fit));
      const int f = fit >= 0.5 ? 1 : 0, o = y >= 0.5 ? 1 : 0;
      table[static_cast<std::size_t>(f)][static_cast<std::size_t>(o)] += 1.0;
      maxp[static_cast<std::size_t>(f)] += std::max(fit, 1.0 - fit);
      const int d = static_cast<int>(std::floor(10.0 * fit));
      if (d >= 0 && d <= 9) {
        dec_y[static_cast<std::size_t>(d)] += y;
        dec_p[static_cast<std::size_t>(d)] += fit;
        dec_n[static_cast<std::size_t>(d)] += 1.0;
      }
    } else {
      r = (y - fit) / fit;
      ysum += y;
      ysq += y * y;
      err += y - fit;
      const double a = std::cbrt(y / fit);
      asum += a;
      asq += a * a;
    }
    rsum += r;
    rsq += r * r;
    months[static_cast<std::size_t>(rec.mm - 1)].add(r);
    bysite[static_cast<std::size_t>(rec.site - 1)].add(r);
    if (rec.yy >= RESID_FIRST_YEAR && rec.yy <= RESID_LAST_YEAR)
      years[static_cast<std::size_t>(rec.yy - RESID_FIRST_YEAR)].add(r);
    else
      ++outside;
  }
  end_day();

  // Overall dependence sum from the pairs' common days.
  double dep = 0.0;
  for (int i = 1; i <= nsites; ++i)
    for (int j = i; j <= nsites; ++j)
      if (common(i, j) > 0.0) dep += (i == j ? 1.0 : 2.0) * rho(i, j) * common(i, j);

  const double df = n - static_cast<double>(npar);
  const double rmean = rsum / n;
  const double rsd = stdev(rsum, rsq, n, df);
  const double mse = sse / df;

  Report out(channels().output(chres));
  out.line("");
  out.line("");
  out.line(blanks(29) + "RESIDUAL ANALYSIS");
  out.line(rule(30, 17, '='));
  out.line("");
  if (occurrence) {
    out.line(blanks(18) + "|    Observed    ||     % correct");
    out.line(blanks(18) + "|   Dry     Wet  || Observed  Expected");
    out.line(rule(6, 52));
    for (int f = 0; f <= 1; ++f) {
      const double t0 = table[static_cast<std::size_t>(f)][0], t1 = table[static_cast<std::size_t>(f)][1];
      const double total = t0 + t1;
      const double obs = total > 0.0 ? 100.0 * (f == 0 ? t0 : t1) / total : 0.0;
      const double exp = total > 0.0 ? 100.0 * maxp[static_cast<std::size_t>(f)] / total : 0.0;
      out.line(Fields()
                   .x(5)
                   .t(f == 0 ? "Forecast dry |" : "Forecast wet |")
                   .x(1)
                   .t(fmt_iw(static_cast<long long>(t0), 6))
                   .x(2)
                   .t(fmt_iw(static_cast<long long>(t1), 6))
                   .t(" ||   ")
                   .t(percent(obs))
                   .x(6)
                   .t(percent(exp))
                   .str());
    }
    out.line(rule(6, 52));
    const double correct = table[0][0] + table[1][1];
    out.line(blanks(18) + "OVERALL % CORRECT :   " + percent(100.0 * correct / n) + blanks(6) +
             percent(100.0 * (maxp[0] + maxp[1]) / n));
    out.line("");
    out.line(" Rainday frequencies vs forecasts:");
    out.line(rule(2, 32));
    out.line(" Forecast decile |  1  |  2  |  3  |  4  |  5  |  6  |  7  |  8  |  9  | 10  |");
    out.line(rule(2, 77));
    std::string obs = " Observed propn. |", exp = " Expected propn. |", cases = " Number of cases |";
    for (std::size_t d = 0; d < 10; ++d) {
      const bool any = dec_n[d] > 0.0;
      obs += fmt_f(any ? dec_y[d] / dec_n[d] : 0.0, 5, 3) + "|";
      exp += fmt_f(any ? dec_p[d] / dec_n[d] : 0.0, 5, 3) + "|";
      cases += fmt_iw(static_cast<long long>(dec_n[d]), 5) + "|";
    }
    out.line(obs);
    out.line(exp);
    out.line(cases);
    out.line(rule(2, 77));
    out.line("");
    bool negative = false;
    const double se = inflated_se(rsd, dep, n, negative);
    out.line(blanks(9) + "Mean Squared Error (mean Brier score): " + fmt_f(mse, 7, 4));
    out.line(blanks(9) + "Mean Pearson residual: " + fmt_f(rmean, 7, 4));
    out.line(blanks(9) + "Standard deviation of Pearson residuals: " + fmt_f(rsd, 7, 4));
    out.line(blanks(9) + "Standard error of mean Pearson residual: " + fmt_f(se, 7, 4));
    if (negative) out.line(NEGATIVE_NOTE);
    out.line("");
  } else {
    const double ymean = ysum / n;
    const double yvar = std::max(0.0, ysq - n * ymean * ymean) / (n - 1.0);
    const double amean = asum / n;
    out.line(blanks(4) + "Mean of observations: " + fmt_f(ymean, 7, 3));
    out.line(blanks(4) + "Standard deviation of observations: " + fmt_f(std::sqrt(yvar), 7, 3));
    out.line("");
    out.line(blanks(4) + "Mean error (observed - predicted): " + fmt_f(err / n, 7, 3));
    out.line(blanks(4) + "Root mean squared error: " + fmt_f(std::sqrt(mse), 7, 3));
    out.line(blanks(4) + "Proportion of variance explained by model: " + fmt_f(1.0 - mse / yvar, 6, 3));
    out.line("");
    out.line(blanks(4) + "Mean Pearson residual: " + fmt_f(rmean, 7, 3));
    out.line(blanks(4) + "Standard deviation of Pearson residuals: " + fmt_f(rsd, 7, 3));
    out.line(blanks(4) + "Expected std dev of Pearson residuals: " + fmt_f(h, 7, 3));
    out.line("");
    out.line(blanks(4) + "Mean Anscombe residual: " + fmt_f(amean, 7, 4) + " (expected: " + fmt_f(am, 7, 4) + ")");
    out.line(blanks(4) + "Std Dev of Anscombe residuals: " + fmt_f(stdev(asum, asq, n, df), 7, 4) +
             " (expected: " + fmt_f(std::sqrt(av), 7, 4) + ")");
    out.line("");
  }

  const std::string pearson_cols = "| N days ||   Mean    Std Dev   S.E. mean";
  table_head(out, "MODEL PERFORMANCE BY MONTH", 13, "Month " + pearson_cols, 49);
  period_rows(out, months, 1, h);

  table_head(out, "MODEL PERFORMANCE BY SITE", 35, " Site  Name" + blanks(17) + pearson_cols, 73);
  for (int i = 1; i <= nsites; ++i) {
    const Group& g = bysite[static_cast<std::size_t>(i - 1)];
    if (g.n <= 0.0) continue;
    const double sd = g.n > 1.0 ? stdev(g.sum, g.sq, g.n, g.n - 1.0) : h;
    out.line(row(blanks(7) + fmt_a(sites.sitcod(i), 4) + blanks(2) + fmt_a(sites.sitnam(i), 20), g.n, g.sum / g.n,
                 sd, h / std::sqrt(g.n)));
  }
  out.both(rule(6, 77), rule(6, 73));

  table_head(out, "MODEL PERFORMANCE BY YEAR", 13, " Year " + pearson_cols, 49);
  period_rows(out, years, RESID_FIRST_YEAR, h);
  if (outside > 0)
    out.line(blanks(4) + "NOTE: " + std::to_string(outside) + " record(s) dated outside " +
             std::to_string(RESID_FIRST_YEAR) + "-" + std::to_string(RESID_LAST_YEAR) + " are left out of this table.");

  out.line("");
  out.line(blanks(4) + "NOTE: Standard errors computed for overall, monthly and yearly");
  out.line(blanks(4) + "means above are inflated to compensate for spatial dependence.");
  console().blank();
}

}  // namespace rg
