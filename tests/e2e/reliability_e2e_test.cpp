// The fitting programs under faults of their surroundings: a full disk, an interrupted
// run, a closed standard input, a user who stops early. Whatever happens, an exit
// status of 1 leaves the earlier results as they were, and no temporary file stays.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "test_support.hpp"

using namespace rgtest;
namespace fs = std::filesystem;

namespace {

std::string slurp(const std::string& f) {
  std::ifstream in(f, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::string bin(const std::string& program) { return std::string(RAINGLM_BIN_DIR) + "/" + program; }

// Names in the directory that look like an output's temporary file.
std::vector<std::string> leftovers() {
  std::vector<std::string> out;
  for (const auto& e : fs::directory_iterator("."))
    if (e.path().filename().string().rfind(".", 0) == 0) out.push_back(e.path().filename().string());
  return out;
}

void copy_fit_example(const std::vector<std::string>& files) {
  for (const auto& f : files)
    fs::copy_file(std::string(RAINGLM_REFERENCE_DIR) + "/fit_example/" + f, f, fs::copy_options::overwrite_existing);
}

// A network of `nsites` gauges (codes G001, ...) over `days` days from 1 January 1990
// with the daily values of value(year, month, day, site), and a model definition with
// the given component lines after the constant.
void network(int nsites, int days, const std::function<double(int, int, int, int)>& value, const std::string& model_file,
             const std::string& components) {
  std::string sites = std::string(38, '\n') + "    2\nX\nY\nSites:\n";
  for (int s = 1; s <= nsites; ++s) {
    char line[64];
    std::snprintf(line, sizeof line, "Gauge %d\nG%03d    1%10.3f%10.3f\n", s, s, 1.0 * s, 2.0 * s * s);
    sites += line;
  }
  std::ofstream("siteinfo.def") << sites;
  std::string data;
  static const int len[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  for (int k = 0, y = 1990, m = 1, d = 1; k < days; ++k) {
    for (int s = 1; s <= nsites; ++s) {
      char line[32];
      std::snprintf(line, sizeof line, "%4d%2d%2dG%03d%6.2f\n", y, m, d, s, value(y, m, d, s));
      data += line;
    }
    if (++d > len[m - 1] + (m == 2 && y % 4 == 0 ? 1 : 0)) {
      d = 1;
      if (++m > 12) {
        m = 1;
        ++y;
      }
    }
  }
  std::ofstream("gaugvals.dat") << data;
  std::string def;
  for (int i = 1; i <= 46; ++i) def += "header\n";
  std::ofstream(model_file) << def << "line 47\nTest model\n    0    0.0000    0    0    0\n" << components;
}

// Wet on about 40% of the days, amounts from 1 to 14 mm, from a fixed sequence.
double rainy(int y, int m, int d, int s) {
  unsigned h = static_cast<unsigned>(((y * 13 + m) * 32 + d) * 7 + s) * 2654435761u;
  return (h >> 8) % 10 < 4 ? 1.0 + static_cast<double>((h >> 12) % 1300) / 100.0 : 0.0;
}

// Ten gauges over `days` days, occurrence model with the constant only (m = 0) or
// with five covariates; with a constant latent correlation between the gauges, the
// fit writes cor_logi.dat.
void synthetic_network(int days, bool five_covariates, bool correlated = false) {
  network(10, days, rainy, "logistic.def",
          std::string(five_covariates ? "    1    0.0000    1    0    0\n    3    0.0000    1    0    0\n"
                                        "    3    0.0000    2    0    0\n    3    0.0000    3    0    0\n"
                                        "    3    0.0000    4    0    0\n"
                                      : "") +
              (correlated ? "   10    0.3000    2    1    0\n" : ""));
}

// All four outputs of an occurrence fit exist from an earlier run: the overwrite
// questions take four answers (three when the model writes no correlation file).
const char* const kFitOutputs[] = {"logistic.res", "logistic.de2", "res_logi.dat", "cor_logi.dat"};

void write_earlier_outputs() {
  for (const char* f : kFitOutputs) std::ofstream(f) << "earlier " << f << "\n";
}

void expect_earlier_outputs() {
  for (const char* f : kFitOutputs) EXPECT_EQ(slurp(f), std::string("earlier ") + f + "\n") << f;
  EXPECT_TRUE(leftovers().empty()) << leftovers().front();
}

}  // namespace

// A file-size limit stands in for a full disk (the programs see the same failed
// writes): the results, a scratch store during the data pass, a scratch store during
// the fit. Each ends with status 1, names what failed, and keeps the earlier files.
TEST(FullDisk, EndsWithStatusOneAndKeepsTheEarlierResults) {
  struct Case {
    int days;
    bool covariates;
    std::string message;
    bool correlated = false;
  } cases[] = {
      // 14000 site-days: the stores fit into memory, the residual listing does not fit
      // under the limit; the correlation file written before it must not stay.
      {1400, false, "****ERROR**** Output file res_logi.dat could not be written completely (File too large).", true},
      // 22000 site-days: the fitted-value store (72 bytes a record) spills to disk in
      // the fit, the design store (40 bytes) stays in memory.
      {2200, false, "**** ****ERROR**** while writing to scratch file.    ****"},
      // Five covariates: the design store spills during the data pass.
      {2200, true, "**** ****ERROR**** while writing to scratch file.    ****"},
  };
  for (const auto& c : cases) {
    TempDir dir;
    synthetic_network(c.days, c.covariates, c.correlated);
    write_earlier_outputs();
    auto r = run_script("{ sh -c \"trap '' XFSZ; ulimit -f 256; exec " + bin("occmodel/occmodel") +
                        "\" <<EOF\ny\ny\ny\ny\nEOF\n echo $? > rc.test; } 2>&1 | cat > out.test\n");
    EXPECT_EQ(r.status, 1) << c.days << r.output;
    EXPECT_NE(r.output.find(c.message), std::string::npos) << r.output;
    EXPECT_EQ(r.output.find("programming error"), std::string::npos) << r.output;
    expect_earlier_outputs();
  }
}

// Stopping early in any way keeps the earlier files: N to the continue question, an
// error in the data, a termination signal while the program waits for an answer (at
// the start, or at the residual question after cor_logi.dat has been written).
TEST(EarlierResults, StayWhenTheRunStopsBeforeItsEnd) {
  {
    TempDir dir;
    copy_fit_example({"siteinfo.def", "gaugvals.dat", "logistic.def"});
    write_earlier_outputs();
    auto r = run_binary("occmodel/occmodel", "y\ny\ny\ny\nn\n");
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("OK to continue"), std::string::npos);
    expect_earlier_outputs();
  }
  {
    TempDir dir;
    copy_fit_example({"siteinfo.def", "logistic.def"});
    std::ofstream("gaugvals.dat") << "1981 1 1S001  1.00\n1980 1 1S001  1.00\n";
    write_earlier_outputs();
    auto r = run_binary("occmodel/occmodel", "y\ny\ny\ny\n");
    EXPECT_EQ(r.status, 1) << r.output;
    expect_earlier_outputs();
  }
  const struct {
    std::string answers, question;
  } waits[] = {{"y\\ny\\ny\\ny\\n", "OK to continue"},
               {"y\\ny\\ny\\ny\\n\\n\\n", "Do you want a basic residual analysis"}};
  for (const auto& w : waits) {
    TempDir dir;
    copy_fit_example({"siteinfo.def", "gaugvals.dat", "logistic.def"});
    write_earlier_outputs();
    auto r = run_script("mkfifo in.fifo\n" + bin("occmodel/occmodel") + " < in.fifo > out.test 2>&1 &\npid=$!\n" +
                        "exec 3> in.fifo\nprintf '" + w.answers + "' >&3\ni=0; while [ $i -lt 400 ] && ! grep -q '" +
                        w.question + "' out.test; do sleep 0.05; i=$((i+1)); done\n" +
                        "kill -TERM $pid; wait $pid; echo $? > rc.test\nrm in.fifo\n");
    EXPECT_EQ(r.status, 128 + 15) << r.output;
    EXPECT_NE(r.output.find(w.question), std::string::npos);
    expect_earlier_outputs();
  }
}

// A completed run replaces all three files; the user's N to a closing question still
// completes it (the listing is then left empty).
TEST(EarlierResults, AreReplacedWhenTheRunCompletes) {
  TempDir dir;
  copy_fit_example({"siteinfo.def", "gaugvals.dat", "logistic.def"});
  write_earlier_outputs();
  auto r = run_binary("occmodel/occmodel", "y\ny\ny\ny\n\n\n\nn\n");
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(slurp("cor_logi.dat").substr(0, 12), "Site1  Site2");
  EXPECT_NE(slurp("logistic.res").find("Final parameter estimates:"), std::string::npos);
  EXPECT_NE(slurp("logistic.de2").find("LINE NOT CURRENTLY USED"), std::string::npos);
  EXPECT_EQ(slurp("res_logi.dat"), "");
  EXPECT_TRUE(leftovers().empty());
}

// With standard input closed, the program must not take a data file for its answers:
// every question gets the empty answer, as at the end of input.
TEST(ClosedStandardInput, ReadsAsEndOfInput) {
  TempDir dir;
  copy_fit_example({"siteinfo.def", "gaugvals.dat", "logistic.def"});
  auto r = run_script(bin("occmodel/occmodel") + " 0<&- > out.test 2>&1; echo $? > rc.test\n");
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("Final parameter estimates:"), std::string::npos);
  EXPECT_EQ(slurp("res_logi.dat").substr(0, 10), "SITE YEAR ");
}

// Data and models on which no sound fit exists end with status 1 and a message that
// says why, instead of running for ever or writing NaN; a coefficient the data do not
// identify gives a warning once and finite results.
TEST(HostileData, EndsSoundly) {
  struct Case {
    std::string name, program, model_file, components;
    std::function<double(int, int, int, int)> value;
    int status;
    std::string message;
  } cases[] = {
      {"one wet day: the seasonal terms separate it", "occmodel/occmodel", "logistic.def",
       "    4    0.0000   21    0    0\n    4    0.0000   22    0    0\n",
       [](int, int m, int d, int) { return m == 7 && d == 14 ? 5.0 : 0.0; }, 1,
       "****ERROR**** The estimates run away: at iteration"},
      {"every amount equal", "amtmodel/amtmodel", "gammamdl.def", "    4    0.0000   21    0    0\n    9    1.0000\n",
       [](int y, int m, int d, int s) { return rainy(y, m, d, s) > 0.0 ? 5.0 : 0.0; }, 1,
       "the amounts hardly vary about their fitted means"},
      {"logarithm of a dry yesterday", "amtmodel/amtmodel", "gammamdl.def",
       "    4    0.0000    1    1    0\n    9    1.0000\n", rainy, 1,
       "****ERROR**** Covariate  1 (Ln(Y[t-1])) cannot be computed at site G001 on"},
      {"cycle length 0", "amtmodel/amtmodel", "gammamdl.def",
       "    2    0.0100    3    0    0\n    7    0.0000    1    1    0\n    7 1990.0000    1    2    0\n    9    1.0000\n",
       rainy, 1, "****ERROR**** Covariate  1 (Trend  1 - Cyclical) cannot be computed at site G00"},
      {"a month without rain and its indicator", "occmodel/occmodel", "logistic.def", "    3    0.0000   12    0    0\n",
       [](int y, int m, int d, int s) { return m == 2 ? 0.0 : rainy(y, m, d, s); }, 0,
       "     ****WARNING**** The coefficient of February indicator\n"
       "     is not identified by the data: its standard error is too large to print.\n"},
  };
  for (const auto& c : cases) {
    TempDir dir;
    network(2, 3 * 365, c.value, c.model_file, c.components);
    auto r = run_binary(c.program);
    EXPECT_EQ(r.status, c.status) << c.name << "\n" << r.output.substr(r.output.size() > 3000 ? r.output.size() - 3000 : 0);
    EXPECT_NE(r.output.find(c.message), std::string::npos) << c.name;
    EXPECT_LT(r.output.size(), 2000000u) << c.name;
    EXPECT_EQ(r.output.find("NaN"), std::string::npos) << c.name;
    if (c.status == 1) {
      EXPECT_TRUE(leftovers().empty()) << c.name;
      EXPECT_FALSE(fs::exists(c.model_file.substr(0, c.model_file.size() - 3) + "de2")) << c.name;
    } else {
      // The warning is in the results too, once, and the definition reads back finite.
      const std::string res = slurp(c.model_file.substr(0, c.model_file.size() - 3) + "res");
      EXPECT_NE(res.find(c.message), std::string::npos);
      EXPECT_EQ(res.find(c.message), res.rfind(c.message));
      fs::copy_file("logistic.de2", "logistic.def", fs::copy_options::overwrite_existing);
      auto again = run_binary(c.program, "y\ny\ny\n");
      EXPECT_EQ(again.status, 0) << again.output;
    }
  }
}
