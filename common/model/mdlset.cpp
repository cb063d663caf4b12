// Reader of the model definition files (logistic.def, gammamdl.def and the fitted
// copies written back by the fitting programs), and two small services on the model
// record: the threshold settings of the global quantities and the derivative of the
// linear predictor with respect to a main effect.
#include <algorithm>
#include <string>

#include "channels.hpp"
#include "console.hpp"
#include "files.hpp"
#include "fixed_format.hpp"
#include "fixed_parse.hpp"
#include "model.hpp"
#include "run_exit.hpp"

namespace rg {

namespace {

constexpr int HEADER_LINES = 46;  // free text; line 47 is unused, line 48 the title
constexpr int FIRST_COMPONENT_LINE = 49;

// Component types.
constexpr int T_CONST = 0, T_SITE = 1, T_YEAR = 2, T_MONTH = 3, T_DAY = 4, T_TWO = 5, T_THREE = 6,
              T_NONLIN = 7, T_GLOBAL = 8, T_DISP = 9, T_SPATIAL = 10;

// Effect codes above this select an external predictor (code - 50).
constexpr int EXTERNAL_BASE = 50;
// Effect codes share the covariate code with the packed offset or previous-day
// digits in units of 1000, so they must stay below it.
constexpr int EFFECT_LIMIT = 1000;

struct Component {
  int type = 0;
  double value = 0.0;
  int code[4] = {0, 0, 0, 0};  // codes 1 to 3
};

bool blank(char c) { return c == ' '; }

// One component line: type in columns 1-5, value in 6-15 (four implied decimals),
// codes in 16-20, 21-25, 26-30; the rest is comment. False for an unreadable field,
// or when a number runs over a field boundary (two fields written together without
// a separating blank), which would otherwise split into two wrong numbers.
bool read_component(const std::string& line, Component& c) {
  for (int edge : {15, 20, 25}) {
    if (line.size() > static_cast<std::size_t>(edge) && !blank(line[edge - 1]) && !blank(line[edge])) return false;
  }
  auto type = read_int(line, 1, 5);
  auto value = read_real(line, 6, 10, 4);
  if (!type || !value) return false;
  c.type = static_cast<int>(*type);
  c.value = *value;
  for (int k = 1; k <= 3; ++k) {
    auto code = read_int(line, 11 + 5 * k, 5);
    if (!code) return false;
    c.code[k] = static_cast<int>(*code);
  }
  return true;
}

// Covariate code of an external predictor: 1000 * offset + effect code carrying the
// sign of the offset.
int external_code(int effect, int offset) {
  if (offset == 0) return effect;
  return 1000 * offset + (offset < 0 ? -effect : effect);
}

class Reader {
 public:
  Reader(const std::string& file, int rsptyp, int dspreq, const SiteTable& sites, Model& m)
      : file_(file), rsptyp_(rsptyp), dspreq_(dspreq), sites_(sites), m_(m) {}

  void component(int j, int ln, const Component& c);
  void finish();

 private:
  [[noreturn]] void fail(int ln, int code) const { readerr(file_, ln, code); }
  void main_effect(int j, int ln, const Component& c);
  void nonlinear(int ln, const Component& c);
  void global(int ln, const Component& c);
  void dispersion(int ln, const Component& c);
  void spatial(int ln, const Component& c);
  void pwtdef(int ln, int c, int k, double value);
  void orset(int ln, int c, int k, double value, int code3, Array1<int>& index);

