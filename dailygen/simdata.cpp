#include "simdata.hpp"

#include <algorithm>
#include <cmath>

#include "channels.hpp"
#include "console.hpp"
#include "dateutil.hpp"
#include "files.hpp"
#include "fixed_format.hpp"
#include "fixed_parse.hpp"
#include "run_exit.hpp"

namespace rg {

namespace {

std::uint32_t pack(std::string_view code) {
  std::uint32_t key = 0;
  for (std::size_t k = 0; k < 4; ++k) key = key << 8 | static_cast<unsigned char>(k < code.size() ? code[k] : ' ');
  return key;
}

std::string date_text(int dd, int mm, int yy) { return Fields().i(dd, 2).t("/").i(mm, 2).t("/").i(yy, 4).str(); }

[[noreturn]] void read_failure(const std::string& file, int dd, int mm, int yy) {
  Console& con = console();
  con.blank();
  con.blank();
  con.line("****ERROR**** while reading input file " + file + ". The last successful access");
  con.line("was for data on " + date_text(dd, mm, yy) + ".");
  end_run(1);
}

[[noreturn]] void date_failure(std::string_view what, int dd, int mm, int yy, std::string_view record) {
  Console& con = console();
  con.blank();
  con.blank();
  con.line("****ERROR**** " + std::string(what) + " Offending date is");
  con.line(date_text(dd, mm, yy) + ", at site " + fmt_a(column_field(record, 9, 4), 4) + ".");
  end_run(1);
}

// A value in a message, without the blanks of its field.
std::string number_text(double v) {
  const std::string f = fmt_e(v, 12, 4);
  return f.substr(std::min(f.find_first_not_of(' '), f.size()));
}

// A value of the data file counts as observed down to rounding noise below 0.
constexpr double OBSERVED = -1.0e-12;

}  // namespace

SimThresholds simthr(const Model& occ) {
  SimThresholds t;
  taudef(occ, t.postiv, t.trace, t.kind);
  return t;
}

void DataSearch::set_codes(const SiteTable& sites) {
  for (int i = 1; i <= sites.nsites; ++i) codes(i) = pack(sites.sitcod(i));
}

void SimDay::clear() {
  rain.fill(0.0);
  flags.fill(1);
  previous.fill(0.0);
}

void datrd2(SimDay& day, int nsites, int yy, int mm, int dd, DataSearch& search, int mxlag) {
  TextIn& in = channels().input(search.channel);
  const long want = static_cast<long>(yy) * 10000 + mm * 100 + dd;
  int ly = 0, lm = 0, ld = 0;  // date of the last record read in this call
  for (;;) {
    auto line = in.next();
    if (!line) {
      search.state = 2;
      in.rewind();
      return;
    }
    std::string_view text = *line;
    // A blank line holds no record (typically one left at the end of the file).
    if (trim_right(text).empty()) {
      if (search.state == -1) search.nlines = in.line_number();
      continue;
    }
    // A record that cannot be read names the last one that could (0/0/0 if none in
    // this call). A line that ends before the value field has no value; a blank
    // value field reads as 0.
    const auto y = read_int(text, 1, 4);
    const auto mo = read_int(text, 5, 2);
    const auto d = read_int(text, 7, 2);
    const auto value = text.size() >= 13 ? read_real(text, 13, 6, 2) : std::nullopt;
    if (!y || *y < -9999 || *y > 9999 || !mo || !d || !value) read_failure(search.file, ld, lm, ly);
    ly = static_cast<int>(*y);
    lm = static_cast<int>(*mo);
    ld = static_cast<int>(*d);
    if (!is_calendar_date(ly, lm, ld))
      date_failure("impossible date in input file.", ld, lm, ly, text);
    const long date = static_cast<long>(ly) * 10000 + lm * 100 + ld;

    if (date == want) {
      if (search.state == -1) search.state = 0;
      const std::uint32_t code = pack(column_field(text, 9, 4));
      // A missing value leaves the site to the generator.
      const bool observed = *value >= OBSERVED;
      for (int i = 1; i <= nsites; ++i) {
        if (search.codes(i) != code) continue;
        day.rain(i) = observed ? std::max(*value, 0.0) : -1.0;
        day.flags(i) = observed ? 0 : 1;
      }
      continue;
    }
    if (date > want) {
      in.backspace();
      if (search.state == -1) {
        search.state = 0;
        Console& con = console();
        con.blank();
        con.blank();
        con.line("****WARNING**** Your simulation starts before the first available data");
        con.line("in file " + search.file + ". If you continue, it will be as though the time period of");
        con.line("of your simulation were preceded by " + fmt_i(mxlag, 1) + " totally dry days.");
        con.blank();
        okcont();
      }
      return;
    }
    if (search.state == -1 || search.state == 2) {
      if (search.state == -1) search.nlines = in.line_number();
      continue;
    }
    date_failure("input file out of order.", ld, lm, ly, text);
  }
}

void updat2(SimDay& day, const SimThresholds& thr, int nsites, int yy, int mm, int dd, int mxlag, DataSearch& search,
            int site_capacity) {
  if (site_capacity != MAXSIT || nsites > site_capacity || mxlag < 0 || mxlag > MAXLAG) prgerr("UPDAT2", "dailygen", 1);
  if (search.state == -1) search.nlines = 0;
  for (int i = 1; i <= nsites; ++i) {
    for (int k = mxlag; k >= 2; --k) day.previous(i, k) = day.previous(i, k - 1);
    if (mxlag >= 1) day.previous(i, 1) = day.rain(i);
    day.flags(i) = 1;
    day.rain(i) = -1.0;
  }
  if (search.state == 2) return;

  if (search.state == -1 || search.state == 0) {
    TextIn& in = channels().input(search.channel);
    if (search.state == -1) {
      Console& con = console();
      con.blank();
      con.blank();
      con.line("Hang on a minute, I'm just searching file " + search.file + " for some data within ");
      con.line("the period requested...");
    } else {
      for (long l = 0; l < search.nlines; ++l)
        if (!in.next()) break;
    }
    // The observed days before the first one fill the history, on the model's scale
    // like every observed day.
    int julian = 0, ifail = 0;
    dmytoj(dd, mm, yy, julian, ifail);
    for (int lag = mxlag; lag >= 1; --lag) {
      int d = 0, m = 0, y = 0;
      jtodmy(julian - lag, 0, 0, 0, d, m, y, ifail);
      datrd2(day, nsites, y, m, d, search, mxlag);
      for (int i = 1; i <= nsites; ++i) {
        if (day.flags(i) == 0) day.previous(i, lag) = onscale(day.rain(i), thr);
        day.rain(i) = -1.0;
        day.flags(i) = 1;
      }
      if (search.state == 2) return;
    }
  }

  datrd2(day, nsites, yy, mm, dd, search, mxlag);
  if (search.state == 0) search.state = 1;
  if (thr.kind == 1 || thr.kind == 2)
    for (int i = 1; i <= nsites; ++i)
      if (day.rain(i) >= 0.0) day.rain(i) = onscale(day.rain(i), thr);
}

void chkpred(const Array1<double>& eta, const Matrix& pred2, const Array1<double>& mu, const SiteTable& sites,
             int nsites, int yy, int mm, int dd) {
  // x * 0 is 0 for every finite x and NaN otherwise: one sum per day says whether any
  // value is bad (an infinite logit gives probability 0 or 1 and is allowed). A mean
  // amount that underflows to 0 is no gamma mean either.
  double probe = 0.0;
  for (int i = 1; i <= nsites; ++i)
    probe += (eta(i) - eta(i)) + pred2(i, 4) * 0.0 + mu(i) * 0.0 + (mu(i) > 0.0 ? 0.0 : 1.0);
  if (probe == 0.0) return;
  for (int i = 1; i <= nsites; ++i) {
    const bool occ_bad = std::isnan(eta(i));
    const bool amt_zero = !occ_bad && std::isfinite(pred2(i, 4)) && !(mu(i) > 0.0);
    if (!occ_bad && !amt_zero && std::isfinite(pred2(i, 4)) && std::isfinite(mu(i))) continue;
    Console& con = console();
    con.blank();
    std::string where = occ_bad ? "rain at site " : "site ";
    where.append(sites.sitcod(i)).append(" on ").append(date_text(dd, mm, yy));
    where.append(": its linear predictor is ").append(number_text(occ_bad ? eta(i) : pred2(i, 4))).append(".");
    con.line(occ_bad    ? "****ERROR**** The occurrence model (logistic.def) gives no finite probability of"
             : amt_zero ? "****ERROR**** The amounts model (gammamdl.def) gives no positive mean amount at"
                        : "****ERROR**** The amounts model (gammamdl.def) gives no finite mean amount at");
    con.line(where);
    con.line("Check the model's coefficients and covariate values.");
    end_run(1);
  }
}

void setpred(Matrix& pred, const Matrix& covs, const Model& m, int nsites, int stage, int site_capacity,
             int covariate_capacity) {
  if (site_capacity != MAXSIT || covariate_capacity != MAXPAR || nsites > site_capacity || pred.cols() < 4 ||
      stage < 1 || stage > 4 || m.np(6) > covariate_capacity)
    prgerr("SETPRED", "dailygen", 1);
  const int g1 = m.np(1), g2 = m.np(2), g3 = m.np(3);
  auto level = [&](int k) { return k <= g1 ? 1 : k <= g2 ? 2 : k <= g3 ? 3 : 4; };
  // Terms of each level, in covariate order: main effects by their group, and
  // interactions by their latest factor.
  int terms[5][MAXPAR];
  int nterms[5] = {0, 0, 0, 0, 0};
  for (int k = 1; k <= m.np(6); ++k) {
    int lv = 1;
    if (k <= m.np(4)) lv = level(k);
    else if (k <= m.np(5)) lv = level(std::max(m.twoway(k, 1), m.twoway(k, 2)));
    else lv = level(std::max({m.thrway(k, 1), m.thrway(k, 2), m.thrway(k, 3)}));
    if (lv >= stage) terms[lv][nterms[lv]++] = k;
  }
  // Term by term over the sites (columns of covs), which for every site adds the same
  // products in the same order as a sum site by site would.
  for (int lv = stage; lv <= 4; ++lv) {
    double* const out = &pred(1, lv);
    if (lv == 1) {
      for (int i = 0; i < nsites; ++i) out[i] = m.beta(0);
    } else {
      const double* const before = &pred(1, lv - 1);
      for (int i = 0; i < nsites; ++i) out[i] = before[i];
    }
    for (int t = 0; t < nterms[lv]; ++t) {
      const double b = m.beta(terms[lv][t]);
      const double* const col = &covs(1, terms[lv][t]);
      for (int i = 0; i < nsites; ++i) out[i] += b * col[i];
    }
  }
}

}  // namespace rg
