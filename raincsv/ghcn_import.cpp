#include "ghcn_import.hpp"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>
#include <set>
#include <unordered_map>

#include "console.hpp"
#include "csv_table.hpp"
#include "files.hpp"
#include "ghcn_files.hpp"
#include "import_network.hpp"
#include "projection.hpp"
#include "sites.hpp"
#include "station_map.hpp"
#include "text_files.hpp"

namespace rg {

namespace fs = std::filesystem;

namespace {

struct ArchiveStation {
  ghcn::StationLine line;
  fs::path dly;
  std::string code;
};

[[noreturn]] void fail_at(const std::string& file, long line, int column, const std::string& what) {
  csv_fail(file + ", line " + std::to_string(line) + ", column " + std::to_string(column) + ": " + what);
}

// The .dly files of the folder, by station ID.
std::map<std::string, fs::path> dly_files(const std::string& dir) {
  std::error_code ec;
  if (!fs::is_directory(dir, ec)) csv_fail("Folder " + dir + " cannot be read.");
  std::map<std::string, fs::path> files;
  for (const auto& e : fs::directory_iterator(dir, ec)) {
    if (e.path().extension() != ".dly") continue;
    const std::string id = e.path().stem().string();
    if (id.size() != ghcn::ID_WIDTH)
      csv_fail("File " + e.path().string() + ": the name is not an 11-character station ID.");
    files[id] = e.path();
  }
  if (files.empty()) csv_fail("Folder " + dir + " holds no .dly files.");
  if (files.size() > static_cast<std::size_t>(MAXSIT))
    csv_fail("Folder " + dir + " holds " + std::to_string(files.size()) + " stations; at most " +
             std::to_string(MAXSIT) + " are allowed.");
  return files;
}

// The listed stations that have a .dly file, in the order of the list.
std::vector<ArchiveStation> listed_stations(const std::string& list, const std::map<std::string, fs::path>& files) {
  TextIn in;
  open_input(in, list);
  std::vector<ArchiveStation> stations;
  std::unordered_map<std::string, long> seen;
  while (auto l = in.next_view()) {
    auto it = files.find(std::string(ghcn::station_id(*l)));
    if (it == files.end()) continue;
    if (auto [prev, fresh] = seen.emplace(it->first, in.line_number()); !fresh)
      csv_fail("File " + list + ": station " + it->first + " is listed twice (lines " + std::to_string(prev->second) +
               " and " + std::to_string(in.line_number()) + ").");
    try {
      stations.push_back({ghcn::parse_station(*l), it->second, {}});
    } catch (const ghcn::FieldError& e) {
      fail_at(list, in.line_number(), e.column, e.what());
    }
  }
  for (const auto& [id, path] : files)
    if (!seen.count(id)) fail_at(path.string(), 1, 1, "station " + id + " is not in the station list " + list + ".");
  return stations;
}

// Gauge codes: the last four characters of the station ID; of stations that share
// them, the first in the list keeps them and the others take the first free code of
// their last three characters and a letter or digit, then of four digits.
void assign_codes(std::vector<ArchiveStation>& stations) {
  std::set<std::string> used;
  std::vector<ArchiveStation*> later;
  for (auto& s : stations) {
    std::string code = s.line.id.substr(ghcn::ID_WIDTH - 4);
    if (used.insert(code).second)
      s.code = code;
    else
      later.push_back(&s);
  }
  const std::string symbols = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
  for (ArchiveStation* s : later) {
    const std::string stem = s->line.id.substr(ghcn::ID_WIDTH - 4, 3);
    for (char c : symbols)
      if (used.insert(stem + c).second) {
        s->code = stem + c;
        break;
      }
    for (int n = 0; s->code.empty(); ++n) {
      std::string code = std::to_string(n);
      code.insert(0, 4 - code.size(), '0');
      if (used.insert(code).second) s->code = code;
    }
  }
}

// Attribute columns: the projected co-ordinates, then what the list gives.
ImportedNetwork network_of(const std::vector<ArchiveStation>& stations, const std::string& list) {
  std::vector<ghcn::LatLon> points;
  for (const auto& s : stations) points.push_back({s.line.latitude, s.line.longitude});
  const ghcn::Projection projection(ghcn::Projection::centre_of(points));
  ImportedNetwork net;
  net.attr_names = {"x_km", "y_km", "elevation_m", "latitude", "longitude"};
  for (const auto& s : stations) {
    ImportedStation st;
    st.code = s.code;
    st.name = s.line.name;
    double x = 0, y = 0;
    projection.project({s.line.latitude, s.line.longitude}, x, y);
    // Metres are plenty for distances between gauges and print in the 10 columns.
    st.attr = {std::round(x * 1000) / 1000, std::round(y * 1000) / 1000, s.line.elevation, s.line.latitude,
               s.line.longitude};
    for (double v : st.attr) {
      const int d = attribute_decimals(v);
      if (d < 0) csv_fail("File " + list + ": a co-ordinate of station " + s.line.id + " does not fit the site file.");
      st.decimals.push_back(d);
    }
    net.stations.push_back(std::move(st));
  }
  return net;
}

struct Counts {
  long records = 0, missing = 0, outside = 0;
  std::map<char, long> flagged;  // values refused by the archive's quality checks, by flag
};

// The PRCP values of one station's file within the period.
void read_dly(const ArchiveStation& st, std::uint16_t site, const ImportOptions& opt, std::vector<DayValue>& values,
              Counts& n) {
  const std::string path = st.dly.string();
  TextIn in;
  open_input(in, path);
  std::map<int, long> months;  // yyyymm -> line of its PRCP record
  while (auto l = in.next_view()) {
    const long line = in.line_number();
    try {
      const ghcn::MonthHead h = ghcn::parse_head(*l);
      if (h.id != st.line.id)
        throw ghcn::FieldError(1, "station " + h.id + " in the file of station " + st.line.id + ".");
      if (h.element != "PRCP") continue;
      if (auto [prev, fresh] = months.emplace(h.year * 100 + h.month, line); !fresh)
        throw ghcn::FieldError(12, "a second PRCP record for " + std::to_string(h.year) + "-" +
                                       std::to_string(h.month) + " (the first is on line " +
                                       std::to_string(prev->second) + ").");
      const bool outside = (opt.from_year && h.year < *opt.from_year) || (opt.to_year && h.year > *opt.to_year);
      ++n.records;
      const int length = days_in_month(h.month, h.year);
      for (int d = 1; d <= ghcn::DAYS; ++d) {
        const ghcn::DayField f = ghcn::parse_day(*l, d);
        if (d > length) {
          if (f.value != ghcn::MISSING)
            throw ghcn::FieldError(ghcn::day_column(d), "a value for " + std::to_string(h.year) + "-" +
                                                            std::to_string(h.month) + "-" + std::to_string(d) +
                                                            ", a day that does not exist.");
          continue;
        }
        if (outside) {
          ++n.outside;
          continue;
        }
        std::int32_t hundredths = MISSING_HUNDREDTHS;
        if (f.value == ghcn::MISSING) {
          ++n.missing;
        } else if (f.value < 0) {
          throw ghcn::FieldError(ghcn::day_column(d), "negative amount " + std::to_string(f.value) + ".");
        } else if (f.qflag != ' ') {
          ++n.flagged[f.qflag];
        } else if (10LL * f.value > MAX_HUNDREDTHS) {
          throw ghcn::FieldError(
              ghcn::day_column(d),
              std::to_string(f.value / 10) + "." + std::to_string(f.value % 10) +
                  " mm does not fit the value field of gaugvals.dat (at most 999.99).");
        } else {
          hundredths = 10 * f.value;
        }
        values.push_back({h.year * 10000 + h.month * 100 + d, hundredths, static_cast<std::uint32_t>(line), site});
      }
    } catch (const ghcn::FieldError& e) {
      fail_at(path, line, e.column, e.what());
    }
  }
}

std::string flag_counts(const Counts& n) {
  long total = 0;
  std::string by_flag;
  for (const auto& [flag, count] : n.flagged) {
    total += count;
    by_flag += std::string(by_flag.empty() ? "" : ", ") + flag + " " + std::to_string(count);
  }
  return std::to_string(total) + " failed a quality check and are written as missing" +
         (by_flag.empty() ? "" : " (by quality flag: " + by_flag + ")");
}

}  // namespace

void ghcn_import(const ImportOptions& opt) {
  Console& con = console();
  const auto files = dly_files(opt.daily);
  std::vector<ArchiveStation> stations = listed_stations(opt.stations, files);
  assign_codes(stations);
  ImportedNetwork net = network_of(stations, opt.stations);
  con.line(" Stations: " + std::to_string(stations.size()) + " .dly files in " + opt.daily + ", listed in " +
           opt.stations + "; attributes: x_km, y_km, elevation_m, latitude, longitude");

  std::vector<DayValue> values;
  Counts n;
  for (std::size_t s = 0; s < stations.size(); ++s)
    read_dly(stations[s], static_cast<std::uint16_t>(s), opt, values, n);
  if (values.empty()) csv_fail("Folder " + opt.daily + " has no PRCP values within the period asked for.");
  std::sort(values.begin(), values.end(),
            [](const DayValue& a, const DayValue& b) { return a.date != b.date ? a.date < b.date : a.site < b.site; });

  std::vector<MappedStation> map;
  for (const auto& s : stations) map.push_back({s.code, s.line.id, s.line.name});
  write_imported(opt, net, values, [&](OutputSet& set) { write_station_map(set, map); });

  con.line(
      " PRCP records: " + std::to_string(n.records) + " station-months; " + std::to_string(values.size()) +
      " daily values written (" + std::to_string(n.missing) + " missing in the archive; " + flag_counts(n) + ")" +
      (opt.from_year || opt.to_year ? ", " + std::to_string(n.outside) + " days outside the period left out." : "."));
  warn_silent_gauges(net);
  std::string unknown;
  for (const auto& s : stations)
    if (s.line.elevation <= -999.0) unknown += (unknown.empty() ? "" : ", ") + s.code;
  if (!unknown.empty()) con.line(" ****WARNING**** Elevation unknown (written as -999.9 m) for gauges: " + unknown);
  con.line(" Written to " + opt.out_dir + ": siteinfo.def, gaugvals.dat, regions.def, " + STATION_MAP_FILE);
}

}  // namespace rg
