#include "csv_import.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "console.hpp"
#include "csv_table.hpp"
#include "files.hpp"
#include "fixed_format.hpp"
#include "fixed_parse.hpp"
#include "import_network.hpp"
#include "sites.hpp"

namespace rg {

namespace {

using sitefile::ATTR_WIDTH;
using sitefile::CODE_WIDTH;
using sitefile::NAME_WIDTH;
using sitefile::REGION_WIDTH;
constexpr int REGION_NAME_WIDTH = regionfile::NAME_WIDTH;
constexpr int MAXREGION = 200;
constexpr int REGION_HEADER_LINES = regionfile::HEADER_LINES;
using Station = ImportedStation;
using Network = ImportedNetwork;

bool has_control(std::string_view s) {
  return std::any_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; });
}

// Refuses text longer than its fixed-column field. The fields count bytes, and a
// character outside ASCII takes two to four of them in UTF-8, so such text is
// measured in bytes, not in the characters the user sees.
void check_width(const std::string& where, std::string_view what, std::string_view text, std::size_t width) {
  if (text.size() <= width) return;
  const bool ascii = std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  if (ascii) csv_fail(where + std::string(what) + " is longer than " + std::to_string(width) + " characters.");
  csv_fail(where + std::string(what) + " is longer than " + std::to_string(width) + " bytes (" +
           std::to_string(text.size()) + " bytes in UTF-8, where a character outside ASCII takes 2 to 4; the " +
           "fields of the suite's files count bytes).");
}

int find_either(const CsvTable& t, const char* a, const char* b) {
  int c = t.column(a);
  return c >= 0 ? c : t.column(b);
}

int require(const CsvTable& t, int col, const std::string& what) {
  if (col >= 0) return col;
  // A table separated by semicolons reads as a single column.
  bool semicolons = t.header().size() == 1 && t.header()[0].find(';') != std::string::npos;
  csv_fail("File " + t.path() + " has no column " + what + "." +
           (semicolons ? " Its fields seem to be separated by semicolons; raincsv reads comma-separated tables." : ""));
}

std::string joined(const std::vector<std::string>& items) {
  std::string s;
  for (const auto& i : items) s += (s.empty() ? "" : ", ") + i;
  return s;
}

