#pragma once
// A set of output files that appear together or not at all: each is written under a
// temporary name in its directory and renamed only when every one is complete.
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "text_files.hpp"

namespace rg {

class OutputSet {
 public:
  explicit OutputSet(std::filesystem::path dir);
  ~OutputSet();  // removes the temporary files of a set that was not committed
  OutputSet(const OutputSet&) = delete;
  OutputSet& operator=(const OutputSet&) = delete;

  // Opens the temporary file of the named output for writing.
  TextOut& open(const std::string& name);
  // Closes every file, checks that everything was written and renames them to
  // their final names; a failure ends the run.
  void commit();

 private:
  struct Item {
    std::string name;
    std::filesystem::path temp;
    TextOut out;
  };
  std::filesystem::path dir_;
  std::vector<std::unique_ptr<Item>> items_;
  bool committed_ = false;
};

}  // namespace rg
