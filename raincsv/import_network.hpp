#pragma once
// A network read by one of the importers, in the form from which the suite's input
// files siteinfo.def, regions.def and gaugvals.dat are written.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "csv_import.hpp"
#include "output_set.hpp"

namespace rg {

struct ImportedStation {
  std::string code;  // as written, 1 to 4 characters
  std::string name;
  int region = 0;
  std::vector<double> attr;
  std::vector<int> decimals;  // decimals that print each attribute without loss
  long line = 0;
  long rows = 0;  // daily values written
};

struct ImportedNetwork {
  std::vector<ImportedStation> stations;
  std::vector<std::string> attr_names;
  std::vector<std::string> ignored;  // non-numeric columns, not used
  std::vector<std::string> gaps;     // numeric columns with empty cells, not used
  std::vector<std::string> regions;  // subarea names, numbered from 1
};

// One daily value: the date as yyyymmdd (which sorts like the calendar), the site's
// index in the network and the value in hundredths of a millimetre.
struct DayValue {
  std::int32_t date;
  std::int32_t hundredths;
  std::uint32_t line;
  std::uint16_t site;
};

constexpr long long MAX_HUNDREDTHS = 99999;        // 999.99 mm, the widest value of gaugvals.dat
constexpr std::int32_t MISSING_HUNDREDTHS = -100;  // written as -1.00

// Fewest decimals with which the value prints in the attribute field of the site
// file and reads back as itself; -1 when no number of decimals does.
int attribute_decimals(double v);

// Writes the three files into opt.out_dir as one set, with any further files that
// extra opens in it; values sorted by date and site. Nothing in the directory is
// replaced unless every file is complete.
void write_imported(const ImportOptions& opt, ImportedNetwork& net, const std::vector<DayValue>& values,
                    const std::function<void(OutputSet&)>& extra = {});

// Warns of gauges without a daily value.
void warn_silent_gauges(const ImportedNetwork& net);

}  // namespace rg