Network read_stations(const ImportOptions& opt) {
  CsvTable t(opt.stations);
  const int c_code = require(t, t.column("code"), "code");
  const int c_name = require(t, t.column("name"), "name");
  const int c_x = require(t, find_either(t, "x_km", "x"), "x_km (or x)");
  const int c_y = require(t, find_either(t, "y_km", "y"), "y_km (or y)");
  int c_region = -1;
  if (!opt.region_column.empty())
    c_region = require(t, t.column(opt.region_column), opt.region_column + " (named by --region)");

  Network net;
  std::vector<std::vector<std::string>> rows;
  std::vector<long> lines;
  std::vector<std::string_view> f;
  while (t.next(f)) {
    rows.emplace_back(f.begin(), f.end());
    lines.push_back(t.line());
  }

  // Attribute columns: X and Y first, then every other column whose values are all
  // numbers, in table order. A column of numbers with empty cells is left out too
  // (every gauge needs every attribute), and listed with the line of its first gap.
  std::vector<int> attr_cols{c_x, c_y};
  for (int c = 0; c < static_cast<int>(t.header().size()); ++c) {
    if (c == c_code || c == c_name || c == c_x || c == c_y || c == c_region) continue;
    bool numeric = true;
    std::size_t gap = rows.size();
    for (std::size_t r = 0; r < rows.size() && numeric; ++r) {
      if (trim(rows[r][c]).empty()) gap = std::min(gap, r);
      else numeric = csv_number(rows[r][c]).has_value();
    }
    if (!numeric) net.ignored.push_back(t.header()[c]);
    else if (gap < rows.size()) net.gaps.push_back(t.header()[c] + " (line " + std::to_string(lines[gap]) + ")");
    else attr_cols.push_back(c);
  }
  if (static_cast<int>(attr_cols.size()) > MAXDATAATT)
    csv_fail("File " + t.path() + " has " + std::to_string(attr_cols.size()) +
             " attribute columns; siteinfo.def holds at most " + std::to_string(MAXDATAATT) + ".");
  for (int c : attr_cols) {
    check_width("File " + t.path() + ": ", "column name " + t.header()[c], t.header()[c], NAME_WIDTH);
    net.attr_names.push_back(t.header()[c]);
  }
  if (rows.size() > static_cast<std::size_t>(MAXSIT))
    csv_fail("File " + t.path() + " lists " + std::to_string(rows.size()) + " gauges; at most " +
             std::to_string(MAXSIT) + " are allowed.");

  // Fields of a row are checked one by one, with the row's line in the messages.
  std::unordered_map<std::string, long> seen;
  for (std::size_t r = 0; r < rows.size(); ++r) {
    const auto& row = rows[r];
    std::string where = t.path() + ", line " + std::to_string(lines[r]) + ", column ";
    Station s;
    s.line = lines[r];
    std::string_view code = trim(row[c_code]);
    if (code.empty()) csv_fail(where + t.header()[c_code] + ": no gauge code.");
    check_width(where + t.header()[c_code] + ": ", "gauge code \"" + std::string(code) + "\"", code, CODE_WIDTH);
    if (has_control(code)) csv_fail(where + t.header()[c_code] + ": gauge code holds a control character.");
    s.code = std::string(code);
    if (auto [it, fresh] = seen.emplace(s.code, s.line); !fresh)
      csv_fail("File " + t.path() + ": gauge code " + s.code + " is listed twice (lines " +
               std::to_string(it->second) + " and " + std::to_string(s.line) + ").");
    s.name = std::string(trim(row[c_name]));
    check_width(where + t.header()[c_name] + ": ", "name", s.name, NAME_WIDTH);
    if (has_control(s.name)) csv_fail(where + t.header()[c_name] + ": name holds a line break or control character.");
    for (int c : attr_cols) {
      auto v = csv_number(row[c]);
      if (!v && trim(row[c]).empty())
        csv_fail(where + t.header()[c] + ": no value (every gauge needs its co-ordinates).");
      if (!v) csv_fail(where + t.header()[c] + ": \"" + std::string(trim(row[c])) + "\" is not a number.");
      int d = attribute_decimals(*v);
      if (d < 0) csv_fail(where + t.header()[c] + ": " + std::string(trim(row[c])) +
                          " does not fit the 10-column attribute field of siteinfo.def.");
      s.attr.push_back(*v);
      s.decimals.push_back(d);
    }
    if (c_region >= 0) {
      std::string region(trim(row[c_region]));
      if (!region.empty()) {
        auto it = std::find(net.regions.begin(), net.regions.end(), region);
        if (it == net.regions.end()) {
          check_width(where + t.header()[c_region] + ": ", "subarea name", region, REGION_NAME_WIDTH);
          if (has_control(region)) csv_fail(where + t.header()[c_region] + ": subarea name holds a control character.");
          if (static_cast<int>(net.regions.size()) == MAXREGION)
            csv_fail("File " + t.path() + " names more than " + std::to_string(MAXREGION) + " subareas.");
          net.regions.push_back(region);
          it = net.regions.end() - 1;
        }
        s.region = static_cast<int>(it - net.regions.begin()) + 1;
      }
    }
    net.stations.push_back(std::move(s));
  }
  return net;
}

struct DailyCounts {
  long rows = 0, outside = 0, missing = 0, merged = 0;
};

