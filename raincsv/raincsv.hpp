#pragma once
// The raincsv command line: import, export and report.
#include <string>
#include <vector>

namespace rg {

// Runs the command given by the arguments (without the program name); a wrong
// command line ends the run with the usage text and status 1.
void raincsv_run(const std::vector<std::string>& args);

}  // namespace rg
