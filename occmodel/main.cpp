#include "occmodel.hpp"
#include "run_exit.hpp"

int main() { return rg::run_program(rg::occmodel_run); }
