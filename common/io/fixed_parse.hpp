#pragma once
// Reading numbers from fixed columns of a text line. Blanks inside a field are
// ignored, an all-blank field is 0, and a real field written without a decimal
// point takes the implied number of decimals. Anything else that is not a number
// (letters, tabs, a second sign) makes the field unreadable: nullopt.
#include <optional>
#include <string>
#include <string_view>

namespace rg {

// Columns col .. col+width-1 (1-based) of a line; shorter or empty when the line
// ends earlier.
std::string_view column_field(std::string_view line, int col, int width);

std::optional<long long> parse_int(std::string_view field);
// Real number with optional exponent (E or D); without a decimal point the mantissa
// is scaled by 10^-implied_decimals.
std::optional<double> parse_real(std::string_view field, int implied_decimals = 0);

inline std::optional<long long> read_int(std::string_view line, int col, int width) {
  return parse_int(column_field(line, col, width));
}
inline std::optional<double> read_real(std::string_view line, int col, int width, int implied_decimals = 0) {
  return parse_real(column_field(line, col, width), implied_decimals);
}

// The first whitespace- or comma-separated item of a line read as an integer, as a
// free-format read does; nullopt for an empty line or an item that is not an integer.
std::optional<long long> first_int(std::string_view line);

// The line with trailing blanks removed.
std::string_view trim_right(std::string_view s);

}  // namespace rg
