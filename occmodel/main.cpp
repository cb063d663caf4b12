#include "fitdrv.hpp"
#include "run_exit.hpp"

int main() {
  return rg::run_program([] { rg::fit_run(rg::occurrence_program()); });
}
