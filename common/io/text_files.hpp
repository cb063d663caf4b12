#pragma once
// Sequential text files read and written a line at a time.
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace rg {

// Input text file. Lines end with LF, CRLF or a lone CR; a last line without a final
// line ending is still a line.
class TextIn {
 public:
  TextIn() = default;
  ~TextIn();
  TextIn(const TextIn&) = delete;
  TextIn& operator=(const TextIn&) = delete;

  // False when the file cannot be opened for reading.
  bool open(const std::string& path);
  // The next line without its line end; nullopt at the end of the file. The view
  // points into the reader's buffer and holds until the next call on this file, so
  // reading a file this way allocates nothing per line.
  std::optional<std::string_view> next_view();
  std::optional<std::string> next() {
    auto v = next_view();
    if (!v) return std::nullopt;
    return std::string(*v);
  }
  // Lines read so far (the number of the last line returned).
  long line_number() const { return line_; }
  void rewind();
  // Steps back one line, so that the next call of next() reads it again. A step
  // back within the buffered part of the file reads nothing again.
  void backspace();

 private:
  // Makes at least one unread byte available; false at the end of the file.
  bool fill();
  // Reads more of the file behind the unread bytes, which move to the front of the
  // buffer (grown when they fill it) so that a line is always whole in the buffer;
  // false at the end of the file.
  bool read_more();
  void seek(std::int64_t offset);

  // Start offsets of the most recent lines, so stepping back is a seek; memory stays
  // bounded however long the file (a longer step back re-reads from the start).
  static constexpr long KEPT_STARTS = 4096;
  std::FILE* file_ = nullptr;
  std::vector<char> buf_ = std::vector<char>(std::size_t{1} << 16);
  std::size_t have_ = 0, at_ = 0;  // bytes in the buffer, and the next one to use
  std::int64_t buf_start_ = 0;     // file offset of buf_[0]
  long line_ = 0;
  long newest_ = 0;  // highest line number whose start is kept
  std::vector<std::int64_t> starts_ = std::vector<std::int64_t>(KEPT_STARTS);
};

// Output text file that replaces its name only once it is complete: the text goes to
// a temporary file in the same directory, renamed to the final name when the file is
// closed successfully, so an earlier file of that name stays whole until then. An
// output that is never closed (the run ended on an error) is removed again.
class TextOut {
 public:
  TextOut() = default;
  ~TextOut();
  TextOut(const TextOut&) = delete;
  TextOut& operator=(const TextOut&) = delete;

  // Starts the replacement of path; false when no file can be created beside it.
  bool open(const std::string& path);
  void line(std::string_view text);
  // Text of whole lines, each with its newline.
  void text(std::string_view lines);
  // Flushes and closes the temporary file; false if anything failed to reach it.
  bool finish();
  // Puts the finished file in place under its name; false if that fails.
  bool publish();
  // finish() and publish(); on failure the temporary file is removed.
  bool close();
  // Drops the replacement: the temporary file is removed, the earlier file stays.
  void discard();
  bool good() const { return error_ == 0; }
  void flush();
  // The system's reason for the first failure (empty when there was none).
  std::string error_text() const;

 private:
  void fail(int err) {
    if (error_ == 0) error_ = err != 0 ? err : -1;
  }
  std::FILE* file_ = nullptr;
  std::string path_, temp_;
  bool finished_ = false;
  int error_ = 0;
};

// Removes the temporary files of unfinished outputs when the process is interrupted
// (Ctrl-C, hang-up, termination, a closed output pipe), then lets the signal take its
// usual course.
void remove_unfinished_outputs_on_interrupt();

}  // namespace rg
