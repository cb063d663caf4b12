#include "test_support.hpp"

#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <cstdlib>

#include "channels.hpp"
#include "console.hpp"
#include "run_exit.hpp"

namespace rgtest {

Outcome capture(const std::function<void()>& fn, const std::string& input) {
  Outcome r;
  rg::ConsoleCapture cap(input);
  try {
    fn();
  } catch (const rg::RunExit& e) {
    r.ended = true;
    r.status = e.status;
  }
  r.output = cap.output();
  return r;
}

std::vector<std::vector<std::string>> read_csv(const std::string& path) {
  std::ifstream in(path);
  if (!in) throw std::runtime_error("cannot open " + path);
  std::vector<std::vector<std::string>> rows;
  std::string line;
  bool header = true;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    if (header) {
      header = false;
      continue;
    }
    std::vector<std::string> row;
    std::stringstream ss(line);
    std::string cell;
    while (std::getline(ss, cell, ',')) row.push_back(cell);
    rows.push_back(row);
  }
  return rows;
}

std::string reference(const std::string& file) { return std::string(RAINGLM_REFERENCE_DIR) + "/" + file; }

TempDir::TempDir() : previous_(std::filesystem::current_path()) {
  std::random_device rd;
  dir_ = std::filesystem::temp_directory_path() / ("rainglm_test_" + std::to_string(rd()) + std::to_string(rd()));
  std::filesystem::create_directories(dir_);
  std::filesystem::current_path(dir_);
}

TempDir::~TempDir() {
  rg::channels().close_all();
  std::filesystem::current_path(previous_);
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);
}

void TempDir::write(const std::string& name, const std::string& text) const {
  std::ofstream out(dir_ / name, std::ios::binary);
  out << text;
}

std::string TempDir::read(const std::string& name) const {
  std::ifstream in(dir_ / name, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

Outcome run_binary(const std::string& program, const std::string& input) {
  {
    std::ofstream in("stdin.txt.test", std::ios::binary);
    in << input;
  }
  std::string cmd = std::string(RAINGLM_BIN_DIR) + "/" + program + " < stdin.txt.test > stdout.txt.test 2>&1";
  int rc = std::system(cmd.c_str());
  Outcome r;
  r.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  r.ended = true;
  std::ifstream out("stdout.txt.test", std::ios::binary);
  std::stringstream ss;
  ss << out.rdbuf();
  r.output = ss.str();
  std::filesystem::remove("stdin.txt.test");
  std::filesystem::remove("stdout.txt.test");
  return r;
}

Outcome run_script(const std::string& script) {
  std::ofstream("script.sh.test") << script;
  std::system("sh script.sh.test");
  Outcome r;
  r.ended = true;
  if (std::ifstream rc("rc.test"); !(rc >> r.status)) r.status = -1;
  std::ifstream out("out.test", std::ios::binary);
  std::stringstream ss;
  ss << out.rdbuf();
  r.output = ss.str();
  for (const char* f : {"script.sh.test", "rc.test", "out.test"}) std::filesystem::remove(f);
  return r;
}

void copy_example(const std::vector<std::string>& files) {
  for (const auto& f : files)
    std::filesystem::copy_file(std::string(RAINGLM_EXAMPLE_DIR) + "/" + f, f,
                               std::filesystem::copy_options::overwrite_existing);
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::stringstream ss(text);
  std::string l;
  while (std::getline(ss, l)) out.push_back(l);
  return out;
}

}  // namespace rgtest
