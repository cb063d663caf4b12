#include "ghcn_files.hpp"

#include <algorithm>
#include <cstring>

#include "fixed_parse.hpp"

namespace rg::ghcn {

namespace {

// Flag codes the archive documents; the source flag takes any letter or digit, as
// its list grows with new sources.
constexpr const char* MFLAGS = " BDHKLOPTW";
constexpr const char* QFLAGS = " DGIKLMNORSTWXZ";

bool is_alnum(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

double real_field(std::string_view line, int col, int width, const char* what, double low, double high) {
  auto v = read_real(line, col, width);
  if (!v || *v < low || *v > high) {
    std::string_view text = trim_right(column_field(line, col, width));
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    throw FieldError(col, "\"" + std::string(text) + "\" is not a " + what + ".");
  }
  return *v;
}

std::string flag_text(char c) { return c == ' ' ? "blank" : std::string("\"") + c + "\""; }

}  // namespace

std::string_view station_id(std::string_view line) { return trim_right(column_field(line, 1, ID_WIDTH)); }

StationLine parse_station(std::string_view line) {
  StationLine s;
  s.id = std::string(station_id(line));
  if (line.size() < 41) throw FieldError(static_cast<int>(line.size()) + 1, "the line ends before the station name.");
  s.latitude = real_field(line, 13, 8, "latitude", -90, 90);
  s.longitude = real_field(line, 22, 9, "longitude", -180, 180);
  s.elevation = real_field(line, 32, 6, "elevation in m", -999.9, 9999);
  s.name = std::string(trim_right(column_field(line, 42, 30)));
  while (!s.name.empty() && s.name.front() == ' ') s.name.erase(0, 1);
  return s;
}

MonthHead parse_head(std::string_view line) {
  if (static_cast<int>(trim_right(line).size()) < DLY_LENGTH - 3 || static_cast<int>(line.size()) > DLY_LENGTH)
    throw FieldError(
        static_cast<int>(std::min<std::size_t>(line.size(), DLY_LENGTH)) + 1,
        "the line has " + std::to_string(line.size()) + " columns; a record has " + std::to_string(DLY_LENGTH) + ".");
  MonthHead h;
  h.id = std::string(trim_right(column_field(line, 1, ID_WIDTH)));
  if (h.id.size() != ID_WIDTH) throw FieldError(1, "\"" + h.id + "\" is not an 11-character station ID.");
  auto year = read_int(line, 12, 4);
  if (!year || *year < 1) throw FieldError(12, "\"" + std::string(column_field(line, 12, 4)) + "\" is not a year.");
  auto month = read_int(line, 16, 2);
  if (!month || *month < 1 || *month > 12)
    throw FieldError(16, "\"" + std::string(column_field(line, 16, 2)) + "\" is not a month.");
  h.year = static_cast<int>(*year);
  h.month = static_cast<int>(*month);
  h.element = std::string(column_field(line, 18, 4));
  return h;
}

DayField parse_day(std::string_view line, int d) {
  const int col = day_column(d);
  DayField f;
  auto v = read_int(line, col, 5);
  if (!v) throw FieldError(col, "\"" + std::string(column_field(line, col, 5)) + "\" is not a whole number.");
  f.value = static_cast<int>(*v);
  // A record whose last source flag is blank may end without it.
  auto flag = [&](int c) { return c <= static_cast<int>(line.size()) ? line[c - 1] : ' '; };
  f.mflag = flag(col + 5);
  f.qflag = flag(col + 6);
  f.sflag = flag(col + 7);
  if (!std::strchr(MFLAGS, f.mflag) || f.mflag == '\0')
    throw FieldError(col + 5, "measurement flag " + flag_text(f.mflag) + " is not one of the archive's.");
  if (!std::strchr(QFLAGS, f.qflag) || f.qflag == '\0')
    throw FieldError(col + 6, "quality flag " + flag_text(f.qflag) + " is not one of the archive's.");
  if (f.sflag != ' ' && !is_alnum(f.sflag))
    throw FieldError(col + 7, "source flag " + flag_text(f.sflag) + " is not one of the archive's.");
  return f;
}

}  // namespace rg::ghcn
