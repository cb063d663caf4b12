#pragma once
// Support of the reader fuzz targets: each run writes the fuzzer's bytes under the
// reader's fixed file name in a private working directory and runs the reader with
// the console captured. A reader may stop the run (a faulty file is the expected
// outcome); anything else it throws, and every sanitizer report, is a finding.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "sites.hpp"

namespace rgfuzz {

// Writes data as file, runs read, and closes every channel afterwards.
void run_reader(const std::uint8_t* data, std::size_t size, const std::string& file, const std::function<void()>& read);

// A small valid site table: codes AAAA, BBBB, CCCC with X and Y co-ordinates.
const rg::SiteTable& three_sites();

}  // namespace rgfuzz
