#include "spatial.hpp"

#include <algorithm>
#include <cmath>
#include <unordered_map>

#include "channels.hpp"
#include "console.hpp"
#include "files.hpp"
#include "fixed_format.hpp"
#include "fixed_parse.hpp"
#include "model.hpp"
#include "run_exit.hpp"

namespace rg {

namespace {

constexpr double BOUND = 1.0e6;  // bounds of a parameter that a structure does not restrict

struct Structure {
  int spmod;
  std::string_view name;
  int nrho;                           // parameters required
  std::string_view par[MAXSPP];       // printed parameter names
  double lo[3], hi[3];                // bounds of parameters 1 to 3
};

constexpr Structure catalogue[] = {
    {0, "Independence", 0, {}, {-BOUND, -BOUND, -BOUND}, {BOUND, BOUND, BOUND}},
    {1, "Empirical correlations for", 0, {}, {-BOUND, -BOUND, -BOUND}, {BOUND, BOUND, BOUND}},
    {2, "Constant inter-site correlations for", 1, {"Inter-site correlation"},
     {-1.0, -BOUND, -BOUND}, {1.0, BOUND, BOUND}},
    {3, "Exponential correlation function: exp[-phi*d] for", 1, {"Correlation decay rate, phi"},
     {0.0, -BOUND, -BOUND}, {BOUND, BOUND, BOUND}},
    {4, "Thresholded exp. corr. fn: a + (1-a)exp[-phi*d] for", 2,
     {"Correlation decay rate, phi", "Limiting correlation at large distances, a"},
     {0.0, -1.0, -BOUND}, {BOUND, 1.0, BOUND}},
    {5, "Powered exp. corr. fn: exp[-phi*(d^k)] for", 2,
     {"Correlation decay rate, phi", "Power of distance, k"},
     {0.0, 0.0, -BOUND}, {BOUND, BOUND, BOUND}},
    {6, "Thresholded pow. exp. corr. fn: a + (1-a)exp[-phi*(d^k)] for", 3,
     {"Correlation decay rate, phi", "Power of distance, d", "Limiting correlation at large distances, a"},
     {0.0, 0.0, -1.0}, {BOUND, BOUND, 1.0}},
    {21, "Conditional independence given 'wet/dry' weather state", 1, {"Increase in logit on a 'wet' day"},
     {-BOUND, -BOUND, -BOUND}, {BOUND, BOUND, BOUND}},
    {22, "Beta-Binomial distribution for number of wet sites", 1,
     {"Shape parameter of Beta-Binomial distribution", "Emergency shrinkage parameter",
      "Print errors? (0=no, else yes)"},
     {-BOUND, -BOUND, -BOUND}, {BOUND, BOUND, BOUND}},
};

const Structure* find(int spmod) {
  for (const Structure& s : catalogue)
    if (s.spmod == spmod) return &s;
  return nullptr;
}

bool given(double value) { return value < RHOUND; }

// The four characters of a site code as the correlation files hold them.
std::string code4(std::string_view code) { return fmt_a(code, 4); }

void stop_lines(std::initializer_list<std::string> lines, bool blank_first) {
  Console& con = console();
  if (blank_first) con.blank();
  for (const std::string& l : lines) con.line(l);
  end_run(1);
}

// Reads the correlation file of structure 1 into cor (the caller has set the
// diagonal to 1 and every other element to the missing value).
void read_correlations(const std::string& file, int unit, Matrix& cor, int nsites, const SiteTable& sites) {
  // First site holding each code: the first pair in site order that matches a line
  // is made of the first sites with the line's two codes.
  std::unordered_map<std::string, int> first;
  for (int i = 1; i <= nsites; ++i) first.emplace(code4(sites.sitcod(i)), i);

  filchk(file, unit, STFLAG_INPUT);
  TextIn& in = channels().input(unit);
  in.next();  // heading
  while (auto line = in.next()) {
    const std::string c1 = code4(column_field(*line, 1, 4));
    const std::string c2 = code4(column_field(*line, 9, 4));
    if (c1 == c2) continue;  // the same site twice
    auto i1 = first.find(c1), i2 = first.find(c2);
    if (i1 == first.end() || i2 == first.end()) continue;  // a site not in this network
    const int p = std::min(i1->second, i2->second), q = std::max(i1->second, i2->second);
    // A pair of this network must carry a readable correlation; a blank or garbled
    // field would otherwise pass for a correlation of 0.
    const std::string_view field = column_field(*line, 17, 7);
    const auto value = parse_real(field, 4);
    if (!value || trim_right(field).empty()) {
      const long at = in.line_number();
      channels().close(unit);
      readerr(file, static_cast<int>(at), 2);
    }
    cor(p, q) = *value;
    cor(q, p) = *value;
  }
  channels().close(unit);

  for (int p = 1; p < nsites; ++p)
    for (int q = p + 1; q <= nsites; ++q)
      if (!(std::fabs(cor(p, q)) <= 1.0))
        stop_lines({"****ERROR**** I don't have a valid spatial correlation between sites",
                    code4(sites.sitcod(p)) + " and " + code4(sites.sitcod(q)) +
                        ". This is either because there is no entry in file " + fmt_a(file, 12),
                    "for this site pair, or because the correlation in the file exceeds 1 in",
                    "magnitude (which itself could be a missing value flag of -9.999).",
                    "     Please sort this out!"},
                   false);
}

}  // namespace

std::string_view spmtxt(int spmod) {
  const Structure* s = find(spmod);
  return s ? s->name : std::string_view{};
}

std::string_view rhotxt(int spmod, int k) {
  const Structure* s = find(spmod);
  if (!s || k < 1 || k > MAXSPP) return {};
  return s->par[k - 1];
}

std::string_view crvtxt(int rsptyp) {
  if (rsptyp == 1) return "latent Gaussian variables";
  if (rsptyp == 11) return "Anscombe residuals";
  return {};
}

std::string sptitl(int spmod, int rsptyp) {
  std::string text(spmtxt(spmod));
  if (spmod >= 1 && spmod <= 19) text.append(" ").append(crvtxt(rsptyp));
  if (text.size() > 70) text.resize(70);
  return text;
}

int rhonum(int spmod) {
  const Structure* s = find(spmod);
  return s ? s->nrho : -1;
}

void rhochk(const Array1<double>& rho, int spmod, const std::string& file, int capacity) {
  if (capacity < 3 || rho.lo() > 1 || rho.hi() < capacity) prgerr("RHOCHK", "glm_base", 1);
  const std::string name = fmt_a(file, 12);
  const Structure* s = find(spmod);
  if (!s)
    stop_lines({"****ERROR**** unknown spatial dependence structure requested", "in file " + name + "."}, true);

  // Slots 1 to nrho are required; the Beta-Binomial scheme also takes its
  // shrinkage step and message switch from slots 2 and 3 when they are given.
  const int last = spmod == 22 ? 3 : s->nrho;
  for (int k = 1; k <= capacity; ++k) {
    // A required value written as 1.0E8 or more reads as "not given": say so, rather
    // than blame the number of parameters.
    if (k <= s->nrho && !given(rho(k)) && rho(k) != NOTDEF)
      stop_lines({"****ERROR**** in file " + name + ", parameter " + std::to_string(k) +
                      " of the spatial dependence structure is " + value_text(rho(k)) + ",",
                  "out of range: a value of 1.0E8 or more means \"not defined\"."},
                 true);
    const bool ok = k <= s->nrho ? given(rho(k)) : (k <= last || !given(rho(k)));
    if (!ok)
      stop_lines({"****ERROR**** in file " + name + ", wrong number of parameters",
                  "supplied for spatial dependence structure."},
                 true);
  }
  // The Beta-Binomial shape must be positive: at 0 or below there is no distribution.
  const bool bad_shape = spmod == 22 && !(rho(1) > 0.0);
  for (int k = 1; k <= last; ++k) {
    if (!given(rho(k))) continue;
    if (rho(k) < s->lo[k - 1] || rho(k) > s->hi[k - 1] || (k == 1 && bad_shape))
      stop_lines({"****ERROR**** in file " + name + ", one or more of the spatial",
                  "dependence structure parameters is out of bounds."},
                 true);
  }
}

double bcalc(double p, double pbar, double psi) {
  if (psi == 1.0) return 1.0;
  const double c = (psi - 1.0) * pbar + 1.0 - p * (psi + 1.0);
  const double q = -0.5 * (c + std::copysign(std::sqrt(c * c - 4.0 * (p - 1.0) * psi * p), c));
  return c < 0.0 ? q / (psi * p) : (p - 1.0) / q;
}

int ncoord(const SiteTable& sites) { return std::clamp(sites.nattr, 0, 2); }

double sitdst(const SiteTable& sites, int i, int j) {
  const int nc = ncoord(sites);
  if (nc == 0) return 0.0;
  const double dx = sites.sitinf(i, 1, 1) - sites.sitinf(j, 1, 1);
  if (nc == 1) return std::fabs(dx);
  const double dy = sites.sitinf(i, 2, 1) - sites.sitinf(j, 2, 1);
  return std::sqrt(dx * dx + dy * dy);
}

void corset(const std::string& file, int unit, int spmod, const Array1<double>& rho, Matrix& cor,
            int nsites, const SiteTable& sites, int site_capacity) {
  if (site_capacity > MAXSIT || cor.rows() < site_capacity || cor.cols() < site_capacity || rho.lo() > 1 ||
      rho.hi() < 3)
    prgerr("CORSET", "glm_base", 1);
  if (nsites < 0 || nsites > site_capacity) prgerr("CORSET", "glm_base", 2);

  for (int p = 1; p <= nsites; ++p) cor(p, p) = 1.0;

  switch (spmod) {
    case 0:
      for (int p = 1; p < nsites; ++p)
        for (int q = p + 1; q <= nsites; ++q) cor(p, q) = cor(q, p) = 0.0;
      return;

    case 1:
      for (int p = 1; p < nsites; ++p)
        for (int q = p + 1; q <= nsites; ++q) cor(p, q) = cor(q, p) = CORMIS;
      read_correlations(file, unit, cor, nsites, sites);
      return;

    case 2:
      if (!(std::fabs(rho(1)) <= 1.0))
        stop_lines({"****ERROR**** In file " + fmt_a(file, 12) + ", you have asked for a constant spatial",
                    "correlation whose magnitude is greater than 1!"},
                   false);
      for (int p = 1; p < nsites; ++p)
        for (int q = p + 1; q <= nsites; ++q) cor(p, q) = cor(q, p) = rho(1);
      return;

    case 3:
    case 4:
    case 5:
    case 6: {
      const int nreq = rhonum(spmod);
      for (int k = 1; k <= nreq; ++k)
        if (!given(rho(k)))
          stop_lines({"****ERROR**** In file " + fmt_a(file, 12) + ", you haven't defined all the parameters",
                      "required for your chosen correlation structure"},
                     false);
      const bool powered = spmod >= 5;
      const double phi = rho(1);
      const double k = powered ? rho(2) : 1.0;
      const double a = spmod == 4 ? rho(2) : spmod == 6 ? rho(3) : 0.0;
      for (int p = 1; p < nsites; ++p) {
        for (int q = p + 1; q <= nsites; ++q) {
          const double d = sitdst(sites, p, q);
          // phi = 0 means no decay at all, even where d^k overflows.
          const double rate = phi == 0.0 ? 0.0 : phi * (powered ? std::pow(d, k) : d);
          cor(p, q) = cor(q, p) = a + (1.0 - a) * std::exp(-rate);
        }
      }
      return;
    }

    default:
      readerr(file, spmod, 46);
  }
}

}  // namespace rg
