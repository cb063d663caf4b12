#include "datafile.hpp"

#include <cmath>

#include "channels.hpp"
#include "console.hpp"
#include "files.hpp"
#include "fixed_format.hpp"
#include "fixed_parse.hpp"
#include "run_exit.hpp"

namespace rg {

namespace {

std::string date_text(int dd, int mm, int yy) {
  return Fields().i(dd, 2).t("/").i(mm, 2).t("/").i(yy, 4).str();
}

[[noreturn]] void read_failure(int dd, int mm, int yy) {
  Console& con = console();
  con.blank();
  con.blank();
  con.line("****ERROR**** while reading input file. The last successful access");
  con.line("was for data on " + date_text(dd, mm, yy) + ".");
  end_run(1);
}

[[noreturn]] void date_failure(std::string_view what, int dd, int mm, int yy, std::string_view code) {
  Console& con = console();
  con.blank();
  con.blank();
  con.line(std::string("****ERROR**** ") + std::string(what) + " Offending date is");
  con.line(date_text(dd, mm, yy) + ", at site " + fmt_a(code, 4) + ".");
  end_run(1);
}

}  // namespace

Thresholds thresholds_of(const Model& m) {
  Thresholds t;
  taudef(m, t.postiv, t.trace, t.kind);
  return t;
}

std::uint32_t SiteIndex::pack(std::string_view code) {
  std::uint32_t key = 0;
  for (std::size_t k = 0; k < 4; ++k)
    key = key << 8 | static_cast<unsigned char>(k < code.size() ? code[k] : ' ');
  return key;
}

void SiteIndex::refresh(const Array1<std::string>& sitcod, int nsites) {
  bool same = static_cast<int>(codes_.size()) == nsites;
  for (int i = 1; same && i <= nsites; ++i) same = codes_[static_cast<std::size_t>(i - 1)] == sitcod(i);
  if (same) return;
  codes_.clear();
  sorted_.clear();
  for (int i = 1; i <= nsites; ++i) {
    codes_.push_back(sitcod(i));
    sorted_.emplace_back(pack(sitcod(i)), i);
  }
  std::sort(sorted_.begin(), sorted_.end());
}

void DayState::reset() {
  rain.fill(-1.0);
  previous.fill(-1.0);
  yy = mm = dd = 0;
  more = 1;
  serial = 0;
  seen.fill(-1);
  date_known = false;
  date_year = date_month = date_day = 0;
}

void datrd(int channel, DayState& day, const Array1<std::string>& sitcod, int nsites, int site_capacity) {
  if (nsites > site_capacity || site_capacity > MAXSIT) prgerr("DATRD", "fit_both", 1);
  TextIn& in = channels().input(channel);
  day.sites.refresh(sitcod, nsites);
  // The date fields of the records read in this call. A failed read shows them as
  // it left them: the last good record's date, with the fields of the failing
  // record that were read before the fault (all 0 when the call read nothing).
  int year = 0, month = 0, dayno = 0;
  for (;;) {
    auto line = in.next_view();
    if (!line) {
      channels().close(channel);
      day.more = 0;
      return;
    }
    std::string_view text = *line;
    // A blank line carries no record (typically one left at the end of the file).
    if (trim_right(text).empty()) continue;

    const bool same_date =
        day.date_known && text.size() >= 8 && std::equal(text.begin(), text.begin() + 8, day.date_columns.begin());
    if (same_date) {
      year = day.date_year;
      month = day.date_month;
      dayno = day.date_day;
    } else {
      auto y = read_int(text, 1, 4);
      if (!y || *y < -9999 || *y > 9999) read_failure(dayno, month, year);
      year = static_cast<int>(*y);
      auto mo = read_int(text, 5, 2);
      if (!mo) read_failure(dayno, month, year);
      month = static_cast<int>(*mo);
      auto d = read_int(text, 7, 2);
      if (!d) read_failure(dayno, month, year);
      dayno = static_cast<int>(*d);
    }
    const std::string_view code = column_field(text, 9, 4);
    // A line that ends before the value field holds no value at all; a value field
    // that is present but blank reads as 0, like every numeric field.
    if (text.size() < 13) read_failure(dayno, month, year);
    auto value = read_real(text, 13, 6, 2);
    if (!value) read_failure(dayno, month, year);

    // Year 0 would read as "no date yet"; years before the calendar's start are not
    // dates at all.
    if (!same_date) {
      if (!is_calendar_date(year, month, dayno))
        date_failure("impossible date in input file.", dayno, month, year, code);
      day.date_known = true;  // the line holds at least 13 columns here
      std::copy(text.begin(), text.begin() + 8, day.date_columns.begin());
      day.date_year = year;
      day.date_month = month;
      day.date_day = dayno;
    }
    if (*value > MAXVALUE) date_failure("input file has a value above 99999 mm.", dayno, month, year, code);

    if (day.yy != 0) {
      long delta = (static_cast<long>(year) - day.yy) * 10000 + (month - day.mm) * 100 + (dayno - day.dd);
      if (delta > 0) {
        in.backspace();  // belongs to a later day: read again on a later call
        return;
      }
      if (delta < 0) date_failure("input file out of order.", dayno, month, year, code);
    }
    day.sites.each(code, [&](int i) {
      if (day.seen(i) == day.serial) date_failure("input file has two records for one site and day.", dayno, month, year, code);
      day.seen(i) = day.serial;
      day.rain(i) = *value;
    });
    if (day.yy == 0) {
      day.yy = year;
      day.mm = month;
      day.dd = dayno;
    }
  }
}

void update(int channel, DayState& day, const Thresholds& thr, int nsites, int mxlag, int site_capacity,
            const Array1<std::string>& sitcod) {
  if (nsites > site_capacity || site_capacity > MAXSIT || mxlag > MAXLAG) prgerr("UPDATE", "fit_both", 1);
  for (int i = 1; i <= nsites; ++i) {
    for (int k = mxlag; k >= 2; --k) day.previous(i, k) = day.previous(i, k - 1);
    day.previous(i, 1) = day.rain(i);
    day.rain(i) = -1.0;
  }
  ++day.serial;
  if (day.yy != 0) {
    ++day.dd;
    if (day.dd > days_in_month(day.mm, day.yy)) {
      day.dd = 1;
      if (++day.mm > 12) {
        day.mm = 1;
        ++day.yy;
      }
    }
  }
  datrd(channel, day, sitcod, nsites, site_capacity);
  if (thr.kind > 0) {
    for (int i = 1; i <= nsites; ++i) {
      double& v = day.rain(i);
      if (v < 0.0) continue;
      if (v < thr.postiv) v = 0.0;
      else if (thr.kind == 1) v -= thr.postiv;
    }
  }
}

}  // namespace rg
