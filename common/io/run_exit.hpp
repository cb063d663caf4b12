#pragma once
// Ending a run. Every fatal error unwinds to the program's main through RunExit,
// so that routines can be exercised by tests without terminating the process.
#include <functional>

namespace rg {

struct RunExit {
  int status;
};

// Ends the run with the given exit status (1 after an error message, 0 when the
// user chose to stop).
[[noreturn]] inline void end_run(int status) { throw RunExit{status}; }

// Runs a program body, flushes the console and every open channel, and turns the
// way the run ended into the process exit status.
int run_program(const std::function<void()>& body);

}  // namespace rg
