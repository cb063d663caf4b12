// The block scripts of the simulation on the example network: blocks run side by
// side through GNU parallel give exactly the files of the same blocks run one after
// the other, and the merge renumbers the realisations 1..N in the order of the
// seeds. Skipped when GNU parallel is not installed.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "test_support.hpp"

using namespace rgtest;
namespace fs = std::filesystem;

namespace {

const std::string kScripts = RAINGLM_SOURCE_DIR "/scripts/";
const std::string kEnv = "DAILYGEN=" RAINGLM_BIN_DIR "/dailygen/dailygen RAINCSV=" RAINGLM_BIN_DIR "/raincsv/raincsv ";

std::string slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Runs a shell command with the programs of the build tree; returns its exit status.
int sh(const std::string& cmd) { return std::system((kEnv + cmd + " > out.txt 2> err.txt").c_str()); }

bool gnu_parallel() { return std::system("parallel --version 2>/dev/null | grep -q 'GNU parallel'") == 0; }

// sim_blocks.sh on the example network, 2005, blocks of 2 realisations.
std::string blocks(const std::string& jobs, const std::string& out, const std::string& seeds = "11 12 13") {
  return "bash " + kScripts + "sim_blocks.sh -j " + jobs + " " RAINGLM_TRENTINO_DIR " " + out + " 200501 200512 2 " +
         seeds;
}

}  // namespace

TEST(SimBlocks, ParallelBlocksGiveTheFilesOfSequentialBlocksAndMergeInSeedOrder) {
  if (!gnu_parallel()) GTEST_SKIP() << "GNU parallel (Debian package parallel) is not installed";
  TempDir dir;
  ASSERT_EQ(sh(blocks("1", "seq")), 0) << slurp("err.txt");
  ASSERT_EQ(sh(blocks("2", "par")), 0) << slurp("err.txt");
  int files = 0;
  for (const auto& e : fs::recursive_directory_iterator("seq")) {
    if (!e.is_regular_file() || e.is_symlink()) continue;
    const fs::path other = "par" / fs::relative(e.path(), "seq");
    ASSERT_TRUE(fs::exists(other)) << other;
    EXPECT_EQ(slurp(e.path()), slurp(other)) << other;
    ++files;
  }
  EXPECT_GE(files, 10);  // blocks.txt and each block's daily.dat, monthly.dat, mdlspec.txt, console
  EXPECT_EQ(slurp("seq/blocks.txt"), "1 11 2\n2 12 2\n3 13 2\n");

  ASSERT_EQ(std::system((kEnv + "bash " + kScripts + "sim_merge.sh seq > seq.csv").c_str()), 0);
  ASSERT_EQ(std::system((kEnv + "bash " + kScripts + "sim_merge.sh par > par.csv").c_str()), 0);
  const std::string merged = slurp("seq.csv");
  EXPECT_EQ(merged, slurp("par.csv"));
  // One header, then 6 realisations x 20 gauges x 365 days, numbered 1..6 in order.
  const auto rows = lines(merged);
  ASSERT_EQ(rows.size(), 1u + 6u * 20u * 365u);
  EXPECT_EQ(rows[0], "realisation,date,code,value_mm,observed");
  for (int r = 1; r <= 6; ++r) EXPECT_EQ(rows[1 + (r - 1) * 7300].substr(0, 13), std::to_string(r) + ",2005-01-01,");
  // Block 2 (seed 12) is realisations 3 and 4: its own export, renumbered.
  ASSERT_EQ(std::system((kEnv + std::string(RAINGLM_BIN_DIR "/raincsv/raincsv export seq/block0002/daily.dat "
                                            "--sites seq/block0002/siteinfo.def > b2.csv")).c_str()), 0);
  const auto own = lines(slurp("b2.csv"));
  ASSERT_EQ(own.size(), 1u + 2u * 7300u);
  for (std::size_t i = 1; i < own.size(); i += 997) {
    const std::string renum = std::to_string(std::stoi(own[i].substr(0, own[i].find(','))) + 2);
    EXPECT_EQ(rows[14600 + i], renum + own[i].substr(own[i].find(','))) << i;
  }
  // Different seeds give different blocks.
  EXPECT_NE(slurp("seq/block0001/daily.dat"), slurp("seq/block0002/daily.dat"));
}

TEST(SimBlocks, RefusesRepeatedSeedsAndSaysWhenGnuParallelIsMissing) {
  TempDir dir;
  EXPECT_NE(sh(blocks("1", "out", "11 12 11")), 0);
  EXPECT_NE(slurp("err.txt").find("seed 11 is given twice"), std::string::npos) << slurp("err.txt");
  // A parallel of another kind on the path is not GNU parallel.
  fs::create_directory("fake");
  {
    std::ofstream f("fake/parallel");
    f << "#!/bin/sh\necho 'parallel from another package'\n";
  }
  fs::permissions("fake/parallel", fs::perms::owner_all);
  EXPECT_NE(sh("PATH=$PWD/fake:$PATH " + blocks("2", "out")), 0);
  EXPECT_NE(slurp("err.txt").find("GNU parallel is not installed (Debian package 'parallel')"), std::string::npos)
      << slurp("err.txt");
  EXPECT_EQ(sh("PATH=$PWD/fake:$PATH " + blocks("1", "out")), 0) << slurp("err.txt");  // needs no parallel
}
