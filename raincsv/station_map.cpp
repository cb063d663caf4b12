#include "station_map.hpp"

#include "csv_table.hpp"

namespace rg {

std::vector<MappedStation> read_station_map(const std::filesystem::path& dir) {
  std::vector<MappedStation> map;
  const std::filesystem::path path = dir / STATION_MAP_FILE;
  if (!std::filesystem::exists(path)) return map;
  CsvTable t(path.string());
  const int code = t.column("code"), id = t.column("ghcn_id"), name = t.column("name");
  if (code < 0 || id < 0 || name < 0)
    csv_fail("File " + t.path() + " lacks one of the columns code, ghcn_id and name.");
  std::vector<std::string_view> f;
  while (t.next(f)) map.push_back({std::string(trim(f[code])), std::string(trim(f[id])), std::string(trim(f[name]))});
  return map;
}

void write_station_map(OutputSet& set, const std::vector<MappedStation>& map) {
  TextOut& out = set.open(STATION_MAP_FILE);
  out.line("code,ghcn_id,name");
  for (const auto& s : map) out.line(csv_field(s.code) + "," + csv_field(s.id) + "," + csv_field(s.name));
}

std::vector<std::string> mapped_ids(const std::vector<MappedStation>& map, const std::vector<std::string>& codes) {
  std::vector<std::string> ids;
  for (const auto& c : codes) {
    ids.emplace_back();
    for (const auto& s : map)
      if (s.code == c) ids.back() = s.id;
  }
  return ids;
}

}  // namespace rg
