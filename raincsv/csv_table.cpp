#include "csv_table.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "console.hpp"
#include "run_exit.hpp"
#include "text_files.hpp"

namespace rg {

void csv_fail(const std::string& message) {
  console().line("****ERROR**** " + message);
  end_run(1);
}

void open_input(TextIn& in, const std::string& path) {
  if (std::filesystem::is_directory(path) || !in.open(path)) csv_fail("File " + path + " cannot be opened for reading.");
}

namespace {

bool same_name(std::string_view a, std::string_view b) {
  a = trim(a);
  b = trim(b);
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
  });
}

}  // namespace

std::string_view trim(std::string_view s) {
  std::size_t b = s.find_first_not_of(" \t");
  if (b == std::string_view::npos) return {};
  std::size_t e = s.find_last_not_of(" \t");
  return s.substr(b, e - b + 1);
}

std::optional<double> csv_number(std::string_view field) {
  field = trim(field);
  if (!field.empty() && field[0] == '+') field.remove_prefix(1);
  if (field.empty()) return std::nullopt;
  double v = 0;
  auto [end, ec] = std::from_chars(field.data(), field.data() + field.size(), v);
  if (ec != std::errc() || end != field.data() + field.size() || !std::isfinite(v)) return std::nullopt;
  return v;
}

std::optional<long> csv_integer(std::string_view field) {
  field = trim(field);
  if (!field.empty() && field[0] == '+') field.remove_prefix(1);
  long v = 0;
  auto [end, ec] = std::from_chars(field.data(), field.data() + field.size(), v);
  if (field.empty() || ec != std::errc() || end != field.data() + field.size()) return std::nullopt;
  return v;
}

std::string csv_field(std::string_view text) {
  if (text.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(text);
  std::string s = "\"";
  for (char c : text) {
    if (c == '"') s += '"';
    s += c;
  }
  return s + '"';
}

CsvTable::CsvTable(const std::string& path) : path_(path) {
  std::ifstream in(path, std::ios::binary);
  if (std::filesystem::is_directory(path) || !in) csv_fail("File " + path + " cannot be opened for reading.");
  std::ostringstream ss;
  ss << in.rdbuf();
  data_ = std::move(ss).str();
  if (data_.rfind("\xEF\xBB\xBF", 0) == 0) pos_ = 3;  // UTF-8 byte order mark

  std::vector<std::string_view> names;
  if (!parse_row(names)) csv_fail("File " + path + " is empty.");
  for (std::size_t k = 0; k < names.size(); ++k) {
    std::string name(trim(names[k]));
    if (name.empty())
      csv_fail("File " + path + ": column " + std::to_string(k + 1) + " of the header has no name.");
    if (column(name) >= 0) csv_fail("File " + path + ": column " + name + " is named twice in the header.");
    header_.push_back(name);
  }
  // The first data row is read ahead, so that a header without rows is refused at once.
  if (!parse_row(pending_)) csv_fail("File " + path + " has a header but no data rows.");
  has_pending_ = true;
  pending_line_ = row_line_;
}

int CsvTable::column(std::string_view name) const {
  for (std::size_t k = 0; k < header_.size(); ++k)
    if (same_name(header_[k], name)) return static_cast<int>(k);
  return -1;
}

bool CsvTable::next(std::vector<std::string_view>& fields) {
  if (has_pending_) {
    has_pending_ = false;
    fields.swap(pending_);
    row_line_ = pending_line_;
  } else if (!parse_row(fields)) {
    return false;
  }
  if (fields.size() != header_.size())
    csv_fail(path_ + ", line " + std::to_string(row_line_) + ": " + std::to_string(fields.size()) +
             " fields, but the header names " + std::to_string(header_.size()) + " columns.");
  return true;
}

std::string CsvTable::where(int column) const {
  std::string name = column >= 0 && column < static_cast<int>(header_.size()) ? header_[column] : "?";
  return path_ + ", line " + std::to_string(row_line_) + ", column " + name + ": ";
}

// Quoted fields are unquoted in place: the unquoted text is never longer than the
// quoted one, so it fits where the quoted text was (the bytes are then no longer
// the file's, so a row is parsed only once). Lines end with LF, CRLF or a lone CR.
bool CsvTable::parse_row(std::vector<std::string_view>& fields) {
  const std::size_t n = data_.size();
  auto line_end = [&](std::size_t p) { return data_[p] == '\n' || data_[p] == '\r'; };
  // Steps over the line end at p (CRLF counts once) and returns what follows it.
  auto past_line_end = [&](std::size_t p) {
    ++line_;
    return data_[p] == '\r' && p + 1 < n && data_[p + 1] == '\n' ? p + 2 : p + 1;
  };
  for (;;) {
    fields.clear();
    if (pos_ >= n) return false;
    row_line_ = line_;
    bool any_quoted = false;
    for (;;) {
      std::size_t p = pos_;
      while (p < n && (data_[p] == ' ' || data_[p] == '\t')) ++p;
      if (p < n && data_[p] == '"') {
        any_quoted = true;
        std::size_t r = p + 1, w = p, begin = p;
        for (;;) {
          if (r >= n)
            csv_fail(path_ + ", line " + std::to_string(row_line_) + ": a quoted field is not closed.");
          char c = data_[r];
          if (c == '"') {
            if (r + 1 < n && data_[r + 1] == '"') {
              data_[w++] = '"';
              r += 2;
              continue;
            }
            ++r;
            break;
          }
          // A line break inside the field is kept as it is and counted once.
          if (c == '\n' || (c == '\r' && !(r + 1 < n && data_[r + 1] == '\n'))) ++line_;
          data_[w++] = c;
          ++r;
        }
        fields.emplace_back(data_.data() + begin, w - begin);
        while (r < n && (data_[r] == ' ' || data_[r] == '\t')) ++r;
        if (r < n && data_[r] != ',' && !line_end(r))
          csv_fail(path_ + ", line " + std::to_string(line_) + ": text after the closing quote of a field.");
        pos_ = r;
      } else {
        std::size_t e = pos_;
        while (e < n && data_[e] != ',' && !line_end(e)) ++e;
        fields.emplace_back(data_.data() + pos_, e - pos_);
        pos_ = e;
      }
      if (pos_ < n && data_[pos_] == ',') {
        ++pos_;
        continue;
      }
      if (pos_ < n) pos_ = past_line_end(pos_);
      break;
    }
    if (fields.size() == 1 && !any_quoted && trim(fields[0]).empty()) continue;  // empty line
    return true;
  }
}

}  // namespace rg
