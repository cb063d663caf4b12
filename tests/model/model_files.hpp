#pragma once
// Building model definition files and a small site table for the model tests.
#include <string>

#include "model.hpp"
#include "sites.hpp"

namespace modeltest {

using rg::SiteTable;

// Right-justified in w columns (written here without the product's formatter).
inline std::string rj(const std::string& s, int w) { return std::string(s.size() < static_cast<size_t>(w) ? w - s.size() : 0, ' ') + s; }
inline std::string num(int v, int w = 5) { return rj(std::to_string(v), w); }

// A component line: type, value field text, codes 1-3, comment.
inline std::string comp(int type, const std::string& value, int c1 = 0, int c2 = 0, int c3 = 0, const std::string& note = "") {
  return num(type) + rj(value, 10) + num(c1) + num(c2) + num(c3) + (note.empty() ? "" : " " + note) + "\n";
}

inline std::string header(const std::string& title = "Test model") {
  std::string s;
  for (int i = 1; i <= 46; ++i) s += "header line " + std::to_string(i) + "\n";
  return s + "%%%% LINE NOT CURRENTLY USED %%%%\n" + title + "\n";
}

inline std::string constant(const std::string& value = "1.5000") { return header() + comp(0, value, 0, 0, 0, "Constant"); }

// Three sites with X, Y and an elevation between 1 and 3.
inline SiteTable three_sites(int nattr = 3) {
  SiteTable s;
  s.nsites = 3;
  s.nattr = nattr;
  const char* names[3] = {"X co-ordinate", "Y co-ordinate", "Elevation (m)"};
  for (int k = 1; k <= nattr && k <= 3; ++k) s.attnam(k) = names[k - 1];
  for (int i = 1; i <= 3; ++i) {
    s.sitinf(i, 1, 1) = 10.0 * i;
    s.sitinf(i, 2, 1) = 5.0 * i;
    s.sitinf(i, 3, 1) = static_cast<double>(i);
    s.sitcod(i) = "S00" + std::to_string(i);
  }
  return s;
}

// Every component type 1 to 10 in one file.
inline std::string full_model() {
  return header("Full model - every component type  (test)") +
         comp(0, "1.5000", 0, 0, 0, "Constant") +
         comp(1, "0.2000", 3, 0, 0, "Elevation") +               // 1
         comp(1, "0.1000", 3, 11, 0, "Fourier term") +           // 2
         comp(1, "0.0500", 1, 1, 0, "Box-Cox of X") +            // 3
         comp(2, "0.0100", 2, 0, 0, "trend with changepoint") +  // 4
         comp(2, "0.0200", 53, -2, 0, "external yearly") +       // 5
         comp(3, "0.3000", 1, 0, 0, "monthly cosine") +          // 6
         comp(3, "0.1000", 52, 0, 0, "external monthly") +       // 7
         comp(4, "0.4000", 21, 0, 0, "daily cosine") +           // 8
         comp(4, "0.5000", 1, 3, 0, "own wet yesterday") +       // 9
         comp(4, "0.6000", 2, 124, 3, "trace, scheme 2") +       // 10
         comp(4, "0.7000", 1, 21, 0, "scheme 2") +               // 11
         comp(4, "0.1000", 51, -1, 0, "external daily") +        // 12
         comp(5, "0.2000", 6, 8, 0) +                            // 13
         comp(6, "0.3000", 6, 8, 9) +                            // 14
         comp(7, "0.5000", 2, 1, 0, "lower limit") +
         comp(7, "5.0000", 2, 2, 0, "upper limit") +
         comp(7, "0.2500", 3, 1, 1, "Box-Cox, estimated") +
         comp(7, "0.1000", 10, 1, 1, "decay rate, estimated") +
         comp(7, "1980.0000", 4, 1, 0, "changepoint") +
         comp(8, "0.3000", 1, 1, 0, "trace threshold") +
         comp(9, "2.5000") +
         comp(10, "0.1000", 4, 1, 0) +
         comp(10, "0.5000", 4, 2, 0);
}


}  // namespace modeltest
