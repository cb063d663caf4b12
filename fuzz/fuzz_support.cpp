#include "fuzz_support.hpp"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string_view>
#include <vector>

#include "channels.hpp"
#include "console.hpp"
#include "run_exit.hpp"

namespace rgfuzz {

namespace {

char work_directory[] = "/tmp/rainglm_fuzz_XXXXXX";

// One private directory per process, made the working directory on first use and
// removed when the fuzzer exits.
void enter_work_directory() {
  static bool done = false;
  if (done) return;
  if (!::mkdtemp(work_directory) || ::chdir(work_directory) != 0) std::abort();
  std::atexit([] {
    std::error_code ec;
    std::filesystem::remove_all(work_directory, ec);
  });
  done = true;
}

}  // namespace

// The fuzzer reads and writes its corpus directories, dictionary and crash files by
// the paths on its command line, but the readers run in a private working directory
// (entered on the first input, before the corpus is read). Paths relative to the
// directory the fuzzer was started in are therefore made absolute first, and crash
// files go to that directory unless a prefix is given.
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  namespace fs = std::filesystem;
  static std::vector<std::string> args;
  static std::vector<char*> pointers;
  const fs::path start = fs::current_path();
  auto absolute = [&](std::string_view path) {
    return path.empty() || path[0] == '/' ? std::string(path) : (start / path).string();
  };
  static constexpr std::string_view path_flags[] = {"-artifact_prefix=", "-exact_artifact_path=", "-dict=",
                                                    "-merge_control_file=", "-features_dir=", "-stop_file="};
  bool prefix_given = false;
  for (int i = 0; i < *argc; ++i) {
    std::string arg = (*argv)[i];
    if (arg.empty()) {
    } else if (arg[0] != '-') {
      // A corpus directory or input file, or the program itself when run by a path.
      if (i > 0 || arg.find('/') != std::string::npos) arg = absolute(arg);
    } else {
      for (std::string_view flag : path_flags)
        if (arg.rfind(flag, 0) == 0) {
          arg = std::string(flag) + absolute(std::string_view(arg).substr(flag.size()));
          prefix_given = prefix_given || flag == "-artifact_prefix=" || flag == "-exact_artifact_path=";
        }
    }
    args.push_back(arg);
  }
  if (!prefix_given) args.push_back("-artifact_prefix=" + start.string() + "/");
  for (auto& a : args) pointers.push_back(a.data());
  pointers.push_back(nullptr);
  *argc = static_cast<int>(args.size());
  *argv = pointers.data();
  return 0;
}

void run_reader(const std::uint8_t* data, std::size_t size, const std::string& file, const std::function<void()>& read) {
  enter_work_directory();
  if (std::FILE* f = std::fopen(file.c_str(), "wb")) {
    if (size > 0) std::fwrite(data, 1, size, f);
    std::fclose(f);
  }
  {
    rg::ConsoleCapture console;
    try {
      read();
    } catch (const rg::RunExit&) {
      // The reader refused the file: a normal outcome.
    }
  }
  rg::channels().close_all(false);
  std::remove(file.c_str());
}

const rg::SiteTable& three_sites() {
  static const rg::SiteTable* table = [] {
    auto* t = new rg::SiteTable;
    t->nsites = 3;
    t->nattr = 2;
    const char* codes[] = {"AAAA", "BBBB", "CCCC"};
    for (int s = 1; s <= 3; ++s) {
      t->sitcod(s) = codes[s - 1];
      t->sitnam(s) = std::string(70, ' ');
      t->region(s) = 1;
      t->sitinf(s, 1, 1) = 10.0 * s;
      t->sitinf(s, 2, 1) = 5.0 * s * s;
    }
    t->attnam(1) = "X";
    t->attnam(2) = "Y";
    return t;
  }();
  return *table;
}

}  // namespace rgfuzz
