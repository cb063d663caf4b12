// The simulation program under faults of its surroundings: a run that stops before
// its end, in any way, leaves the earlier daily.dat, monthly.dat and mdlspec.txt as
// they were (the three describe one run), and a full disk stops it at once.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "test_support.hpp"

using namespace rgtest;
namespace fs = std::filesystem;

namespace {

const char* const kOutputs[] = {"daily.dat", "monthly.dat", "mdlspec.txt"};

std::string slurp(const std::string& f) {
  std::ifstream in(f, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

int count(const std::string& text, const std::string& part) {
  int n = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

// The example network's simulation inputs, and an earlier set of outputs.
void prepare() {
  for (const char* f : {"gaugvals.dat", "regions.def", "siteinfo.def", "logistic.def", "gammamdl.def"})
    fs::copy_file(std::string(RAINGLM_TRENTINO_DIR) + "/" + f, f);
  for (const char* f : kOutputs) std::ofstream(f) << "earlier " << f << "\n";
}

// Overwrite all three outputs, pass the four listings, then the dialogue: period,
// realisations, option 3, no further subareas, daily output of all, seed.
std::string answers(const std::string& start, const std::string& end, int nreal) {
  return "y\ny\ny\n\n\n\n\n" + start + "\n" + end + "\n" + std::to_string(nreal) + "\n3\n0\n0\n4711\n";
}

std::string dailygen() { return std::string(RAINGLM_BIN_DIR) + "/dailygen/dailygen"; }

}  // namespace

TEST(DailygenStops, LeaveTheEarlierOutputSetWhole) {
  struct Case {
    std::string name;
    std::string data;    // replaces the example's gaugvals.dat when not empty
    std::string script;  // runs dailygen with in.test as its input
    std::string input;
    int status;
    std::string message;
  };
  const std::string plain = dailygen() + " < in.test > out.test 2>&1; echo $? > rc.test\n";
  // The signal comes while the simulation runs, after mdlspec.txt is complete. The
  // program runs in the foreground: a shell starts background commands with SIGINT
  // ignored.
  auto signalled = [](const std::string& sig) {
    return "(i=0; while [ $i -lt 400 ] && ! grep -q 'Current month' out.test 2>/dev/null; do sleep 0.05; "
           "i=$((i+1)); done; kill -" + sig + " $(cat pid.test)) &\n"
           "sh -c 'echo $$ > pid.test; exec " + dailygen() + " < in.test > out.test 2>&1'; echo $? > rc.test\n"
           "wait; rm -f pid.test\n";
  };
  const std::vector<Case> cases = {
      {"N to the continue question after the dialogue", "", plain,
       answers("199401", "199412", 1) + "n\n", 0, "simulation starts before the first available data"},
      {"data out of order in the period", "20050101B857  1.00\n20050103B857  1.00\n20050102B857  1.00\n", plain,
       answers("200501", "200501", 1), 1, "****ERROR**** input file out of order."},
      {"terminated", "", signalled("TERM"), answers("200501", "210012", 20), 128 + 15, "Current month"},
      {"interrupted", "", signalled("INT"), answers("200501", "210012", 20), 128 + 2, "Current month"},
      {"hung up", "", signalled("HUP"), answers("200501", "210012", 20), 128 + 1, "Current month"},
  };
  for (const auto& c : cases) {
    TempDir dir;
    prepare();
    if (!c.data.empty()) std::ofstream("gaugvals.dat") << c.data;
    std::ofstream("in.test") << c.input;
    auto r = run_script(c.script);
    EXPECT_EQ(r.status, c.status) << c.name << "\n" << r.output.substr(0, 3000);
    EXPECT_NE(r.output.find(c.message), std::string::npos) << c.name;
    for (const char* f : kOutputs) EXPECT_TRUE(slurp(f) == std::string("earlier ") + f + "\n") << c.name << ": " << f;
    for (const auto& e : fs::directory_iterator("."))
      EXPECT_NE(e.path().filename().string()[0], '.') << c.name << ": " << e.path();
  }
}

// A file-size limit stands in for a full disk: the run stops at the first failed
// write of daily.dat (within the day), not after simulating the whole period, and
// names the file and the system's reason.
TEST(DailygenStops, AtTheFirstFailedWrite) {
  TempDir dir;
  prepare();
  std::ofstream("in.test") << answers("200501", "210012", 20);
  auto r = run_script("{ sh -c \"trap '' XFSZ; ulimit -f 512; exec " + dailygen() +
                      " < in.test\"; echo $? > rc.test; } > out.test 2>&1\n");
  EXPECT_EQ(r.status, 1) << r.output.substr(r.output.size() > 3000 ? r.output.size() - 3000 : 0);
  EXPECT_EQ(count(r.output, "****ERROR**** Output file daily.dat could not be written completely (File too large)."),
            1);
  // 256 KiB hold about two years of the 20 gauges' daily lines; the whole run is
  // 20 realisations of 96 years.
  EXPECT_LT(count(r.output, "Current month"), 12 * 4) << r.output.substr(r.output.size() - 2000);
  for (const char* f : kOutputs) EXPECT_TRUE(slurp(f) == std::string("earlier ") + f + "\n") << f;
}
