#pragma once
// The daily gauge data file gaugvals.dat, walked through one calendar day at a time.
// Each line: year (columns 1-4), month (5-6), day (7-8), site code (9-12) and the
// value (13-18, two implied decimals; negative = missing). Records are in
// non-decreasing date order; days without records are days with every site missing.
#include <algorithm>
#include <array>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "arrays.hpp"
#include "model.hpp"
#include "sites.hpp"
#include "text_files.hpp"

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

// One line of the data file with its fields read. A field that could not be read
// leaves the later ones unread: `fields` counts the date fields read (year, month,
// day in turn); the value is read only when the line reaches its columns.
struct DataRecord {
  int year = 0, month = 0, day = 0;
  int fields = 0;
  bool calendar_date = false;  // the three fields make a date of the calendar
  bool has_value = false;      // the line reaches the value columns
  bool value_read = false;
  double value = 0.0;
  std::array<char, 4> code{};  // site code, blank-padded
};

// The records of a data file read and their fields converted ahead of their use, in
// file order, on a thread of their own (own_thread; else on demand); blank lines are
// passed over. The reader is the feed's alone until the feed is destroyed.
class RecordFeed {
 public:
  RecordFeed(TextIn& in, bool own_thread);
  ~RecordFeed();
  RecordFeed(const RecordFeed&) = delete;
  RecordFeed& operator=(const RecordFeed&) = delete;
  // The next record, nullptr at the end of the file; it stays the next one until
  // advance().
  const DataRecord* peek();
  void advance() { ++pos_; }

 private:
  static constexpr std::size_t CHUNK = 2048;  // records handed over at a time
  static constexpr int CHUNKS = 4;            // chunks read ahead at most
  struct Chunk {
    std::vector<DataRecord> records;
    bool last = false;  // the file ends after these records
  };
  void fill(Chunk& chunk);
  // The reading thread: fills chunks as they are handed back, until the end.
  void produce();
  // Makes the chunk used_ ready: waits for it, or reads it without a thread.
  void acquire();
  // Hands the chunk in use back for reading and moves to the next.
  void release();

  TextIn& in_;
  // Date columns of the last record whose date was read and found a calendar date:
  // the records of one day repeat them, and need not be read again.
  bool date_known_ = false;
  std::array<char, 8> date_columns_{};
  DataRecord date_{};

  std::array<Chunk, CHUNKS> chunks_;
  bool have_chunk_ = false;          // chunk used_ is ready
  std::size_t pos_ = 0;              // next record of the chunk in use
  std::int64_t filled_ = 0, used_ = 0;  // chunks made ready and chunks used up
  bool stop_ = false;
  std::exception_ptr failure_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::thread thread_;
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
  // The records of the file read ahead (see RecordFeed), from the first call of
  // datrd until the end of the file or reset(). While it exists the file must stay
  // open and untouched: a reader that stops before the end resets it (or the feed).
  std::unique_ptr<RecordFeed> feed;

  // Back to the state before the first day (all missing, no date, data left). The
  // file is no longer read ahead, so it may be rewound.
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
