#include "datafile.hpp"

#include <cmath>
#include <system_error>

#include "channels.hpp"
#include "console.hpp"
#include "files.hpp"
#include "fixed_format.hpp"
#include "fixed_parse.hpp"
#include "ordered_chunks.hpp"
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
  feed.reset();
  rain.fill(-1.0);
  previous.fill(-1.0);
  yy = mm = dd = 0;
  more = 1;
  serial = 0;
  seen.fill(-1);
}

RecordFeed::RecordFeed(TextIn& in, bool own_thread) : in_(in) {
  for (Chunk& c : chunks_) c.records.reserve(CHUNK);
  if (own_thread) {
    try {
      thread_ = std::thread([this] { produce(); });
    } catch (const std::system_error&) {
      // No thread to be had: the records are read on demand instead.
    }
  }
}

RecordFeed::~RecordFeed() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

void RecordFeed::fill(Chunk& chunk) {
  chunk.records.clear();
  chunk.last = false;
  while (chunk.records.size() < CHUNK) {
    auto line = in_.next_view();
    if (!line) {
      chunk.last = true;
      return;
    }
    const std::string_view text = *line;
    // A blank line carries no record (typically one left at the end of the file).
    if (trim_right(text).empty()) continue;
    DataRecord& r = chunk.records.emplace_back();
    const bool same_date =
        date_known_ && text.size() >= 8 && std::equal(text.begin(), text.begin() + 8, date_columns_.begin());
    if (same_date) {
      r.year = date_.year;
      r.month = date_.month;
      r.day = date_.day;
      r.fields = 3;
      r.calendar_date = true;
    } else {
      auto y = read_int(text, 1, 4);
      if (y && *y >= -9999 && *y <= 9999) {
        r.year = static_cast<int>(*y);
        r.fields = 1;
        if (auto mo = read_int(text, 5, 2)) {
          r.month = static_cast<int>(*mo);
          r.fields = 2;
          if (auto d = read_int(text, 7, 2)) {
            r.day = static_cast<int>(*d);
            r.fields = 3;
            r.calendar_date = is_calendar_date(r.year, r.month, r.day);
          }
        }
      }
    }
    const std::string_view code = column_field(text, 9, 4);
    std::fill(std::copy(code.begin(), code.end(), r.code.begin()), r.code.end(), ' ');
    // A line that ends before the value field holds no value at all; a value field
    // that is present but blank reads as 0, like every numeric field.
    r.has_value = text.size() >= 13;
    if (r.has_value) {
      auto value = read_real(text, 13, 6, 2);
      r.value_read = value.has_value();
      r.value = value.value_or(0.0);
    }
    if (!same_date && r.calendar_date && text.size() >= 8) {
      date_known_ = true;
      std::copy(text.begin(), text.begin() + 8, date_columns_.begin());
      date_ = r;
    }
  }
}

void RecordFeed::produce() {
  try {
    for (std::int64_t k = 0;; ++k) {
      {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return stop_ || k - used_ < CHUNKS; });
        if (stop_) return;
      }
      Chunk& chunk = chunks_[static_cast<std::size_t>(k % CHUNKS)];
      fill(chunk);
      {
        std::lock_guard<std::mutex> lock(mutex_);
        filled_ = k + 1;
      }
      changed_.notify_all();
      if (chunk.last) return;
    }
  } catch (...) {
    std::lock_guard<std::mutex> lock(mutex_);
    failure_ = std::current_exception();
    stop_ = true;
    changed_.notify_all();
  }
}

void RecordFeed::acquire() {
  Chunk& chunk = chunks_[static_cast<std::size_t>(used_ % CHUNKS)];
  if (!thread_.joinable()) {
    fill(chunk);
    filled_ = used_ + 1;
  } else {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return filled_ > used_ || failure_; });
    if (filled_ == used_) std::rethrow_exception(failure_);
  }
  have_chunk_ = true;
}

void RecordFeed::release() {
  have_chunk_ = false;
  pos_ = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++used_;
  }
  changed_.notify_all();
}

const DataRecord* RecordFeed::peek() {
  for (;;) {
    if (!have_chunk_) acquire();
    const Chunk& chunk = chunks_[static_cast<std::size_t>(used_ % CHUNKS)];
    if (pos_ < chunk.records.size()) return &chunk.records[pos_];
    if (chunk.last) return nullptr;
    release();
  }
}

void datrd(int channel, DayState& day, const Array1<std::string>& sitcod, int nsites, int site_capacity) {
  if (nsites > site_capacity || site_capacity > MAXSIT) prgerr("DATRD", "fit_both", 1);
  // The file is read on a second thread while the caller works through the days,
  // when the run may use more than one.
  if (!day.feed) day.feed = std::make_unique<RecordFeed>(channels().input(channel), pass_threads() > 1);
  day.sites.refresh(sitcod, nsites);
  // The date fields of the records read in this call. A failed read shows them as
  // it left them: the last good record's date, with the fields of the failing
  // record that were read before the fault (all 0 when the call read nothing).
  int year = 0, month = 0, dayno = 0;
  for (;;) {
    const DataRecord* r = day.feed->peek();
    if (!r) {
      day.feed.reset();  // done with the file before it is closed
      channels().close(channel);
      day.more = 0;
      return;
    }
    if (r->fields < 1) read_failure(dayno, month, year);
    year = r->year;
    if (r->fields < 2) read_failure(dayno, month, year);
    month = r->month;
    if (r->fields < 3) read_failure(dayno, month, year);
    dayno = r->day;
    const std::string_view code(r->code.data(), r->code.size());
    if (!r->has_value || !r->value_read) read_failure(dayno, month, year);
    const double value = r->value;

    // Year 0 would read as "no date yet"; years before the calendar's start are not
    // dates at all.
    if (!r->calendar_date) date_failure("impossible date in input file.", dayno, month, year, code);
    if (value > MAXVALUE) date_failure("input file has a value above 99999 mm.", dayno, month, year, code);

    if (day.yy != 0) {
      long delta = (static_cast<long>(year) - day.yy) * 10000 + (month - day.mm) * 100 + (dayno - day.dd);
      if (delta > 0) return;  // belongs to a later day: stays next for a later call
      if (delta < 0) date_failure("input file out of order.", dayno, month, year, code);
    }
    day.sites.each(code, [&](int i) {
      if (day.seen(i) == day.serial) date_failure("input file has two records for one site and day.", dayno, month, year, code);
      day.seen(i) = day.serial;
      day.rain(i) = value;
    });
    day.feed->advance();
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
