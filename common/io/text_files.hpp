#pragma once
// Sequential text files read and written a line at a time.
#include <cstdint>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace rg {

// Input text file. Lines come without their line ending (LF or CRLF); a last line
// without a final newline is still a line.
class TextIn {
 public:
  // False when the file cannot be opened for reading.
  bool open(const std::string& path);
  std::optional<std::string> next();
  // Lines read so far (the number of the last line returned).
  long line_number() const { return line_; }
  void rewind();
  // Steps back one line, so that the next call of next() reads it again.
  void backspace();

 private:
  // Start offsets of the most recent lines, so stepping back is a seek; memory stays
  // bounded however long the file (a longer step back re-reads from the start).
  static constexpr long KEPT_STARTS = 4096;
  std::ifstream in_;
  long line_ = 0;
  long newest_ = 0;  // highest line number whose start is kept
  std::streamoff pos_ = 0;  // offset of the next line
  std::vector<std::streamoff> starts_ = std::vector<std::streamoff>(KEPT_STARTS);
};

// Output text file.
class TextOut {
 public:
  // Opens for writing from the start, discarding old contents.
  bool open(const std::string& path);
  void line(std::string_view text);
  // Flushes and closes; false if anything failed to reach the file.
  bool close();
  bool good() const { return out_.good(); }
  void flush() { out_.flush(); }

 private:
  std::ofstream out_;
};

}  // namespace rg
