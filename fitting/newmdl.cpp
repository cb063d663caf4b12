#include "newmdl.hpp"

#include <cmath>
#include <cstdlib>

#include "channels.hpp"
#include "files.hpp"
#include "fixed_format.hpp"
#include "fixed_parse.hpp"

namespace rg {

namespace {

bool fits(const std::string& s) { return s.find('*') == std::string::npos; }

std::string head(int type, double value) { return fmt_i(type, 5) + value_field(value); }

// Whether main effect i has a nonlinear parameter marked for estimation: the model
// reader refuses such a parameter when the covariate's coefficient reads as 0.
bool estimates_parameter(const Model& m, int i) {
  if (i < 1 || i > m.np(4)) return false;
  for (int p = 1; p <= MAXNLP; ++p)
    if (isdef(m.theta(i, p)) && m.nlstat(i, p) != 0) return true;
  return false;
}

// The value field of main effect i's coefficient: as any value, except that a
// non-zero coefficient of a covariate with an estimated parameter that would round
// to 0.0000 keeps its leading digits in exponent form, so the file reads back.
std::string coefficient_field(const Model& m, int i) {
  const double v = m.beta(i);
  std::string s = value_field(v);
  if (v == 0.0 || !estimates_parameter(m, i) || parse_real(s, 4).value_or(0.0) != 0.0) return s;
  for (int d = 5; d >= 1; --d) {
    std::string e = fmt_e(v, 10, d);
    if (fits(e) && parse_real(e, 4).value_or(0.0) != 0.0) return e;
  }
  return s;
}

std::string coefficient_head(int type, const Model& m, int i) { return fmt_i(type, 5) + coefficient_field(m, i); }

// How far the value a field reads back as lies from v.
double round_trip_error(const std::string& field, double v) {
  const auto back = parse_real(field, 4);
  return back ? std::fabs(*back - v) : HUGE_VAL;
}

std::string cut(const std::string& s, std::size_t n) { return fmt_a(s, static_cast<int>(n)); }

}  // namespace

std::string value_field(double v) {
  for (int d = 4; d >= 0; --d) {
    std::string s = fmt_f(v, 10, d);
    if (fits(s)) return s;
  }
  for (int d = 5; d >= 1; --d) {
    std::string s = fmt_e(v, 10, d);
    if (fits(s)) return s;
  }
  return fmt_f(v, 10, 4);  // not finite: shows as such, and the reader refuses it
}

std::string dependence_field(double v) {
  std::string s = value_field(v);
  if (v == 0.0 || !std::isfinite(v) || std::fabs(v) >= 0.1) return s;
  // Below 0.1 the leading zeros take digits of the 4 decimals: the exponent form
  // where it keeps more of the value (a decay rate per metre is of order 1e-6 and
  // would otherwise read back as 0).
  for (int d = 5; d >= 1; --d) {
    std::string e = fmt_e(v, 10, d);
    if (!fits(e)) continue;
    if (round_trip_error(e, v) < round_trip_error(s, v)) return e;
    break;
  }
  return s;
}

void newmdl(int chold, int chnew, int capacity, const Model& m) {
  if (capacity != MAXPAR) prgerr("NEWMDL", "fit_both", 1);
  Channels& ch = channels();
  TextIn& old = ch.input(chold);
  TextOut& out = ch.output(chnew);
  old.rewind();
  for (int i = 1; i <= 46; ++i) {
    auto line = old.next();
    out.line(fmt_a(line ? *line : std::string(), 80));
  }
  ch.close(chold);
  out.line(std::string(20, '%') + "LINE NOT CURRENTLY USED" + std::string(20, '%'));
  out.line(fmt_a(m.mdltit, TXTLEN));

  auto l1 = [&](int type, int c1, int i) {
    out.line(coefficient_head(type, m, i) + fmt_i(c1, 5) + blanks(10) + cut(m.covtxt(i), 40) + " " + fmt_i(i, 3));
  };
  auto l2 = [&](int type, int c1, int c2, int i) {
    out.line(coefficient_head(type, m, i) + fmt_i(c1, 5) + fmt_i(c2, 5) + blanks(5) + cut(m.covtxt(i), 40) + " " + fmt_i(i, 3));
  };
  auto l3 = [&](int type, int c1, int c2, int c3, int i) {
    out.line(coefficient_head(type, m, i) + fmt_i(c1, 5) + fmt_i(c2, 5) + fmt_i(c3, 5) + cut(m.covtxt(i), 40) + " " + fmt_i(i, 3));
  };
  const int np1 = m.np(1), np2 = m.np(2), np3 = m.np(3), np4 = m.np(4), np5 = m.np(5), np6 = m.np(6);

  out.line(head(0, m.beta(0)) + blanks(15) + cut(m.covtxt(0), 40));
  for (int i = 1; i <= np1; ++i) {
    if (m.sitxfm(i, 2) != 0) l2(1, m.sitxfm(i, 1), m.sitxfm(i, 2), i);
    else l1(1, m.covcod(i), i);
  }
  for (int i = np1 + 1; i <= np3; ++i) {
    int type = i <= np2 ? 2 : 3;
    int c = m.covcod(i);
    if (std::abs(c) % 1000 < 51) l1(type, c, i);
    else l2(type, std::abs(c) % 1000, c / 1000, i);
  }
  bool first_lag = true;
  for (int i = np3 + 1; i <= np4; ++i) {
    int c = m.covcod(i), k = std::abs(c) % 1000;
    if (k <= 10) {
      if (first_lag) l3(4, k, c / 1000, m.mxlag, i);
      else l2(4, k, c / 1000, i);
      first_lag = false;
    } else if (k <= 50) {
      l1(4, k, i);
    } else {
      l2(4, k, c / 1000, i);
    }
  }
  for (int i = np4 + 1; i <= np5; ++i) {
    int a = m.twoway(i, 1), b = m.twoway(i, 2);
    out.line(head(5, m.beta(i)) + fmt_i(a, 5) + fmt_i(b, 5) + blanks(5) + "2-way interaction: covariates " +
             fmt_i(a, 2) + " and " + fmt_i(b, 2));
  }
  for (int i = np5 + 1; i <= np6; ++i) {
    int a = m.thrway(i, 1), b = m.thrway(i, 2), c = m.thrway(i, 3);
    out.line(head(6, m.beta(i)) + fmt_i(a, 5) + fmt_i(b, 5) + fmt_i(c, 5) + "3-way interaction: covariates " +
             fmt_i(a, 2) + ", " + fmt_i(b, 2) + " and " + fmt_i(c, 2));
  }
  for (int j = 1; j <= np4; ++j) {
    int w = m.wtschm(j);
    bool owner = j <= np3 || w < 2 || m.pwtidx(w, 1) == j;
    if (!owner) continue;
    for (int p = 1; p <= MAXNLP; ++p) {
      if (!isdef(m.theta(j, p))) continue;
      out.line(head(7, m.theta(j, p)) + fmt_i(j, 5) + fmt_i(p, 5) + fmt_i(m.nlstat(j, p), 5) + "Parameter " +
               fmt_i(p, 1) + " in xfrmation of covariate " + fmt_i(j, 3));
    }
  }
  for (int k = 1; k <= m.np(8); ++k) {
    int g = m.glbcod(k);
    if (g < 1000 || g > 1999) continue;
    int kind = g % 1000;
    out.line(head(8, m.glbval(k)) + fmt_i(g / 1000, 5) + fmt_i(kind, 5) + blanks(5) + cut(m.glbtxt(k), 39));
  }
  if (m.nu > 0.0) out.line(head(9, m.nu) + blanks(15) + "Dispersion parameter");
  if (m.spmod == 1) {
    out.line(head(10, 0.0) + fmt_i(1, 5) + blanks(10) + "Observed residual correlation structure");
    return;
  }
  // Every defined parameter of the structure, by number (a structure may be given
  // parameter 3 without parameter 2).
  if (m.spmod != 0) {
    for (int g = 1; g <= MAXRHO; ++g) {
      if (!isdef(m.rho(g))) continue;
      out.line(fmt_i(10, 5) + dependence_field(m.rho(g)) + fmt_i(m.spmod, 5) + fmt_i(g, 5) + blanks(5) + "Parameter " + fmt_i(g, 2) + " " +
               " in spatial dependence model");
    }
  }
}

}  // namespace rg
