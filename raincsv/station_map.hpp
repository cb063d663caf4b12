#pragma once
// stations_map.csv: the identifiers in the source archive of gauges imported from
// one, written beside the suite's files so that later outputs can name them.
#include <filesystem>
#include <map>
#include <string>

namespace rg {

constexpr const char* STATION_MAP_FILE = "stations_map.csv";
constexpr const char* STATION_MAP_HEADER = "code,ghcn_id,name";

struct MappedStation {
  std::string id, name;
};

// The map in the directory, by gauge code; empty when the directory has none.
std::map<std::string, MappedStation> read_station_map(const std::filesystem::path& dir);

}  // namespace rg
