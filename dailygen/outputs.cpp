#include "outputs.hpp"

#include "files.hpp"
#include "fixed_format.hpp"
#include "sites.hpp"

namespace rg {

void outsum(TextOut& out, int real, int year, const Array1<double>& annual, const Matrix& monthly, int nsites,
            const Array1<int>& region, const Array1<int>& whichregs, int nreg, int site_capacity) {
  if (site_capacity != MAXSIT || nsites > site_capacity || nreg < 0 || nreg > whichregs.hi())
    prgerr("OUTSUM", "dailygen", 1);
  // Regions 0..nreg: twelve monthly sums, the annual sum and the weight.
  Matrix sums(0, nreg, 0, 13, 0.0);
  for (int j = 1; j <= nsites; ++j) {
    const int r = region(j);
    auto add = [&](int reg) {
      sums(reg, 0) += annual(j);
      sums(reg, 13) += whichregs(reg);
      for (int mon = 1; mon <= 12; ++mon) sums(reg, mon) += monthly(j, mon);
    };
    if (r >= 1 && r <= nreg) add(r);
    add(0);
  }
  for (int i = 0; i <= nreg; ++i) {
    const double w = sums(i, 13);
    if (w <= 0.0) continue;
    Fields f;
    f.i(real, 3).x(1).i(year, 4).x(1).i(i, 3).x(1);
    for (int mon = 1; mon <= 12; ++mon) f.f(sums(i, mon) / w, 6, 1).x(1);
    out.line(f.f(sums(i, 0) / w, 6, 1).str());
  }
}

DailyRecord::DailyRecord(int nsites) : nsites_(nsites) {
  line_.reserve(static_cast<std::size_t>(14 + 10 * (nsites > 0 ? nsites : 0)));
}

const std::string& DailyRecord::format(int real, int year, int month, int day, const Array1<double>& rain,
                                       const Array1<int>& flags) {
  line_.clear();
  append_i(line_, real, 3);
  line_ += ' ';
  append_i(line_, year, 4);
  line_ += ' ';
  append_i(line_, month, 2);
  line_ += ' ';
  append_i(line_, day, 2);
  line_ += ' ';
  for (int i = 1; i <= nsites_; ++i) {
    append_f(line_, rain(i), 6, 2);
    line_ += ' ';
    line_ += flags(i) == 0 ? '0' : '1';
    line_ += ' ';
  }
  return line_;
}

}  // namespace rg
