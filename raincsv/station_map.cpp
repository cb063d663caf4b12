#include "station_map.hpp"

#include "csv_table.hpp"

namespace rg {

std::map<std::string, MappedStation> read_station_map(const std::filesystem::path& dir) {
  std::map<std::string, MappedStation> map;
  const std::filesystem::path path = dir / STATION_MAP_FILE;
  if (!std::filesystem::exists(path)) return map;
  CsvTable t(path.string());
  const int code = t.column("code"), id = t.column("ghcn_id"), name = t.column("name");
  if (code < 0 || id < 0 || name < 0) csv_fail("File " + t.path() + " lacks one of the columns " + STATION_MAP_HEADER + ".");
  std::vector<std::string_view> f;
  while (t.next(f)) map[std::string(trim(f[code]))] = {std::string(trim(f[id])), std::string(trim(f[name]))};
  return map;
}

}  // namespace rg
