#include "dailygen_drv.hpp"
#include "run_exit.hpp"

int main() { return rg::run_program(rg::dailygen_run); }
