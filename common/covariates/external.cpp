// External yearly, monthly and daily predictors.
//
// Each kind of file is scanned once, on its first use: the header is skipped, the
// records are checked to follow one another without gaps, and the lines of the first
// and last records are remembered. Afterwards a value is found by its line, the file
// moving forward by reading and backward by stepping back or rewinding, whichever
// reads fewer lines. The record last read is kept, so that all covariates asking
// for the same line on the same day are served without touching the file.
#include "external.hpp"

#include <cmath>
#include <string>
#include <string_view>

#include "channels.hpp"
#include "console.hpp"
#include "dateutil.hpp"
#include "files.hpp"
#include "fixed_format.hpp"
#include "fixed_parse.hpp"
#include "run_exit.hpp"
#include "text_files.hpp"

namespace rg {

namespace {

constexpr int NKIND = 3;
constexpr int HEADER[NKIND + 1] = {0, 39, 40, 41};       // header lines per kind
constexpr int CHANNEL[NKIND + 1] = {0, 31, 32, 33};
constexpr const char* FILE_NAME[NKIND + 1] = {"", "yr_preds.dat", "mn_preds.dat", "dy_preds.dat"};
constexpr const char* WORD[NKIND + 1] = {"", "annual  ", "monthly ", "daily   "};
constexpr int MAXDESC = 950;        // predictors a file may declare before it looks broken
constexpr int JULIAN_2000 = 2451545;  // Julian day number of 1 January 2000
constexpr int VALUE_COL = 10, VALUE_WIDTH = 10;
constexpr double MISSING_TOL = 1.0e-4;

// What is known about one kind of file.
struct ExtState {
  bool init = false;
  long cur = 0;       // line of the record held in values (0: none)
  int n = 0;          // predictors declared
  long first = 0;     // line of the first data record
  int firstidx = 0;   // its time index
  long last = 0;      // line of the last data record
  Array1<double> values{1, MAXNPR, 0.0};
};

ExtState& state(int kind) {
  static ExtState states[NKIND + 1];
  return states[kind];
}

void check_kind(int kind, std::string_view routine) {
  if (kind < 1 || kind > NKIND) prgerr(routine, "funcdefs", 3);
}

TextIn& file_on(int channel, std::string_view routine) {
  if (!channels().connected(channel)) prgerr(routine, "funcdefs", 3);
  return channels().input(channel);
}

[[noreturn]] void unexpected(int kind, long line, int width) {
  console().line(std::string("****ERROR**** unexpected error in ") + WORD[kind] + " input data file at line " +
                 fmt_iw(line, width) + ".");
  end_run(1);
}

[[noreturn]] void wrong_date(int kind, long line) {
  console().line("****ERROR**** line " + fmt_iw(line, 5) + " of " + WORD[kind] + " input data file carries incorrect date.");
  end_run(1);
}

[[noreturn]] void undefined_predictor(int kind) {
  console().line(std::string("****ERROR**** you have requested an external ") + WORD[kind] + " predictor");
  console().line("that is not defined in your input data file.");
  end_run(1);
}

bool blank_line(std::string_view s) { return s.find_first_not_of(" \t") == std::string_view::npos; }

bool is_missing(double v) { return std::fabs(v - EXTMIS) < MISSING_TOL; }

// Reads one record from a line. False when a field is unreadable, a value field is
// blank or the line ends before the n-th value.
bool parse_record(std::string_view line, int kind, int& yy, int& mm, int& dd, int n, Array1<double>& values,
                  int capacity) {
  yy = mm = dd = 0;
  auto y = read_int(line, 1, 4);
  if (!y) return false;
  yy = static_cast<int>(*y);
  if (kind == EXT_MONTHLY) {
    auto m = read_int(line, 6, 2);
    if (!m) return false;
    mm = static_cast<int>(*m);
  } else if (kind == EXT_DAILY) {
    auto m = read_int(line, 5, 2), d = read_int(line, 7, 2);
    if (!m || !d) return false;
    mm = static_cast<int>(*m);
    dd = static_cast<int>(*d);
  }
  const int nread = n < capacity ? n : capacity;
  for (int i = 1; i <= nread; ++i) {
    std::string_view field = column_field(line, VALUE_COL + VALUE_WIDTH * (i - 1), VALUE_WIDTH);
    // A blank field would read as 0: a value the user never wrote.
    if (blank_line(field)) return false;
    auto v = parse_real(field, 0);
    if (!v) return false;
    values(i) = *v;
  }
  return true;
}

// Whether the date of a record is a calendar date of its kind.
bool valid_date(int kind, int yy, int mm, int dd) {
  if (kind == EXT_ANNUAL) return true;
  if (mm < 1 || mm > 12) return false;
  if (kind == EXT_MONTHLY) return true;
  return is_calendar_date(yy, mm, dd);
}

// Skips the header, reads the count of predictors and skips the descriptions.
// Returns false when the file ends before the first data record could start.
bool skip_header(TextIn& f, int kind, int& n) {
  f.rewind();
  for (int i = 1; i <= HEADER[kind]; ++i)
    if (!f.next()) unexpected(kind, f.line_number() + 1, 5);
  auto line = f.next();
  if (!line) unexpected(kind, f.line_number() + 1, 5);
  auto count = first_int(*line);
  if (!count || *count < 0 || *count > 1000000) unexpected(kind, f.line_number(), 5);
  n = static_cast<int>(*count);
  for (int i = 1; i <= n + 1; ++i)
    if (!f.next()) return false;
  return true;
}

[[noreturn]] void no_data(int kind) {
  console().line(std::string("****ERROR**** no data in ") + WORD[kind] + " input data file.");
  end_run(1);
}

// First use of a kind: validates the whole file and learns where its records are.
void scan(TextIn& f, int kind, ExtState& st) {
  int n = 0;
  if (!skip_header(f, kind, n)) no_data(kind);
  st.n = n;
  long first = 0, last = 0, blank = 0;
  int previdx = 0;
  Array1<double> values(1, MAXNPR, 0.0);
  while (auto line = f.next()) {
    const long ln = f.line_number();
    // Blank lines may trail the data; anything after one is a gap in the records.
    if (blank_line(*line)) {
      if (blank == 0) blank = ln;
      continue;
    }
    if (blank != 0) unexpected(kind, blank, 5);
    int yy = 0, mm = 0, dd = 0;
    if (!parse_record(*line, kind, yy, mm, dd, n, values, MAXNPR)) unexpected(kind, ln, 5);
    if (!valid_date(kind, yy, mm, dd)) wrong_date(kind, ln);
    int idx = 0;
    idxset(kind, yy, mm, dd, idx);
    if (first == 0) {
      first = ln;
      st.firstidx = idx;
    } else if (idx != previdx + 1) {
      wrong_date(kind, ln);
    }
    previdx = idx;
    last = ln;
  }
  if (first == 0) no_data(kind);
  st.first = first;
  st.last = last;
  st.cur = 0;
  st.init = true;
  f.rewind();
}

// Moves the file so that the next line read is `target`, reading as few lines as
// the rule allows: forward by reading; backward by stepping back when the file is
// less than twice as far in as the target, else from the start.
void position(TextIn& f, long target) {
  const long cur = f.line_number();
  if (target > cur) {
    for (long i = cur + 1; i < target; ++i)
      if (!f.next()) return;
  } else if (cur < 2 * target) {
    for (long i = 0; i < cur - target + 1; ++i) f.backspace();
  } else {
    f.rewind();
    for (long i = 1; i < target; ++i)
      if (!f.next()) return;
  }
}

}  // namespace

int extchn(int kind) { return kind >= 1 && kind <= NKIND ? CHANNEL[kind] : 0; }
const char* extfil(int kind) { return kind >= 1 && kind <= NKIND ? FILE_NAME[kind] : ""; }

void idxset(int kind, int yy, int mm, int dd, int& index) {
  if (kind == EXT_ANNUAL) {
    index = yy - 2000;
  } else if (kind == EXT_MONTHLY) {
    index = 12 * yy + mm - 24001;
  } else if (kind == EXT_DAILY) {
    int julian = 0, ifail = 0;
    dmytoj(dd, mm, yy, julian, ifail);
    if (ifail != 0) prgerr("IDXSET", "funcdefs", 3);
    index = julian - JULIAN_2000;
  } else {
    prgerr("IDXSET", "funcdefs", 3);
  }
}

void rdxrec(int channel, int kind, int& yy, int& mm, int& dd, int n, Array1<double>& values, int capacity,
            int& status) {
  check_kind(kind, "RDXREC");
  if (capacity > values.hi() || values.lo() != 1) prgerr("RDXREC", "funcdefs", 1);
  TextIn& f = file_on(channel, "RDXREC");
  auto line = f.next();
  if (!line) {
    status = 2;
    return;
  }
  status = parse_record(*line, kind, yy, mm, dd, n, values, capacity) ? 0 : 1;
}

void extset(int channel, int kind, int p, int dd, int mm, int yy, int lag, double& value, int& missing) {
  check_kind(kind, "EXTSET");
  if (p > MAXNPR) {
    console().line("****ERROR**** Inadequate storage in routine EXTSET (file funcdefs).");
    console().line("Please increase value of MAXNPR and recompile.");
    end_run(1);
  }
  ExtState& st = state(kind);
  TextIn& f = file_on(channel, "EXTSET");
  if (!st.init) scan(f, kind, st);
  if (p < 1 || p > st.n) undefined_predictor(kind);

  int t = 0;
  idxset(kind, yy, mm, dd, t);
  const long tidx = static_cast<long>(t) - lag;
  // Outside the file's period (checked first, so that a stale record can never be
  // taken for a date the file does not cover).
  if (tidx < st.firstidx || st.first + (tidx - st.firstidx) > st.last) {
    value = EXTMIS;
    missing = 1;
    return;
  }
  const long target = st.first + (tidx - st.firstidx);
  if (target != st.cur) {
    position(f, target);
    int ry = 0, rm = 0, rd = 0, status = 0;
    rdxrec(channel, kind, ry, rm, rd, st.n, st.values, MAXNPR, status);
    if (status != 0) {
      st.cur = 0;
      unexpected(kind, target, 5);
    }
    int ridx = 0;
    if (!valid_date(kind, ry, rm, rd)) wrong_date(kind, target);
    idxset(kind, ry, rm, rd, ridx);
    if (ridx != tidx) wrong_date(kind, target);
    st.cur = target;
  }
  value = st.values(p);
  missing = is_missing(value) ? 1 : 0;
}

void extset(int kind, int p, int dd, int mm, int yy, int lag, double& value, int& missing) {
  check_kind(kind, "EXTSET");
  extset(extchn(kind), kind, p, dd, mm, yy, lag, value, missing);
}

void extxst(int channel, int kind, int p, int lag, std::string& label) {
  check_kind(kind, "EXTXST");
  TextIn& f = file_on(channel, "EXTXST");
  f.rewind();
  for (int i = 1; i <= HEADER[kind]; ++i)
    if (!f.next()) unexpected(kind, f.line_number() + 1, 4);
  auto line = f.next();
  if (!line) unexpected(kind, f.line_number() + 1, 4);
  auto count = first_int(*line);
  if (!count) unexpected(kind, f.line_number(), 4);
  if (*count > MAXDESC) {
    console().line(std::string("****ERROR**** you have defined more than 950 external ") + WORD[kind] +
                   " predictors.");
    console().line("I hope you didn't mean to do this!");
    unexpected(kind, f.line_number(), 4);
  }
  if (p < 1 || p > *count) undefined_predictor(kind);
  for (int i = 1; i < p; ++i)
    if (!f.next()) unexpected(kind, f.line_number() + 1, 4);
  auto desc = f.next();
  if (!desc) unexpected(kind, f.line_number() + 1, 4);
  const std::string text = fmt_a(*desc, 70);
  label = lag == 0 ? text : fmt_a("Lag " + fmt_i(lag, 3) + ": " + text.substr(0, 61), 70);
  f.rewind();
}

std::string extlabel(int kind, int p, int lag) {
  check_kind(kind, "EXTXST");
  std::string label;
  extxst(extchn(kind), kind, p, lag, label);
  return label;
}

void extrst() {
  for (int kind = 1; kind <= NKIND; ++kind) state(kind) = ExtState{};
}

}  // namespace rg
