#pragma once
// raincsv export --netcdf: the simulation's daily.dat or monthly.dat as a CF-1.8
// NetCDF-4 file, written under a temporary name and renamed when complete.
#include <string>

namespace rg {

// history: the command line, recorded in the file.
void export_daily_netcdf(const std::string& daily_path, const std::string& sites_path, const std::string& out_path,
                         const std::string& history);
// Region names from the region file.
void export_monthly_netcdf(const std::string& monthly_path, const std::string& regions_path,
                           const std::string& out_path, const std::string& history);

}  // namespace rg