  const std::string& file_;
  int rsptyp_, dspreq_;
  const SiteTable& sites_;
  Model& m_;
  int last_type_ = -1;      // type of the last non-constant line (none yet)
  bool trace_ = false;      // a trace indicator still waits for its threshold
  bool spset_ = false;      // a spatial structure has been given
  int spcur_ = 0;           // ... and its number
};

void Reader::component(int j, int ln, const Component& c) {
  const int t = c.type;
  if (t <= T_THREE) m_.beta(j) = c.value;
  if (t == T_CONST) {
    // Only the first component line is the constant; a later type 0 is usually an
    // empty line at the end of the file.
    if (j != 0) fail(ln, 2);
    return;
  }
  if (t < 0 || t > T_SPATIAL) fail(ln, 20);
  if (t < last_type_) fail(ln, 3);
  last_type_ = t;

  // The code that identifies what the line is about.
  int ident = 1;
  switch (t) {
    case T_SITE: case T_YEAR: case T_MONTH: case T_DAY: case T_GLOBAL: ident = c.code[1]; break;
    case T_TWO: case T_NONLIN: ident = c.code[2]; break;
    case T_THREE: ident = c.code[3]; break;
    default: break;  // dispersion; spatial structure 0 is independence
  }
  if (ident == 0) fail(ln, 32);

  if (t <= T_THREE)
    for (int k = t; k <= 6; ++k) m_.np(k) += 1;

  switch (t) {
    case T_SITE: case T_YEAR: case T_MONTH: case T_DAY:
      main_effect(j, ln, c);
      break;
    case T_TWO:
      for (int k = 1; k <= 2; ++k)
        if (c.code[k] < 1 || c.code[k] > m_.np(4)) fail(ln, 21);
      for (int k = 1; k <= 2; ++k) m_.twoway(j, k) = c.code[k];
      break;
    case T_THREE:
      for (int k = 1; k <= 3; ++k)
        if (c.code[k] < 1 || c.code[k] > m_.np(4)) fail(ln, 21);
      for (int k = 1; k <= 3; ++k) m_.thrway(j, k) = c.code[k];
      break;
    case T_NONLIN: nonlinear(ln, c); break;
    case T_GLOBAL: global(ln, c); break;
    case T_DISP: dispersion(ln, c); break;
    case T_SPATIAL: spatial(ln, c); break;
    default: break;
  }
}

void Reader::main_effect(int j, int ln, const Component& c) {
  // A main effect where the constant should be: the header is not 46 lines long.
  if (j < 1) readerr(file_, HEADER_LINES, 4);
  const int t = c.type, c1 = c.code[1], c2 = c.code[2], c3 = c.code[3];
  m_.covcod(j) = c1;
  if (t == T_SITE) {
    if (c1 < 1 || c1 > sites_.nattr) fail(ln, 17);
    if (c2 > 0) {
      m_.sitxfm(j, 1) = c1;
      m_.sitxfm(j, 2) = c2;
      m_.nlstat(j, 1) = m_.nlstat(j, 2) = 0;
    }
    return;
  }
  // Effect codes outside 1..999 cannot be packed into the covariate code.
  if (c1 < 1 || c1 >= EFFECT_LIMIT) fail(ln, 34);
  if (t == T_YEAR) {
    m_.nlstat(j, 1) = m_.nlstat(j, 2) = 0;
    if (c1 > EXTERNAL_BASE) {
      m_.iexty = 1;
      m_.covcod(j) = external_code(c1, c2);
    }
  } else if (t == T_MONTH) {
    if (c1 > EXTERNAL_BASE) {
      m_.iextm = 1;
      m_.covcod(j) = external_code(c1, c2);
    }
  } else if (c1 > MAXLAG) {
    if (c2 > 0) fail(ln, 31);
    if (c1 > EXTERNAL_BASE) {
      m_.iextd = 1;
      m_.covcod(j) = external_code(c1, c2);
    }
  } else {
    // Value of the c1-th previous day; code 2 packs order, averaging, transformation.
    if (c3 > MAXLAG) fail(ln, 22);
    m_.mxlag = std::max({m_.mxlag, c1, c3});
    if (c2 > 0) m_.covcod(j) += 1000 * c2;
    if (c2 % 10 == 4) trace_ = true;
    const int w = (c2 / 10) % 10;
    if (w >= 2) {
      if (sites_.nattr < 2) fail(ln, 18);
      m_.wtschm(j) = w;
      for (int k = 1; k <= MAXNLP; ++k) m_.nlstat(j, k) = 0;
    }
  }
}

void Reader::nonlinear(int ln, const Component& c) {
  const int cv = c.code[1], k = c.code[2], c3 = c.code[3];
  if (cv < 1 || cv > m_.np(4) || k < 1 || k > MAXNLP) fail(ln, 33);
  if (isdef(m_.theta(cv, k))) fail(ln, 30);
  if (m_.nlstat(cv, k) != 0) fail(ln, 31);
  if (m_.np(7) == 0) m_.np(7) = m_.np(6);

  const int xfm = m_.sitxfm(cv, 2);
  if (xfm >= 11 && xfm <= 30) orset(ln, cv, k, c.value, c3, m_.fouidx);
  else if (xfm >= 31 && xfm <= 40) orset(ln, cv, k, c.value, c3, m_.legidx);
  else if (m_.wtschm(cv) >= 2) pwtdef(ln, cv, k, c.value);
  else m_.theta(cv, k) = c.value;

  if (c3 != 0 && dspreq_ != 1) {
    m_.nlstat(cv, k) = c3;
    if (m_.beta(cv) == 0.0) fail(ln, 35);
    // Each estimated parameter also used a component line, so np(7) cannot pass
    // the line capacity already checked; kept as a guard of the record's bounds.
    if (m_.np(7) + 1 > MAXPAR) readerr(file_, MAXPAR, 40);
    m_.np(7) += 1;
    m_.covcod(m_.np(7)) = 1000 * cv + k;
    m_.beta(m_.np(7)) = c.value;
    if (m_.wtschm(cv) >= 2) m_.pwtidx(m_.wtschm(cv), 1 + k) = m_.np(7);
  }
}

// Weighting-scheme parameters are shared by every covariate of the scheme and held
// under the first covariate that receives one.
void Reader::pwtdef(int ln, int c, int k, double value) {
  const int w = m_.wtschm(c);
  if (m_.pwtidx(w, 1) == 0) {
    m_.pwtidx(w, 1) = c;
    m_.theta(c, k) = value;
    return;
  }
  const int h = m_.pwtidx(w, 1);
  if (isdef(m_.theta(h, k))) fail(ln, 30);
  m_.theta(h, k) = value;
}

// Interval limits of an orthogonal series, shared by all covariates expanding the
// same attribute in the same kind of series and held under the first of them.
void Reader::orset(int ln, int c, int k, double value, int code3, Array1<int>& index) {
  if (code3 != 0) fail(ln, 36);
  const int a = m_.sitxfm(c, 1);
  if (index(a) == 0) {
    index(a) = c;
    m_.theta(c, k) = value;
    return;
  }
  const int h = index(a);
  // A limit the holder already has is not replaced, whether or not the other one
  // is known yet.
  if (isdef(m_.theta(h, k))) fail(ln, 30);
  m_.theta(h, k) = value;
  const double lo = m_.theta(h, 1), hi = m_.theta(h, 2);
  if (!(lo < hi)) fail(ln, 38);
  for (int i = 1; i <= sites_.nsites; ++i) {
    const double v = sites_.sitinf(i, a, 1);
    if (!(v > lo && v < hi)) readerr(file_, i, 39);
  }
}

void Reader::global(int ln, const Component& c) {
  m_.np(8) += 1;
  m_.glbcod(m_.np(8)) = 1000 * c.code[1] + c.code[2];
  if (c.code[1] != 1) fail(ln, 34);
  if (glbdef(m_.glbval(1))) fail(ln, 30);
  if (c.code[2] == 0) fail(ln, 32);
  if (c.code[2] < 0 || c.code[2] > 3) fail(ln, 34);
  if (c.code[2] == 1) trace_ = false;
  m_.glbval(1) = c.value;
}

void Reader::dispersion(int ln, const Component& c) {
  if (m_.np(9) >= 1) fail(ln, 50);
  if (rsptyp_ == RSP_OCCURRENCE) fail(ln, 52);
  m_.nu = c.value;
  m_.np(9) += 1;
}

void Reader::spatial(int ln, const Component& c) {
  const int s = c.code[1], k = c.code[2];
  if (spset_) {
    const bool same = s == spcur_ || (spcur_ <= 0 && s <= 0);
    if (!same) fail(ln, 45);
    if (k == 0 && spcur_ > 1) fail(ln, 32);
  }
  if (k != 0) {
    // A parameter number outside the parameter vector names nothing.
    if (k < 1 || k > MAXRHO) fail(ln, 34);
    if (isdef(m_.rho(k))) fail(ln, 30);
  }
  if (rsptyp_ == RSP_AMOUNT && (s < -18 || s > 20)) fail(ln, 47);
  spset_ = true;
  spcur_ = s;
  if (s <= 0) return;  // independence: spmod stays 0
  if (s == 1) {
    m_.spmod = 1;
    return;
  }
  if (k == 0) fail(ln, 32);
  m_.rho(k) = c.value;
  m_.np(10) += 1;
  m_.spmod = s;
}

void Reader::finish() {
  if (m_.np(9) == 0 && dspreq_ == 1) readerr(file_, 0, 51);
  if (trace_) readerr(file_, 0, 25);
  if (spcur_ <= 0) m_.spmod = 0;
}

}  // namespace

void mdlset(int channel, const std::string& file, int rsptyp, int dspreq, const SiteTable& sites, Model& m) {
  if ((rsptyp != RSP_OCCURRENCE && rsptyp != RSP_AMOUNT) || (dspreq != 0 && dspreq != 1) ||
      sites.nattr > MAXATT || sites.nsites > MAXSIT)
    prgerr(" MDLSET", "glm_base", 1);
  TextIn& in = channels().input(channel);
  for (int k = 1; k <= NPCNT; ++k) m.np(k) = 0;

  // A file that ends inside the header is reported at the first missing line.
  for (int l = 1; l <= HEADER_LINES + 1; ++l)
    if (!in.next()) readerr(file, l, 2);
  auto title = in.next();
  if (!title) readerr(file, HEADER_LINES + 2, 2);
  m.mdltit = fmt_a(*title, TXTLEN);

  Reader reader(file, rsptyp, dspreq, sites, m);
  for (int j = 0;; ++j) {
    auto line = in.next();
    if (!line) break;
    const int ln = FIRST_COMPONENT_LINE + j;
    Component c;
    if (!read_component(*line, c)) readerr(file, ln, 2);
    if (j > MAXPAR) readerr(file, MAXPAR, 40);
    reader.component(j, ln, c);
  }
  reader.finish();
}

void taudef(const Model& m, double& postiv, double& trace, int& kind) {
  postiv = 0.0;
  trace = 0.0;
  kind = 0;
  for (int l = 1; l <= std::min(m.np(8), MAXGLB); ++l) {
    const int code = m.glbcod(l);
    if (code < 1000 || code > 1999) continue;
    kind = code - 1000 - 1;
    if (kind == 0) trace = m.glbval(1);
    else postiv = m.glbval(1);
    return;
  }
}

double nlcntr(int mno, const Model& m, const Matrix& covs, int row) {
  if (mno < 1 || mno > m.np(4)) {
    console().line("/****ERROR**** in routine NLCNTR, PREDNO is not a main effect.");
    console().line("This is a programming error - contact DEV.");
    end_run(1);
  }
  double d = m.beta(mno);
  for (int j = m.np(4) + 1; j <= m.np(5); ++j) {
    if (m.twoway(j, 1) == mno) d += m.beta(j) * covs(row, m.twoway(j, 2));
    else if (m.twoway(j, 2) == mno) d += m.beta(j) * covs(row, m.twoway(j, 1));
  }
  for (int j = m.np(5) + 1; j <= m.np(6); ++j) {
    for (int p = 1; p <= 3; ++p) {
      if (m.thrway(j, p) != mno) continue;
      double prod = m.beta(j);
      for (int q = 1; q <= 3; ++q)
        if (q != p) prod *= covs(row, m.thrway(j, q));
      d += prod;
      break;  // only the first listed position counts as the main effect
    }
  }
  return d;
}

}  // namespace rg
