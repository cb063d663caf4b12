#pragma once
// raincsv export: the simulation's daily.dat and monthly.dat as tidy CSV on the
// console (standard output).
#include <string>

namespace rg {

// realisation,date,code,value_mm,observed: one row per site and day; observed is 1
// for a value taken from the observations (flag 0).
void export_daily(const std::string& daily_path, const std::string& sites_path);
// realisation,region,year,month,total_mm: months 1 to 12 and the annual total as
// month 13.
void export_monthly(const std::string& monthly_path);

}  // namespace rg
