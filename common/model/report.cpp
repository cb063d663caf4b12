// Descriptions of covariates, nonlinear parameters and global quantities, and the
// printed model report (initial, progress and final).
#include <string>
#include <string_view>

#include "channels.hpp"
#include "console.hpp"
#include "files.hpp"
#include "fixed_format.hpp"
#include "model.hpp"
#include "spatial.hpp"

namespace rg {

namespace {

// ---- Vocabulary ----

constexpr std::string_view MONTHS[12] = {"January", "February", "March",     "April",   "May",      "June",
                                         "July",    "August",   "September", "October", "November", "December"};

std::string pad(std::string_view s) { return fmt_a(s, TXTLEN); }

// Texts of the yearly trends and of their parameters.
std::string_view trend_text(int code) {
  switch (code) {
    case 1: return "Linear (0.1 per year, 0 in 1950)";
    case 2: return "Linear (0.1 per year) after year Y";
    case 3: return "Cyclical";
    default: return {};
  }
}
std::string_view trend_parameter(int code, int k) {
  if (code < 1 || code > 3) return {};
  if (code == 2 && k == 1) return "Date of changepoint (year)";
  if (code == 3 && k == 1) return "Cycle length (years)";
  if (code == 3 && k == 2) return "Date of cycle minimum";
  return "NOT USED";
}

std::string monthly_text(int code) {
  switch (code) {
    case 1: return "Monthly seasonal effect, cosine component";
    case 2: return "Monthly seasonal effect, sine component";
    case 3: return "Monthly half-year cycle, cosine component";
    case 4: return "Monthly half-year cycle, sine component";
    default: break;
  }
  if (code >= 11 && code <= 22) return std::string(MONTHS[code - 11]) + " indicator";
  return {};
}

std::string daily_text(int code) {
  if (code >= 1 && code <= MAXLAG) return "Y[t-" + std::to_string(code) + "]";
  switch (code) {
    case 21: return "Daily seasonal effect, cosine component";
    case 22: return "Daily seasonal effect, sine component";
    case 23: return "Daily half-year cycle, cosine component";
    case 24: return "Daily half-year cycle, sine component";
    default: break;
  }
  if (code >= 31 && code <= 42) return "Smooth " + std::string(MONTHS[code - 31]) + " effect";
  return {};
}

// Parameter texts of the site-attribute transformations.
std::string_view transform_parameter(int code, int k) {
  const bool known = (code >= 1 && code <= 3) || (code >= 11 && code <= 40);
  if (!known) return {};
  if (k == 3) return "NOT USED";
  if (code == 1) return k == 1 ? "Parameter of transformation" : "NOT USED";
  if (code == 2) return k == 1 ? "Value of a" : "NOT USED";
  if (code == 3) return k == 1 ? "Location parameter" : "Scale parameter";
  if (code <= 30) return k == 1 ? "Lower limit for Fourier representation" : "Upper limit for Fourier representation";
  return k == 1 ? "Lower limit for polynomial representation" : "Upper limit for polynomial representation";
}

std::string_view global_text(int kind) {
  switch (kind) {
    case 1: return "Trace threshold";
    case 2: return "`Soft' threshold for +ve values";
    case 3: return "`Hard' threshold for +ve values";
    default: return {};
  }
}

// An entry of a 1-based text table, blank when the index is outside it.
std::string entry(const Array1<std::string>& t, int i) {
  if (i < t.lo() || i > t.hi()) return pad({});
  return t(i);
}

// ---- Default texts of the covariate construction ----

void plain_prvtxt(int code, std::string& text) {
  text = pad(daily_text(code % 1000) + " (previous-day code " + std::to_string(code / 1000) + ")");
}

std::string plain_extlabel(int kind, int predictor, int offset) {
  static constexpr std::string_view KINDS[3] = {"annual", "monthly", "daily"};
  std::string label = "External ";
  label += (kind >= 1 && kind <= 3) ? KINDS[kind - 1] : std::string_view("?");
  label += " predictor " + std::to_string(predictor);
  if (offset != 0) label = "Lag " + fmt_i(offset, 3) + ": " + label;
  return pad(label);
}

std::string external_text(int kind, int code) {
  const int predictor = (code < 0 ? -code : code) % 1000 - 50;
  const int offset = code / 1000;
  auto& hooks = covariate_text_hooks();
  return pad(hooks.extlabel ? hooks.extlabel(kind, predictor, offset) : plain_extlabel(kind, predictor, offset));
}

int effect_of(int code) { return (code < 0 ? -code : code) % 1000; }

}  // namespace

CovariateTextHooks& covariate_text_hooks() {
  static CovariateTextHooks hooks;
  return hooks;
}

void txtset(Model& m, const Array1<std::string>& attnam) {
  const std::string empty = pad({});
  m.covtxt.fill(empty);
  m.partxt.fill(empty);
  m.covtxt(0) = pad("Constant");
  const int n1 = m.np(1), n2 = m.np(2), n3 = m.np(3), n4 = m.np(4);

  for (int j = 1; j <= n1; ++j) {
    m.covtxt(j) = pad(entry(attnam, m.covcod(j)));
    const int xfm = m.sitxfm(j, 2);
    if (xfm != 0)
      for (int k = 1; k <= MAXNLP; ++k) m.partxt(j, k) = pad(transform_parameter(xfm, k));
  }
  for (int j = n1 + 1; j <= n2; ++j) {
    const int e = effect_of(m.covcod(j));
    if (e <= 50) {
      m.covtxt(j) = pad("Trend " + fmt_i(j - n1, 2) + " - " + std::string(trend_text(e)));
      for (int k = 1; k <= MAXNLP; ++k) m.partxt(j, k) = pad(trend_parameter(e, k));
    } else {
      m.covtxt(j) = external_text(1, m.covcod(j));
    }
  }
  for (int j = n2 + 1; j <= n3; ++j) {
    const int e = effect_of(m.covcod(j));
    m.covtxt(j) = e <= 50 ? pad(monthly_text(e)) : external_text(2, m.covcod(j));
  }
  for (int j = n3 + 1; j <= n4; ++j) {
    const int code = m.covcod(j);
    const int e = effect_of(code);
    if (e > 50) {
      m.covtxt(j) = external_text(3, code);
      continue;
    }
    m.covtxt(j) = pad(daily_text(e));
    if (code > 1000) {
      auto& hooks = covariate_text_hooks();
      if (hooks.prvtxt) hooks.prvtxt(code, m.covtxt(j));
      else plain_prvtxt(code, m.covtxt(j));
      m.covtxt(j) = pad(m.covtxt(j));
    }
    const int w = m.wtschm(j);
    if (w >= 2 && w <= MAXWTS && m.pwtidx(w, 1) == j) {
      if (w == 2) {
        m.partxt(j, 1) = pad("Exponential decay rate");
        m.partxt(j, 2) = m.partxt(j, 3) = pad("NOT USED");
      } else if (w == 3) {
        m.partxt(j, 1) = pad("Offset for " + entry(attnam, 1));
        m.partxt(j, 2) = pad("Offset for " + entry(attnam, 2));
        m.partxt(j, 3) = pad("Exponential decay rate");
      }
    }
  }
  for (int l = 1; l <= std::min(m.np(8), MAXGLB); ++l) {
    const int code = m.glbcod(l);
    if (code >= 1000 && code <= 1999) m.glbtxt(l) = pad(global_text(code - 1000));
  }
}

namespace {

// Where a report line goes: always the console, and the file when asked.
class Report {
 public:
  Report(TextOut* file) : con_(console()), file_(file) {}
  void line(const std::string& s, bool to_file) {
    con_.line(s);
    if (to_file && file_) file_->line(s);
  }
  void both(const std::string& s) { line(s, true); }
  void file_only(const std::string& s) {
    if (file_) file_->line(s);
  }

