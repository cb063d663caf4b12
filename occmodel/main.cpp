// The occmodel program is not built yet: it says so and fails rather than pretend to run.
#include "console.hpp"
#include "run_exit.hpp"

int main() {
  return rg::run_program([] {
    rg::console().line(" occmodel: not yet available in this version.");
    rg::end_run(1);
  });
}
