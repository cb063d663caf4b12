#include "sim_files.hpp"

#include "csv_table.hpp"
#include "files.hpp"
#include "fixed_parse.hpp"

namespace rg {

namespace {

// Columns of a daily.dat record: realisation 1-3, year 5-8, month 10-11, day 13-14,
// then per site a 6-column value, a blank, the flag and a blank.
constexpr int DAILY_HEAD = 15;
constexpr int SITE_WIDTH = 9;
// Columns of a monthly.dat record: realisation 1-3, year 5-8, region 10-12, then
// thirteen 6-column values each followed by a blank.
constexpr int MONTHLY_FIRST = 14;
constexpr int MONTHLY_STEP = 7;
constexpr int MONTHLY_LENGTH = MONTHLY_FIRST + 13 * MONTHLY_STEP - 2;

}  // namespace

std::unique_ptr<SiteTable> read_sites(const std::string& path) {
  constexpr int SITE_CHANNEL = 10;
  auto table = std::make_unique<SiteTable>();
  filchk(path, SITE_CHANNEL, STFLAG_INPUT);
  sitedef(SITE_CHANNEL, path, *table);
  return table;
}

std::vector<std::string> site_codes(const SiteTable& sites) {
  std::vector<std::string> codes;
  for (int s = 1; s <= sites.nsites; ++s) codes.emplace_back(trim_right(sites.sitcod(s)));
  return codes;
}

DailyDatReader::DailyDatReader(const std::string& path, std::vector<std::string> codes)
    : path_(path), codes_(std::move(codes)) {
  open_input(in_, path);
}

void DailyDatReader::fail(const std::string& what) const {
  csv_fail(path_ + ", line " + std::to_string(in_.line_number()) + ": " + what);
}

bool DailyDatReader::next(DailyDatRecord& r) {
  auto l = in_.next();
  if (!l) return false;
  const std::string_view line = trim_right(*l);
  const int n = static_cast<int>(codes_.size());
  const long len = static_cast<long>(line.size());
  if (len != DAILY_HEAD - 1 + SITE_WIDTH * n) {
    long extra = len - (DAILY_HEAD - 1);
    if (extra > 0 && extra % SITE_WIDTH == 0)
      fail("the record holds " + std::to_string(extra / SITE_WIDTH) + " sites, but siteinfo.def defines " +
           std::to_string(n) + ".");
    fail("not a daily.dat record of " + std::to_string(n) + " sites (" + std::to_string(len) + " columns, expected " +
         std::to_string(DAILY_HEAD - 1 + SITE_WIDTH * n) + ").");
  }
  auto real = read_int(line, 1, 3), year = read_int(line, 5, 4), month = read_int(line, 10, 2),
       day = read_int(line, 13, 2);
  if (!real || !year || !month || !day || *real < 0) fail("unreadable realisation number or date.");
  r.realisation = static_cast<int>(*real);
  r.year = static_cast<int>(*year);
  r.month = static_cast<int>(*month);
  r.day = static_cast<int>(*day);
  if (!is_calendar_date(r.year, r.month, r.day)) fail("there is no such date.");
  r.value.resize(static_cast<std::size_t>(n));
  r.flag.resize(static_cast<std::size_t>(n));
  for (int s = 0; s < n; ++s) {
    const int col = DAILY_HEAD + 1 + SITE_WIDTH * s;
    auto v = read_real(line, col, 6);
    auto f = read_int(line, col + 7, 1);
    if (!v || *v < 0) fail("the value of site " + codes_[s] + " is not a rainfall amount.");
    if (!f || (*f != 0 && *f != 1)) fail("the flag of site " + codes_[s] + " is neither 0 nor 1.");
    r.value[s] = *v;
    r.flag[s] = static_cast<int>(*f);
  }
  return true;
}

MonthlyDatReader::MonthlyDatReader(const std::string& path) : path_(path) { open_input(in_, path); }

void MonthlyDatReader::fail(const std::string& what) const {
  csv_fail(path_ + ", line " + std::to_string(in_.line_number()) + ": " + what);
}

bool MonthlyDatReader::next(MonthlyDatRecord& r) {
  auto l = in_.next();
  if (!l) return false;
  const std::string_view line = trim_right(*l);
  if (line.size() != MONTHLY_LENGTH)
    fail("not a monthly.dat record (" + std::to_string(line.size()) + " columns, expected " +
         std::to_string(MONTHLY_LENGTH) + "; a daily.dat file needs --sites).");
  auto real = read_int(line, 1, 3), year = read_int(line, 5, 4), region = read_int(line, 10, 3);
  if (!real || !year || !region) fail("unreadable realisation, year or region number.");
  r.realisation = static_cast<int>(*real);
  r.year = static_cast<int>(*year);
  r.region = static_cast<int>(*region);
  for (int k = 0; k < 13; ++k) {
    auto v = read_real(line, MONTHLY_FIRST + MONTHLY_STEP * k, 6);
    if (!v) fail(k < 12 ? "unreadable total of month " + std::to_string(k + 1) + "." : "unreadable annual total.");
    r.total[k] = *v;
  }
  return true;
}

}  // namespace rg
