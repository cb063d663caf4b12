#pragma once
// The two output files of a simulation: the daily values of every site (daily.dat)
// and the regional monthly and annual means (monthly.dat).
#include <string>

#include "arrays.hpp"
#include "text_files.hpp"

namespace rg {

// Largest number of sites a daily record can carry (the count has 5 digits).
constexpr int DLYFMT = 99999;

// Writes the year's summary lines of realisation nreal: per selected region 0..nreg
// with sites, the mean over its sites of the monthly totals monthly(site, month) and
// of the annual totals annual(site). Sites outside the subareas count for region 0
// only.
void outsum(TextOut& out, int real, int year, const Array1<double>& annual, const Matrix& monthly, int nsites,
            const Array1<int>& region, const Array1<int>& whichregs, int nreg, int site_capacity);

// One line of daily.dat: realisation, date, then value and source flag per site.
class DailyRecord {
 public:
  explicit DailyRecord(int nsites);
  // The record of one day; rain(1..nsites) >= 0, flags 0 observed, 1 simulated.
  const std::string& format(int real, int year, int month, int day, const Array1<double>& rain,
                            const Array1<int>& flags);

 private:
  int nsites_;
  std::string line_;
};

}  // namespace rg
