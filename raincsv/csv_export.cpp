#include "csv_export.hpp"

#include <charconv>
#include <filesystem>

#include "console.hpp"
#include "csv_table.hpp"
#include "sim_files.hpp"
#include "station_map.hpp"

namespace rg {

namespace {

void append_fixed(std::string& s, double v, int decimals) {
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, decimals);
  s.append(buf, r.ptr);
}

void append_int(std::string& s, long v, int width = 0) {
  char buf[32];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  for (int k = static_cast<int>(r.ptr - buf); k < width; ++k) s += '0';
  s.append(buf, r.ptr);
}

}  // namespace

void export_daily(const std::string& daily_path, const std::string& sites_path) {
  std::vector<std::string> codes = site_codes(*read_sites(sites_path));
  // Gauges imported from an archive also carry their archive identifiers.
  const auto map = read_station_map(std::filesystem::path(sites_path).parent_path());
  const std::vector<std::string> ids = map.empty() ? std::vector<std::string>{} : mapped_ids(map, codes);
  DailyDatReader in(daily_path, codes);
  // A code may hold a comma or a quote (the site file allows any characters): such
  // a field goes in quotes.
  std::vector<std::string> fields;
  for (std::size_t s = 0; s < codes.size(); ++s)
    fields.push_back(csv_field(codes[s]) + (ids.empty() ? "" : "," + csv_field(ids[s])));
  Console& con = console();
  con.line(map.empty() ? "realisation,date,code,value_mm,observed" : "realisation,date,code,ghcn_id,value_mm,observed");
  DailyDatRecord r;
  std::string head, row;
  while (in.next(r)) {
    head.clear();
    append_int(head, r.realisation);
    head += ',';
    append_int(head, r.year, 4);
    head += '-';
    append_int(head, r.month, 2);
    head += '-';
    append_int(head, r.day, 2);
    head += ',';
    for (std::size_t s = 0; s < codes.size(); ++s) {
      row.assign(head).append(fields[s]).append(",");
      append_fixed(row, r.value[s], 2);
      row += r.flag[s] == 0 ? ",1" : ",0";
      con.line(row);
    }
  }
}

void export_monthly(const std::string& monthly_path) {
  MonthlyDatReader in(monthly_path);
  Console& con = console();
  con.line("realisation,region,year,month,total_mm");
  MonthlyDatRecord r;
  std::string row;
  while (in.next(r)) {
    for (int k = 0; k < 13; ++k) {
      row.clear();
      append_int(row, r.realisation);
      row += ',';
      append_int(row, r.region);
      row += ',';
      append_int(row, r.year);
      row += ',';
      append_int(row, k + 1);
      row += ',';
      append_fixed(row, r.total[k], 1);
      con.line(row);
    }
  }
}

}  // namespace rg
