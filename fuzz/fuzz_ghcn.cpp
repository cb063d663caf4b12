// The readers of GHCN-Daily lines (.dly records and station-list lines) on
// arbitrary bytes: every line either reads or is refused with a FieldError.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "ghcn_files.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  while (!text.empty()) {
    const std::size_t end = std::min(text.find('\n'), text.size());
    const std::string_view line = text.substr(0, end);
    text.remove_prefix(std::min(end + 1, text.size()));
    try {
      rg::ghcn::parse_station(line);
    } catch (const rg::ghcn::FieldError&) {
    }
    try {
      rg::ghcn::parse_head(line);
      for (int d = 1; d <= rg::ghcn::DAYS; ++d) rg::ghcn::parse_day(line, d);
    } catch (const rg::ghcn::FieldError&) {
    }
  }
  return 0;
}
