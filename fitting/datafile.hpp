#pragma once
// The daily gauge data file gaugvals.dat, walked through one calendar day at a time.
// Each line: year (columns 1-4), month (5-6), day (7-8), site code (9-12) and the
// value (13-18, two implied decimals; negative = missing). Records are in
// non-decreasing date order; days without records are days with every site missing.
#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "arrays.hpp"
#include "model.hpp"
#include "sites.hpp"

namespace rg {

// Largest value the 6-column field can hold without an exponent; a larger amount is
// a fault of the file, not rain.
constexpr double MAXVALUE = 99999.0;

// Small-value settings from the model's global quantities (taudef): values below
// the positive-value threshold postiv become 0 when kind is 1 (soft: larger values
// are reduced by it) or 2 (hard); trace is the trace threshold (kind 0).
struct Thresholds {
  double postiv = 0.0;
  double trace = 0.0;
  int kind = 0;
};
Thresholds thresholds_of(const Model& m);

// Sites by their 4-character code, for matching data records: a code may belong to
// several sites, and all of them take the record's value.
class SiteIndex {
 public:
  // Rebuilds the index when the table differs from the one it was built from.
  void refresh(const Array1<std::string>& sitcod, int nsites);
  // Calls f(site) for every site whose code is the given 4 characters.
  template <class F>
  void each(std::string_view code, F f) const {
    const std::uint32_t key = pack(code);
    auto it = std::lower_bound(sorted_.begin(), sorted_.end(), std::pair<std::uint32_t, int>(key, 0));
    for (; it != sorted_.end() && it->first == key; ++it) f(it->second);
  }

 private:
  static std::uint32_t pack(std::string_view code);
  std::vector<std::string> codes_;                   // the table the index was built from
  std::vector<std::pair<std::uint32_t, int>> sorted_;  // (packed code, site) in code order
};

// The day being read and the history of earlier days.
struct DayState {
  Array1<double> rain{1, MAXSIT, -1.0};                  // today's value per site, -1 missing
  Array2<double> previous{1, MAXSIT, 1, MAXLAG, -1.0};   // previous(i, k): k days ago
  int yy = 0, mm = 0, dd = 0;                            // current date; yy = 0 before the first record
  int more = 1;                                          // 1 while the file has records left
  SiteIndex sites;                                       // site lookup by code for the records
  // Days read so far, and per site the day of its last record, so that a second
  // record of one site on one day is caught.
  long serial = 0;
  Array1<long> seen{1, MAXSIT, -1};
  // Date columns of the last record whose date was read and found a calendar date,
  // and that date: the records of one day repeat them, and need not be read again.
  bool date_known = false;
  std::array<char, 8> date_columns{};
  int date_year = 0, date_month = 0, date_day = 0;

  // Back to the state before the first day (all missing, no date, data left).
  void reset();
};

// Ends the current day, advances the calendar by one day and reads the new day's
// records from the file on the channel, then applies the small-value thresholds.
void update(int channel, DayState& day, const Thresholds& thr, int nsites, int mxlag, int site_capacity,
            const Array1<std::string>& sitcod);

// Reads all records of the current date (the first record of the file sets the date
// when yy is 0). At the end of the file the channel is closed and day.more becomes 0.
// A malformed record (a line ending before the value field included; a blank value
// field reads 0), a record out of date order, an impossible date, a value above
// MAXVALUE or a second record of one site on one day ends the run with a message.
void datrd(int channel, DayState& day, const Array1<std::string>& sitcod, int nsites, int site_capacity);

}  // namespace rg
