#pragma once
// Lines of the GHCN-Daily archive: the station list ghcnd-stations.txt and the
// monthly element records of the .dly files, read by column position. A faulty
// field throws FieldError with the column where it starts.
#include <stdexcept>
#include <string>
#include <string_view>

namespace rg::ghcn {

struct FieldError : std::runtime_error {
  FieldError(int col, const std::string& what) : std::runtime_error(what), column(col) {}
  int column;
};

constexpr int ID_WIDTH = 11;
constexpr int DAYS = 31;
// A .dly record: ID 1-11, year 12-15, month 16-17, element 18-21, then per day a
// 5-column value and the measurement, quality and source flags.
constexpr int DLY_LENGTH = 21 + 8 * DAYS;
constexpr int MISSING = -9999;

struct StationLine {
  std::string id, name;
  double latitude = 0, longitude = 0, elevation = 0;  // degrees, degrees, m (-999.9 unknown)
};

// A line of the station list (ID 1-11, latitude 13-20, longitude 22-30, elevation
// 32-37, state 39-40, name 42-71).
StationLine parse_station(std::string_view line);
// The station ID of a station-list line (columns 1-11, blanks removed at the end).
std::string_view station_id(std::string_view line);

struct MonthHead {
  std::string id, element;
  int year = 0, month = 0;
};

struct DayField {
  int value = MISSING;  // in the element's units (tenths of mm for PRCP)
  char mflag = ' ', qflag = ' ', sflag = ' ';
};

// The head of a .dly record; also refuses a line shorter than a record.
MonthHead parse_head(std::string_view line);
// Day d (1 to 31) of a .dly record, flags checked against the archive's codes.
DayField parse_day(std::string_view line, int d);
// First column of day d's value.
constexpr int day_column(int d) { return 22 + 8 * (d - 1); }

}  // namespace rg::ghcn