std::optional<int> whole(std::string_view s) {
  if (s.empty() || s.size() > 4 || !std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return std::nullopt;
  auto v = csv_integer(s);
  return v ? std::optional<int>(static_cast<int>(*v)) : std::nullopt;
}

std::vector<DayValue> read_daily(const ImportOptions& opt, Network& net, DailyCounts& n,
                                 std::vector<std::string>& unused) {
  CsvTable t(opt.daily);
  const int c_code = require(t, t.column("code"), "code");
  const int c_date = t.column("date");
  const int c_year = t.column("year"), c_month = t.column("month"), c_day = t.column("day");
  if (c_date < 0 && (c_year < 0 || c_month < 0 || c_day < 0))
    csv_fail("File " + t.path() + " has neither a column date nor the columns year, month and day.");
  const int c_value = require(t, find_either(t, "value_mm", "value"), "value_mm (or value)");
  for (int c = 0; c < static_cast<int>(t.header().size()); ++c) {
    bool used = c == c_code || c == c_value || (c_date >= 0 ? c == c_date : (c == c_year || c == c_month || c == c_day));
    if (!used) unused.push_back(t.header()[c]);
  }

  std::unordered_map<std::string_view, int> index;
  for (std::size_t s = 0; s < net.stations.size(); ++s) index.emplace(net.stations[s].code, static_cast<int>(s));

  std::vector<DayValue> values;
  std::vector<std::string_view> f;
  while (t.next(f)) {
    ++n.rows;
    std::string_view code = trim(f[c_code]);
    auto site = index.find(code);
    if (site == index.end())
      csv_fail(t.where(c_code) + "gauge " + std::string(code) + " is not in " + opt.stations + ".");

    int year = 0, month = 0, day = 0, date_col = c_date;
    bool parsed = false;
    if (c_date >= 0) {
      std::string_view d = trim(f[c_date]);
      std::size_t a = d.find('-'), b = a == std::string_view::npos ? a : d.find('-', a + 1);
      if (b != std::string_view::npos && a == 4) {
        auto y = whole(d.substr(0, a)), m = whole(d.substr(a + 1, b - a - 1)), dd = whole(d.substr(b + 1));
        if (y && m && dd && d.size() - b - 1 <= 2 && b - a - 1 <= 2) {
          year = *y, month = *m, day = *dd;
          parsed = true;
        }
      }
      if (!parsed) csv_fail(t.where(c_date) + "\"" + std::string(d) + "\" is not a date of the form YYYY-MM-DD.");
    } else {
      const int cols[3] = {c_year, c_month, c_day};
      int* out[3] = {&year, &month, &day};
      for (int k = 0; k < 3; ++k) {
        auto v = csv_integer(f[cols[k]]);
        if (!v || *v < -99999 || *v > 99999)
          csv_fail(t.where(cols[k]) + "\"" + std::string(trim(f[cols[k]])) + "\" is not a whole number.");
        *out[k] = static_cast<int>(*v);
      }
      // An impossible date is reported against the field that makes it so.
      date_col = year < 1 || year > 9999 ? c_year : month < 1 || month > 12 ? c_month : c_day;
    }
    if (year > 9999 || !is_calendar_date(year, month, day))
      csv_fail(t.where(date_col) + "there is no date " + std::to_string(year) + "-" + std::to_string(month) + "-" +
               std::to_string(day) + ".");
    if ((opt.from_year && year < *opt.from_year) || (opt.to_year && year > *opt.to_year)) {
      ++n.outside;
      continue;
    }

    std::string_view text = trim(f[c_value]);
    std::int32_t hundredths = MISSING_HUNDREDTHS;
    if (text.empty() || text == "NA" || text == "na" || text == "NaN") {
      ++n.missing;
    } else {
      auto v = csv_number(text);
      if (!v) csv_fail(t.where(c_value) + "\"" + std::string(text) + "\" is not a number.");
      if (*v == opt.missing) {
        ++n.missing;
      } else if (*v < 0) {
        csv_fail(t.where(c_value) + "negative value " + std::string(text) +
                 " (missing values are empty, NA or the --missing value).");
      } else {
        long long h = std::llround(*v * 100.0);
        if (*v >= 1e7 || h > MAX_HUNDREDTHS)
          csv_fail(t.where(c_value) + std::string(text) + " does not fit the value field of gaugvals.dat (at most 999.99).");
        hundredths = static_cast<std::int32_t>(h);
      }
    }
    values.push_back(DayValue{year * 10000 + month * 100 + day, hundredths, static_cast<std::uint32_t>(t.line()),
                              static_cast<std::uint16_t>(site->second)});
  }

  std::sort(values.begin(), values.end(),
            [](const DayValue& a, const DayValue& b) { return a.date != b.date ? a.date < b.date : a.site < b.site; });
  // The same gauge and day twice: the same value is kept once, different values are
  // refused.
  std::size_t kept = 0;
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (kept > 0 && values[kept - 1].date == values[i].date && values[kept - 1].site == values[i].site) {
      const DayValue& a = values[kept - 1];
      const DayValue& b = values[i];
      if (a.hundredths != b.hundredths) {
        int d = a.date;
        csv_fail("File " + t.path() + ": gauge " + net.stations[a.site].code + " has two different values for " +
                 std::to_string(d / 10000) + "-" + std::to_string(d / 100 % 100) + "-" + std::to_string(d % 100) +
                 " (lines " + std::to_string(std::min(a.line, b.line)) + " and " + std::to_string(std::max(a.line, b.line)) +
                 ").");
      }
      ++n.merged;
      if (b.hundredths == MISSING_HUNDREDTHS) --n.missing;
      continue;
    }
    values[kept++] = values[i];
  }
  values.resize(kept);
  if (values.empty()) csv_fail("File " + t.path() + " has no daily values within the period asked for.");
  return values;
}

