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
