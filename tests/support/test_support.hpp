#pragma once
// Helpers shared by the tests: running a routine with a scripted console, reading the
// independent reference tables, and temporary working directories.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace rgtest {

struct Outcome {
  std::string output;  // everything written to the console
  bool ended = false;  // the routine ended the run
  int status = 0;      // exit status when it did
};

// Runs fn with the given console input; a run that ends is caught and reported.
Outcome capture(const std::function<void()>& fn, const std::string& input = {});

// Rows of a reference CSV (lines starting with '#' and the header skipped).
std::vector<std::vector<std::string>> read_csv(const std::string& path);
std::string reference(const std::string& file);  // full path of a reference table

// A fresh temporary directory, made the current directory for the object's lifetime.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return dir_; }
  void write(const std::string& name, const std::string& text) const;
  std::string read(const std::string& name) const;

 private:
  std::filesystem::path dir_;
  std::filesystem::path previous_;
};

// Runs one of the built programs (by its build-tree path, e.g. "amtmodel/amtmodel")
// in the current directory with the given standard input.
Outcome run_binary(const std::string& program, const std::string& input = {});

// Runs a shell script in the current directory that leaves the program's console in
// out.test and its exit status in rc.test (for runs that need the shell: signals,
// file-size limits); status -1 when the script wrote none.
Outcome run_script(const std::string& script);

// Copies files of the example network into the current directory.
void copy_example(const std::vector<std::string>& files);

// A small fast stream of 64-bit test values (xorshift), the same for a given seed.
class Bits {
 public:
  explicit Bits(std::uint64_t seed) : state_(seed) {}
  std::uint64_t operator()() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 7;
    state_ ^= state_ << 17;
    return state_;
  }

 private:
  std::uint64_t state_;
};

// Splits text into lines (without line endings).
std::vector<std::string> lines(const std::string& text);

}  // namespace rgtest
