#pragma once
// raincsv import --ghcn: a folder of GHCN-Daily .dly files and the archive's
// station list into siteinfo.def, gaugvals.dat and regions.def, with
// stations_map.csv giving each gauge code its station ID.
#include <string>

#include "csv_import.hpp"

namespace rg {

// opt.daily is the folder of .dly files and opt.stations the station list; the
// period and the output folder as for the CSV import.
void ghcn_import(const ImportOptions& opt);

}  // namespace rg
