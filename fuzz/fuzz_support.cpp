#include "fuzz_support.hpp"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

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
