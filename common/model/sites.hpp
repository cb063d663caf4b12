#pragma once
// The site table: the rain gauges of the network with their attributes.
#include <array>
#include <string>

#include "arrays.hpp"

namespace rg {

constexpr int MAXSIT = 200;  // sites
constexpr int MAXATT = 80;   // attribute columns, raw and derived
constexpr int MAXLAYER = 4;  // layer 1 values, layers 2-4 derivatives of derived columns
constexpr int MAXDATAATT = 50;  // attribute values on a site's data line

// Layout of the site file, shared by its reader and by the tools that write one:
// free header lines, then 70-character names, and data lines with the code in
// columns 1-4, the region in 5-9 and attribute k in columns 10k to 10k+9.
namespace sitefile {
constexpr int HEADER_LINES = 38;
constexpr int NAME_WIDTH = 70;
constexpr int CODE_WIDTH = 4;
constexpr int REGION_WIDTH = 5;
constexpr int ATTR_WIDTH = 10;
}  // namespace sitefile

// Layout of the region file of the simulation's summaries: free header lines, then
// one region a line, its number in columns 1-5 and its name in the next 60.
namespace regionfile {
constexpr int HEADER_LINES = 19;
constexpr int CODE_WIDTH = 5;
constexpr int NAME_WIDTH = 60;
}  // namespace regionfile

struct SiteTable {
  int nsites = 0;
  int nattr = 0;                              // attributes defined in the file
  Array1<std::string> attnam{1, MAXATT};      // 70-character attribute names
  Array3<double> sitinf{MAXSIT, MAXATT, MAXLAYER};  // site x attribute column x layer
  Array1<int> region{1, MAXSIT};
  Array1<std::string> sitcod{1, MAXSIT};      // 4 characters, blank-padded
  Array1<std::string> sitnam{1, MAXSIT};      // 70 characters, blank-padded
};

// Reads the site file open on the channel to its end and closes it.
void sitedef(int channel, const std::string& name, SiteTable& sites);

}  // namespace rg
