#pragma once
// Reading comma-separated tables as users keep them: an optional UTF-8 byte order
// mark, LF, CRLF or CR line ends, fields in double quotes (with commas, doubled quotes
// and line breaks inside), a header line naming the columns. The whole file is read
// into memory once and rows are handed out as views into it, so a table of millions
// of rows costs no allocation per row.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace rg {

// Ends the run after "****ERROR**** " and the message on the console.
[[noreturn]] void csv_fail(const std::string& message);

class TextIn;
// Opens the text file at path, or ends the run saying it cannot be read.
void open_input(TextIn& in, const std::string& path);

class CsvTable {
 public:
  // Reads the file and its header. An unreadable file, an empty file, a file with a
  // header only or a header with an empty or repeated column name ends the run.
  explicit CsvTable(const std::string& path);

  const std::string& path() const { return path_; }
  const std::vector<std::string>& header() const { return header_; }
  // Index of the column whose name matches (ignoring case and surrounding blanks),
  // or -1.
  int column(std::string_view name) const;

  // The next data row (empty lines are skipped); false at the end of the file. A row
  // whose number of fields differs from the header's ends the run. The views stay
  // valid for the table's lifetime.
  bool next(std::vector<std::string_view>& fields);
  // Line of the file on which the last row returned starts (the header is line 1).
  long line() const { return row_line_; }

  // "file name, line N, column NAME: " for messages about a field of the last row.
  std::string where(int column) const;

 private:
  bool parse_row(std::vector<std::string_view>& fields);
  std::string path_;
  std::string data_;
  std::size_t pos_ = 0;
  long line_ = 1;      // line of the file at pos_
  long row_line_ = 0;  // line of the last row returned
  std::vector<std::string> header_;
  std::vector<std::string_view> pending_;  // first data row, read ahead
  bool has_pending_ = false;
  long pending_line_ = 0;
};

// A field without surrounding blanks and tabs.
std::string_view trim(std::string_view s);
// A field read as a number: nullopt unless the whole trimmed field is a finite
// decimal number (optional sign, optional exponent).
std::optional<double> csv_number(std::string_view field);
std::optional<long> csv_integer(std::string_view field);
// Text as one CSV field: in double quotes (inner quotes doubled) when it holds a
// comma, a quote or a line break, as it is otherwise.
std::string csv_field(std::string_view text);

}  // namespace rg