 private:
  Console& con_;
  TextOut* file_;
};

const std::string DASH(80, '-');
std::string dashes(int n) { return DASH.substr(0, static_cast<std::size_t>(n)); }

// The first n characters of a 70-character text.
std::string text(const std::string& s, int n) { return fmt_a(s, n); }

std::string covtxt_of(const Model& m, int j) {
  if (j < 0 || j > MAXPAR) return pad({});
  return m.covtxt(j);
}

void heading(Report& r, std::string_view title, int title_dashes, int mode) {
  const bool to_file = mode != 2;
  if (mode == 3) {
    r.both("");
    r.both(fmt_a(title, 55) + "Coefficient  Std Err");
    r.both(dashes(title_dashes) + blanks(55 - title_dashes) + dashes(11) + "  " + dashes(7));
  } else {
    r.line(fmt_a(title, 55) + "Coefficient", to_file);
    r.line(dashes(title_dashes) + blanks(55 - title_dashes) + dashes(11), to_file);
  }
}

std::string estimate(double b, double se, int mode) {
  std::string s = "  " + fmt_f(b, 10, 6);
  if (mode == 3) s += "  " + fmt_f(se, 7, 4);
  return s;
}

// The first member of an interaction with its coefficient; the file copy of the
// initial report shows only 40 characters of the member's text.
void interaction(Report& r, const Model& m, int j, int first, double se, int mode) {
  const std::string tail = estimate(m.beta(j), se, mode);
  const std::string con = text(covtxt_of(m, first), 53) + tail;
  if (mode == 1) {
    r.line(con, false);
    r.file_only(fmt_a(text(covtxt_of(m, first), 40), 53) + tail);
  } else {
    r.line(con, mode == 3);
  }
}

}  // namespace

void chkmdl(const Model& m, const Array1<double>& sebeta, const Array2<double>& setheta,
            const Array1<std::string>& attnam, int mode, int rsptyp, int filech) {
  if (mode < 1 || mode > 3) prgerr(" CHKMDL", "glm_base", 3);
  if (mode == 3 && (sebeta.lo() > 0 || sebeta.hi() < m.np(6) || setheta.rows() < m.np(4) || setheta.cols() < MAXNLP))
    prgerr(" CHKMDL", "glm_base", 1);
  TextOut* file = nullptr;
  if (mode != 2) {
    if (!channels().connected(filech)) prgerr(" CHKMDL", "glm_base", 3);
    file = &channels().output(filech);
  }
  Report r(file);
  const bool to_file = mode != 2;
  auto se_beta = [&](int j) { return mode == 3 ? sebeta(j) : 0.0; };

  // 1. Title and block heading.
  if (mode == 1) {
    const std::string title = fmt_a(m.mdltit, TXTLEN);
    const auto dbl = title.find("  ");
    r.both(title);
    r.both(std::string(dbl == std::string::npos ? TXTLEN : dbl, '='));
    r.both("Initial parameter estimates:");
  } else if (mode == 3) {
    r.both("Final parameter estimates:");
  }

  // 2-3. Constant and main effects.
  heading(r, "Main effect:", 12, mode);
  for (int j = 0; j <= m.np(4); ++j) r.line(text(m.covtxt(j), 53) + estimate(m.beta(j), se_beta(j), mode), to_file);

  // 4. Two-way interactions.
  if (m.np(5) > m.np(4)) {
    heading(r, "2-way interactions:", 19, mode);
    for (int j = m.np(4) + 1; j <= m.np(5); ++j) {
      interaction(r, m, j, m.twoway(j, 1), se_beta(j), mode);
      r.line("with " + text(covtxt_of(m, m.twoway(j, 2)), 40), to_file);
    }
  }
  // 5. Three-way interactions.
  if (m.np(6) > m.np(5)) {
    heading(r, "3-way interactions:", 19, mode);
    for (int j = m.np(5) + 1; j <= m.np(6); ++j) {
      interaction(r, m, j, m.thrway(j, 1), se_beta(j), mode);
      r.line("with " + text(covtxt_of(m, m.thrway(j, 2)), 40), to_file);
      r.line("and " + text(covtxt_of(m, m.thrway(j, 3)), 40), to_file);
    }
  }

  // 6. Nonlinear parameters, under the covariate that holds them.
  bool distance_weights = false;
  if (m.np(7) != 0 && m.np(6) > 0) {
    r.line("", to_file);
    r.line("Parameters in non-linear transformations:", to_file);
    r.line(dashes(40), to_file);
    for (int j = 1; j <= m.np(4); ++j) {
      if (!isdef(m.theta(j, 1))) continue;
      const int w = m.wtschm(j);
      const bool holder = w >= 2 && w <= MAXWTS && m.pwtidx(w, 1) == j;
      if (j > m.np(3) && !holder) continue;
      if (j > m.np(3) && w >= 2) distance_weights = true;
      r.line(text(m.covtxt(j), 53) + ":", to_file);
      for (int k = 1; k <= MAXNLP; ++k) {
        if (!isdef(m.theta(j, k))) continue;
        const std::string lead = blanks(10) + text(m.partxt(j, k), 30);
        const std::string value = fmt_f(m.theta(j, k), 9, 4);
        if (m.nlstat(j, k) == 0) r.line(lead + ": " + value + " (prespecified)", to_file);
        else if (mode == 3) r.both(lead + ": " + value + " (Std Err: " + fmt_f(setheta(j, k), 9, 4) + ")");
        else r.line(lead + ": " + value + " ", mode == 1);
      }
    }
  }
  if (mode == 2) return;

  // 7. Global quantities.
  if (m.np(8) > 0) {
    r.both("");
    r.both("Global quantities:");
    r.both(dashes(18));
    for (int l = 1; l <= std::min(m.np(8), MAXGLB); ++l) {
      const int g = m.glbcod(l) / 1000;
      const std::string name = g >= 1 && g <= MAXGLB ? m.glbtxt(g) : pad({});
      const double v = g >= 1 && g <= MAXGLB ? m.glbval(g) : NOTDEF;
      r.both(blanks(10) + text(name, 30) + ": " + fmt_f(v, 9, 4));
    }
  }

  // 8. Dispersion.
  if (mode == 1) {
    r.both("");
    if (m.nu > 0.0) {
      r.both("Dispersion parameter: " + fmt_f(m.nu, 8, 4));
      r.both(dashes(30));
    } else {
      r.both("No dispersion parameters defined");
    }
  }

  // 9. Spatial dependence structure.
  const int spmod = m.spmod < 0 ? 0 : m.spmod;
  const std::string structure = sptitl(spmod, rsptyp);
  r.both("");
  r.both("Spatial dependence structure:");
  r.both(dashes(30));
  r.line("Structure used is " + fmt_a(structure, 50), false);
  r.file_only("Structure used is " + fmt_a(structure, 60));
  if (spmod != 0)
    for (int i = 1; i <= std::min(m.np(10), MAXRHO); ++i)
      r.both(blanks(10) + fmt_a(rhotxt(spmod, i), 30) + ": " + fmt_sig(m.rho(i), 9, 4));

  // 10. Notes and the continue question.
  if (mode != 1) return;
  if (distance_weights || (spmod >= 3 && spmod <= 19)) {
    r.both("");
    r.both("**** NOTE: distance-dependent weights (for averages of previous days'");
    r.both("values and / or correlations) will be based on distances calculated from");
    r.both("");
    r.both(blanks(4) + pad(entry(attnam, 1)));
    r.both("and  " + pad(entry(attnam, 2)));
    r.file_only("");
  }
  if (m.np(8) == 0) {
    r.both("");
    r.both("");
    r.both("**** NOTE: the following global quantities have not been defined:");
    r.both("");
    if (!isdef(m.glbval(1))) r.both(blanks(10) + text(m.glbtxt(1), 60));
    r.file_only("");
  }
  okcont();
}

void chkmdl(const Model& m, const Array1<std::string>& attnam, int mode, int rsptyp, int filech) {
  const Array1<double> sebeta(0, MAXPAR, 0.0);
  const Array2<double> setheta(1, MAXPAR, 1, MAXNLP, 0.0);
  chkmdl(m, sebeta, setheta, attnam, mode, rsptyp, filech);
}

}  // namespace rg
