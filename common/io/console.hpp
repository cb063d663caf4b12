#pragma once
// The console: every prompt, answer and message of the programs passes through here,
// so tests can drive a whole dialogue with strings.
#include <istream>
#include <map>
#include <optional>
#include <ostream>
#include <sstream>
#include <string>
#include <string_view>

namespace rg {

class Console {
 public:
  Console(std::istream& in, std::ostream& out) : in_(&in), out_(&out) {}

  // Writes one complete line.
  void line(std::string_view text);
  // Writes an empty line.
  void blank() { line({}); }
  // Writes text without ending the line (used for prompts).
  void put(std::string_view text);
  // Reads one line of input without its line ending; nullopt at end of input.
  std::optional<std::string> read_line();
  // One line of input as an answer to a question; end of input counts as an
  // empty answer.
  std::string answer() { return read_line().value_or(std::string{}); }
  void flush() { out_->flush(); }
  // See first_occurrence() below.
  bool first_occurrence(std::string_view key);
  void report_repeated();

 private:
  std::istream* in_;
  std::ostream* out_;
  std::map<std::string, long, std::less<>> repeats_;
};

// The console of the run: standard input and output unless a test has replaced it.
Console& console();

// A warning that can recur thousands of times in a run (the same numerical trouble
// on every evaluation) is shown once on the run's console: true the first time a key
// is seen, false after, when the occurrence is only counted.
// report_repeated_warnings() then says how often each one occurred.
inline bool first_occurrence(std::string_view key) { return console().first_occurrence(key); }
inline void report_repeated_warnings() { console().report_repeated(); }

// Replaces the console with string streams for its lifetime (for tests).
class ConsoleCapture {
 public:
  explicit ConsoleCapture(std::string input = {});
  ~ConsoleCapture();
  ConsoleCapture(const ConsoleCapture&) = delete;
  ConsoleCapture& operator=(const ConsoleCapture&) = delete;
  std::string output() const { return out_.str(); }

 private:
  std::istringstream in_;
  std::ostringstream out_;
  Console* previous_;
  Console mine_;
};

}  // namespace rg
