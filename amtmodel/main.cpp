#include "amtmodel.hpp"
#include "run_exit.hpp"

int main() { return rg::run_program(rg::amtmodel_run); }
