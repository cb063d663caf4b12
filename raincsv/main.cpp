#include <iostream>

#include "raincsv.hpp"
#include "run_exit.hpp"

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);  // the export writes millions of lines
  std::vector<std::string> args(argv + 1, argv + argc);
  return rg::run_program([&] { rg::raincsv_run(args); });
}
