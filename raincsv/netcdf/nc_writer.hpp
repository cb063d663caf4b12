#pragma once
// A NetCDF-4 file being written through the netCDF C library: dimensions,
// variables, attributes and hyperslab writes. Every library error becomes an
// NcError that names the file and what was being done.
#include <cstddef>
#include <stdexcept>
#include <string>
#include <vector>

namespace rg::nc {

struct NcError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

enum class Type { Byte, Int, Float, Double, String };

// Id of the global attributes in att().
constexpr int GLOBAL = -1;

class Writer {
 public:
  // Creates the file (replacing one of that name) in define mode.
  explicit Writer(std::string path);
  ~Writer();  // closes a file that was not closed, without reporting
  Writer(const Writer&) = delete;
  Writer& operator=(const Writer&) = delete;

  int dim(const std::string& name, std::size_t length);
  int var(const std::string& name, Type type, const std::vector<int>& dims);
  // Chunked storage with the shuffle filter and deflate at the given level.
  void chunk(int var, const std::vector<std::size_t>& sizes, int deflate_level);
  // Room for the variable's chunks in memory: what the writer keeps between writes.
  void cache(int var, std::size_t bytes);
  void fill(int var, float value);
  void fill(int var, signed char value);
  void fill(int var, int value);

  void att(int var, const std::string& name, const std::string& text);
  void att(int var, const std::string& name, const char* text) { att(var, name, std::string(text)); }
  void att(int var, const std::string& name, double value);
  void att(int var, const std::string& name, float value);
  void att(int var, const std::string& name, const std::vector<signed char>& values);

  void end_definitions();

  void put(int var, const std::vector<std::size_t>& start, const std::vector<std::size_t>& count, const float* v);
  void put(int var, const std::vector<std::size_t>& start, const std::vector<std::size_t>& count, const signed char* v);
  void put(int var, const std::vector<std::size_t>& start, const std::vector<std::size_t>& count, const int* v);
  // Whole one-dimensional variables.
  void put(int var, const std::vector<int>& values);
  void put(int var, const std::vector<double>& values);
  void put(int var, const std::vector<std::string>& values);

  // Writes everything out and closes the file.
  void close();

 private:
  void check(int status, const std::string& doing) const;
  std::string path_;
  int id_ = -1;
};

}  // namespace rg::nc
