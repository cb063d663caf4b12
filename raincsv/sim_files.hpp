#pragma once
// Readers of the simulation's output files daily.dat and monthly.dat, record by
// record, with a clear error for anything that is not a record of the layout.
#include <array>
#include <string>
#include <vector>

#include <memory>

#include "sites.hpp"
#include "text_files.hpp"

namespace rg {

// The site file, read by the suite's own reader (its errors end the run).
std::unique_ptr<SiteTable> read_sites(const std::string& path);
// The site codes in file order, without trailing blanks.
std::vector<std::string> site_codes(const SiteTable& sites);

struct DailyDatRecord {
  int realisation = 0, year = 0, month = 0, day = 0;
  std::vector<double> value;  // per site, mm
  std::vector<int> flag;      // per site: 0 observed, 1 simulated
};

class DailyDatReader {
 public:
  // codes: the site codes of siteinfo.def, in file order (used in messages and to
  // know how many sites each record holds).
  DailyDatReader(const std::string& path, std::vector<std::string> codes);
  // The next record; false at the end of the file.
  bool next(DailyDatRecord& r);
  long line() const { return in_.line_number(); }

 private:
  [[noreturn]] void fail(const std::string& what) const;
  std::string path_;
  std::vector<std::string> codes_;
  TextIn in_;
};

struct MonthlyDatRecord {
  int realisation = 0, year = 0, region = 0;
  std::array<double, 13> total{};  // months 1 to 12, then the annual value
};

class MonthlyDatReader {
 public:
  explicit MonthlyDatReader(const std::string& path);
  bool next(MonthlyDatRecord& r);
  long line() const { return in_.line_number(); }

 private:
  [[noreturn]] void fail(const std::string& what) const;
  std::string path_;
  TextIn in_;
};

}  // namespace rg