void write_siteinfo(TextOut& out, const ImportOptions& opt, const Network& net) {
  out.line("Gauges imported by raincsv from " + opt.stations);
  out.line("Daily values imported from " + opt.daily);
  for (int k = 3; k <= sitefile::HEADER_LINES; ++k) out.line(".");
  out.line(fmt_i(static_cast<long long>(net.attr_names.size()), 5));
  for (const auto& a : net.attr_names) out.line(fmt_a(a, NAME_WIDTH));
  out.line("Gauges (code, region, attributes):");
  for (const auto& s : net.stations) {
    out.line(fmt_a(s.name, NAME_WIDTH));
    Fields data;
    data.a(s.code, CODE_WIDTH).i(s.region, REGION_WIDTH);
    for (std::size_t k = 0; k < s.attr.size(); ++k) data.f(s.attr[k], ATTR_WIDTH, s.decimals[k]);
    out.line(data);
  }
}

void write_regions(TextOut& out, const ImportOptions& opt, const Network& net) {
  out.line("Subareas imported by raincsv from " + opt.stations +
           (opt.region_column.empty() ? std::string(" (no subareas)") : " (column " + opt.region_column + ")"));
  for (int k = 2; k <= REGION_HEADER_LINES; ++k) out.line(".");
  out.line(Fields().i(0, regionfile::CODE_WIDTH).a("Entire network", REGION_NAME_WIDTH));
  for (std::size_t r = 0; r < net.regions.size(); ++r)
    out.line(Fields().i(static_cast<long long>(r + 1), regionfile::CODE_WIDTH).a(net.regions[r], REGION_NAME_WIDTH));
}

// One line per value; the date part is formatted once per date.
void write_gaugvals(TextOut& out, const std::vector<DayValue>& values, Network& net) {
  std::vector<std::string> codes;
  for (const auto& s : net.stations) codes.push_back(fmt_a(s.code, CODE_WIDTH));
  std::int32_t date = -1;
  std::string head, line;
  for (const auto& v : values) {
    if (v.date != date) {
      date = v.date;
      head = Fields().i(date / 10000, 4).i(date / 100 % 100, 2).i(date % 100, 2).str();
    }
    line.assign(head).append(codes[v.site]).append(fmt_f(v.hundredths / 100.0, 6, 2));
    out.line(line);
    ++net.stations[v.site].rows;
  }
}

}  // namespace

int attribute_decimals(double v) {
  for (int d = 0; d <= 8; ++d) {
    std::string s = fmt_f(v, ATTR_WIDTH, d);
    auto back = parse_real(s);
    if (s[0] != '*' && back && std::fabs(*back - v) <= 1e-9 * std::max(1.0, std::fabs(v))) return d;
  }
  return -1;
}

void write_imported(const ImportOptions& opt, ImportedNetwork& net, const std::vector<DayValue>& values,
                    const std::function<void(OutputSet&)>& extra) {
  OutputSet files(opt.out_dir);
  write_siteinfo(files.open("siteinfo.def"), opt, net);
  write_regions(files.open("regions.def"), opt, net);
  write_gaugvals(files.open("gaugvals.dat"), values, net);
  if (extra) extra(files);
  files.commit();
}

void warn_silent_gauges(const ImportedNetwork& net) {
  std::vector<std::string> silent;
  for (const auto& s : net.stations)
    if (s.rows == 0) silent.push_back(s.code);
  if (!silent.empty()) console().line(" ****WARNING**** No daily values for gauges: " + joined(silent));
}

void csv_import(const ImportOptions& opt) {
  Console& con = console();
  Network net = read_stations(opt);
  con.line(" Gauges: " + std::to_string(net.stations.size()) + " from " + opt.stations + "; attributes: " +
           joined(net.attr_names) + (net.regions.empty() ? "" : "; subareas: " + std::to_string(net.regions.size())));
  if (!net.ignored.empty()) con.line(" Columns not used (not numeric): " + joined(net.ignored));
  if (!net.gaps.empty()) con.line(" Columns not used (a gauge has no value): " + joined(net.gaps));

  DailyCounts n;
  std::vector<std::string> unused;
  std::vector<DayValue> values = read_daily(opt, net, n, unused);
  if (!unused.empty()) con.line(" Columns not used in " + opt.daily + ": " + joined(unused));

  write_imported(opt, net, values);

  std::string outside;
  if (opt.from_year || opt.to_year)
    outside = std::to_string(n.outside) + " outside the period " +
              (opt.from_year ? std::to_string(*opt.from_year) : "") + "-" +
              (opt.to_year ? std::to_string(*opt.to_year) : "") + " left out, ";
  con.line(" Daily rows: " + std::to_string(n.rows) + " read, " + std::to_string(values.size()) + " written (" +
           std::to_string(n.missing) + " missing), " + outside + std::to_string(n.merged) +
           " repeated rows with the same value merged.");
  warn_silent_gauges(net);
  con.line(" Written to " + opt.out_dir + ": siteinfo.def, gaugvals.dat, regions.def");
}

}  // namespace rg
