#include "simsetup.hpp"

#include <cmath>

#include "anscombe.hpp"
#include "channels.hpp"
#include "console.hpp"
#include "files.hpp"
#include "fixed_format.hpp"
#include "fixed_parse.hpp"
#include "run_exit.hpp"

namespace rg {

namespace {

constexpr int REGION_HEADER = regionfile::HEADER_LINES;

// Writes a line to the console and to the set-up record.
void both(TextOut& out, std::string_view text) {
  console().line(text);
  out.line(text);
}

}  // namespace

void regdef(const std::string& file, int channel, RegionNames& names, int& nreg) {
  TextIn& in = channels().input(channel);
  nreg = -1;
  for (int i = 0; i < REGION_HEADER; ++i)
    if (!in.next()) break;
  while (auto line = in.next()) {
    const int ln = REGION_HEADER + 2 + nreg;
    // A line without a region number (an empty line at the end, say) cannot be read.
    auto number = trim_right(column_field(*line, 1, regionfile::CODE_WIDTH)).empty() ? std::nullopt : read_int(*line, 1, regionfile::CODE_WIDTH);
    if (!number) readerr(file, ln, 2);
    if (*number != nreg + 1) readerr(file, ln, 11);
    if (nreg + 1 > MAXREG) {
      console().blank();
      console().line("****ERROR**** File " + fmt_a(file, 12) + " defines more than " + std::to_string(MAXREG) +
                     " subareas (line " + std::to_string(ln) + ").");
      console().line("I can only deal with " + std::to_string(MAXREG) + ".");
      end_run(1);
    }
    ++nreg;
    names(nreg) = fmt_a(column_field(*line, regionfile::CODE_WIDTH + 1, REGNAM_LEN), REGNAM_LEN);
  }
  channels().close(channel);
  if (nreg < 0) readerr(file, 0, 10);
}

void chkreg(const RegionNames& names, int nreg, int channel) {
  TextOut& out = channels().output(channel);
  both(out, "");
  both(out, "SUBAREA DEFINITIONS");
  both(out, std::string(19, '='));
  both(out, "");
  both(out, "REGION: " + fmt_a(names(0), REGNAM_LEN));
  both(out, "");
  if (nreg == 0) both(out, "No subareas defined.");
  for (int i = 1; i <= nreg; ++i) both(out, Fields().t("Subarea ").i(i, 2).t(": ").a(names(i), REGNAM_LEN).str());
  okcont();
}

void chksit(const SiteTable& sites, int nreg, int channel) {
  TextOut& out = channels().output(channel);
  both(out, "");
  both(out, "SITE DEFINITIONS");
  both(out, std::string(16, '='));
  both(out, "");
  both(out, "Site  Site  Region  Site");
  both(out, " no.  code   code   name");
  both(out, "----  ----  ------  ----");
  both(out, "");
  bool outside = false;
  for (int i = 1; i <= sites.nsites; ++i) {
    Fields f;
    f.i(i, 4).x(2).a(sites.sitcod(i), 4).x(2);
    // A site in no subarea keeps its name in the name column.
    if (sites.region(i) == 0) f.x(8);
    else f.i(sites.region(i), 6).x(2);
    both(out, f.a(sites.sitnam(i), 50).str());
    outside = outside || sites.region(i) < 0 || sites.region(i) > nreg;
  }
  if (outside) {
    // Such sites cannot be summarised by subarea; they still count for the entire area.
    Console& con = console();
    con.blank();
    con.line("****WARNING**** Some sites have a region number that is not a subarea of");
    con.line("file regions.def. They are included only in the summaries for the entire area.");
  }
  okcont();
}

void glbchk(const Model& occ, const Model& amt, const std::string& occfile, const std::string& amtfile) {
  bool same = occ.np(8) == amt.np(8);
  for (int k = 1; same && k <= std::min(occ.np(8), MAXGLB); ++k) {
    const int code = occ.glbcod(k);
    same = code == amt.glbcod(k);
    const int g = code / 1000;
    if (same && g >= 1 && g <= MAXGLB) same = std::fabs(occ.glbval(g) - amt.glbval(g)) < 1.0e-6;
  }
  if (same) return;
  Console& con = console();
  con.blank();
  con.blank();
  con.line(blanks(10) + "****ERROR**** Files " + fmt_a(occfile, 12) + " and " + fmt_a(amtfile, 12) + " contain");
  con.line(blanks(10) + "different definitions of `global' quantities.");
  end_run(1);
}

void nuchk(double nu, const std::string& amtfile) {
  // A coefficient of variation of amounts from 1000 down to 1/1000; the moments are
  // solved to full accuracy well beyond both ends.
  constexpr double NU_MIN = 1.0e-6, NU_MAX = 1.0e6;
  if (nu >= NU_MIN && nu <= NU_MAX) return;
  Console& con = console();
  con.blank();
  con.line("****ERROR**** The dispersion parameter in file " + fmt_a(amtfile, 12) + " is " + value_text(nu) + ",");
  con.line("out of range: the simulation needs a gamma shape from 1E-06 to 1E+06.");
  end_run(1);
}

void anset(Array1<double>& m, Matrix& cormat2, double nu, int nsites, int site_capacity) {
  if (site_capacity != MAXSIT || nsites > site_capacity || cormat2.rows() < nsites) prgerr("ANSET", "dailygen", 1);
  double m0 = 0.0, v = 0.0;
  ansprm(nu, m0, v);
  for (int i = 1; i <= nsites; ++i) {
    m(i) = m0;
    cormat2(i, i) = v;
    for (int j = i + 1; j <= nsites; ++j) {
      cormat2(i, j) *= v;
      cormat2(j, i) = cormat2(i, j);
    }
  }
}

}  // namespace rg
