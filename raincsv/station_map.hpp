#pragma once
// stations_map.csv: the identifiers in the source archive of gauges imported from
// one, written beside the suite's files so that later outputs can name them.
#include <filesystem>
#include <string>
#include <vector>

#include "output_set.hpp"

namespace rg {

constexpr const char* STATION_MAP_FILE = "stations_map.csv";

struct MappedStation {
  std::string code, id, name;
};

// The map in the directory, in file order; empty when the directory has none.
std::vector<MappedStation> read_station_map(const std::filesystem::path& dir);
// Writes the map as a file of the output set.
void write_station_map(OutputSet& set, const std::vector<MappedStation>& map);
// The archive identifier of each code (empty where the map has none).
std::vector<std::string> mapped_ids(const std::vector<MappedStation>& map, const std::vector<std::string>& codes);

}  // namespace rg
