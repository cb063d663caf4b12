// The amount-model program run for real in a scratch directory.
#include <gtest/gtest.h>

#include "test_support.hpp"

using namespace rgtest;

namespace {
const std::vector<std::string> kInputs = {"siteinfo.def", "gaugvals.dat", "gammamdl.def"};
const std::string kHeader =
    "\n"
    "                    GENERALIZED LINEAR MODEL FITTING RESULTS\n"
    "                    ========================================\n"
    "\n"
    "          This file contains results of fitting a generalised linear model to\n"
    "     sequences of daily rainfall values. The model assumes gamma distributed\n"
    "     errors with constant coefficient of variation, and a log link function\n"
    "     (i.e. predicted mean rainfall = Exp[linear combination of predictors]).\n"
    "     Note that the model is for strictly positive values only - all others\n"
    "     will be discarded from the input file.\n";
}  // namespace

TEST(AmtmodelRun, ReportsTheSitesUnderTheResultsHeader) {
  TempDir dir;
  copy_example(kInputs);
  // Continue, unlimited iterations, residual analysis, but no residual listing.
  auto r = run_binary("amtmodel/amtmodel", "\n\n\nn\n");
  EXPECT_EQ(r.status, 0) << r.output;
  auto out = lines(r.output);
  ASSERT_GE(out.size(), 3u);
  EXPECT_EQ(out[0], " Opening files ...");
  EXPECT_EQ(out[1], " Reading site information ...");
  EXPECT_EQ(out[2], "          Data from  5 sites will be used in the fitting.");
  std::string res = dir.read("gammamdl.res");
  EXPECT_EQ(res.substr(0, kHeader.size()), kHeader);
  EXPECT_NE(res.find("\n          Data from  5 sites will be used in the fitting.\n"), std::string::npos);
  EXPECT_TRUE(std::filesystem::exists("res_gamm.dat"));
  EXPECT_EQ(dir.read("res_gamm.dat"), "");
  EXPECT_TRUE(std::filesystem::exists("gammamdl.de2"));
}

TEST(AmtmodelRun, MissingDataFileStopsWithStatusOne) {
  TempDir dir;
  copy_example({"siteinfo.def", "gammamdl.def"});
  auto r = run_binary("amtmodel/amtmodel");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output, " Opening files ...\n\n****ERROR**** Input file gaugvals.dat does not exist\n");
  EXPECT_FALSE(std::filesystem::exists("gammamdl.res"));
}

TEST(AmtmodelRun, ExistingResultsFileIsKeptUnlessTheUserSaysYes) {
  TempDir dir;
  copy_example(kInputs);
  dir.write("gammamdl.res", "earlier results\n");
  for (const char* answer : {"", "\n", "n\n"}) {
    auto r = run_binary("amtmodel/amtmodel", answer);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.output,
              " Opening files ...\n\n"
              "     ****WARNING**** Output file gammamdl.res already exists.\n"
              "     Overwrite it (Y/N, default N)?\n");
    EXPECT_EQ(dir.read("gammamdl.res"), "earlier results\n");
  }
  auto yes = run_binary("amtmodel/amtmodel", "y\n");
  EXPECT_EQ(yes.status, 0);
  EXPECT_EQ(dir.read("gammamdl.res").substr(0, kHeader.size()), kHeader);
}

TEST(AmtmodelRun, FaultySiteFileStopsAfterTheHeader) {
  TempDir dir;
  copy_example({"gaugvals.dat", "gammamdl.def"});
  dir.write("siteinfo.def", std::string(38, '\n') + "    1\nX\nSites:\n");
  dir.write("gammamdl.res", "earlier results\n");
  auto r = run_binary("amtmodel/amtmodel", "y\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("****ERROR**** No sites defined in file siteinfo.def"), std::string::npos);
  // After an error the earlier results stay, and no other file is left behind.
  EXPECT_EQ(dir.read("gammamdl.res"), "earlier results\n");
  EXPECT_FALSE(std::filesystem::exists("gammamdl.de2"));
  EXPECT_FALSE(std::filesystem::exists("res_gamm.dat"));
}
