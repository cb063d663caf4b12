#include <gtest/gtest.h>

#include "channels.hpp"
#include "files.hpp"
#include "fixed_format.hpp"
#include "test_support.hpp"

using namespace rg;
using rgtest::capture;

namespace {
const char* kOverwrite =
    "\n     ****WARNING**** Output file out.txt      already exists.\n"
    "     Overwrite it (Y/N, default N)?\n";
}

TEST(Filchk, MissingInputIsReportedWithTheFileName) {
  rgtest::TempDir dir;
  auto r = capture([] { filchk("gaugvals.dat", 30, STFLAG_INPUT); });
  EXPECT_TRUE(r.ended);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output, "\n****ERROR**** Input file gaugvals.dat does not exist\n");
  EXPECT_FALSE(channels().connected(30));
}

TEST(Filchk, InputThatIsNoReadableFileSaysWhy) {
  rgtest::TempDir dir;
  std::filesystem::create_directory("gaugvals.dat");
  std::filesystem::create_symlink("loop.dat", "loop.dat");
  struct Case {
    const char* name;
    const char* why;
  } cases[] = {{"gaugvals.dat", "is a directory"}, {"loop.dat", "cannot be read"}};
  for (const auto& c : cases) {
    auto r = capture([&] { filchk(c.name, 30, STFLAG_INPUT); });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.output, "\n****ERROR**** Input file " + fmt_a(c.name, 12) + " " + c.why + "\n");
  }
}

TEST(Filchk, AnOutputTakesItsNameOnlyWhenTheRunEnds) {
  rgtest::TempDir dir;
  dir.write("out.txt", "old contents\n");
  auto r = capture([] { filchk("out.txt", 60, STFLAG_OUTPUT); }, "y\n");
  channels().output(60).line("new");
  // The question flushes what was written so far to the temporary file.
  r = capture([] { ask_default_yes("Go on?"); });
  std::string temp;
  for (const auto& e : std::filesystem::directory_iterator("."))
    if (e.path().filename().string().rfind(".out.txt.", 0) == 0) temp = e.path().filename().string();
  ASSERT_FALSE(temp.empty());
  EXPECT_EQ(dir.read(temp), "new\n");
  EXPECT_EQ(dir.read("out.txt"), "old contents\n");
  // Closed before the end of the run, it waits for the run's other outputs.
  channels().close(60);
  EXPECT_EQ(dir.read("out.txt"), "old contents\n");
  channels().close_all();
  EXPECT_EQ(dir.read("out.txt"), "new\n");
  EXPECT_FALSE(std::filesystem::exists(temp));
}

TEST(Filchk, OverwriteQuestionLooksAtTheFirstCharacterOnly) {
  rgtest::TempDir dir;
  for (const char* yes : {"Y\n", "y\n", "yes\n"}) {
    dir.write("out.txt", "old contents\n");
    auto r = capture([] { filchk("out.txt", 60, STFLAG_OUTPUT); }, yes);
    EXPECT_FALSE(r.ended) << yes;
    EXPECT_EQ(r.output, kOverwrite);
    channels().output(60).line("new");
    channels().close_all();
    EXPECT_EQ(dir.read("out.txt"), "new\n");
  }
  for (const char* no : {"n\n", "x\n", "\n", " y\n", ""}) {
    dir.write("out.txt", "old contents\n");
    auto r = capture([] { filchk("out.txt", 60, STFLAG_OUTPUT); }, no);
    EXPECT_TRUE(r.ended) << no;
    EXPECT_EQ(r.status, 0);  // the user chose to stop
    EXPECT_EQ(r.output, kOverwrite);
    EXPECT_EQ(dir.read("out.txt"), "old contents\n");  // left untouched
    EXPECT_FALSE(channels().connected(60));
  }
}

TEST(Filchk, NewOutputFileIsCreatedWithoutQuestion) {
  rgtest::TempDir dir;
  auto r = capture([] { filchk("fresh.res", 60, STFLAG_OUTPUT); });
  EXPECT_FALSE(r.ended);
  EXPECT_EQ(r.output, "");
  EXPECT_TRUE(channels().connected(60));
}

TEST(Filchk, UnwritableOutputIsAnErrorNotASilentSuccess) {
  rgtest::TempDir dir;
  std::filesystem::create_directory(dir.path() / "res.dat");
  auto r = capture([] { filchk("res.dat", 60, STFLAG_OUTPUT); }, "y\n");
  EXPECT_TRUE(r.ended);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("****ERROR**** Output file res.dat      cannot be opened for writing."), std::string::npos);
}

TEST(Filchk, InvalidModeNamesTheFile) {
  auto r = capture([] { filchk("model.def", 42, 7); });
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output,
            "\n     ****ERROR****  7 is an invalid value for STFLAG in routine\n"
            "     FILCHK. Contact DEV (error occurred while trying to\n"
            "     open file model.def   \n");
}

TEST(Readerr, MessagesPlaceLineAndFileFields) {
  auto r = capture([] { readerr("siteinfo.def", 41, 2); });
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output,
            "\n****ERROR**** Input error while reading line  41 of file siteinfo.def.\n"
            "This *may* (but no promises!) be because you have at least one empty\n"
            "line at the end of the file. If this is the case, delete the \n"
            "offending line(s) and try again.\n");
  // Code 4 prints the file before the count; a line number too wide for its field
  // widens it, so the line can be found.
  EXPECT_EQ(capture([] { readerr("gammamdl.def", 47, 4); }).output,
            "\n****ERROR**** There is a problem with input file gammamdl.def - my guess is\n"
            "the number of header rows is wrong. There should be 47 - see the examples\n"
            "in the program distribution for a correct specification.\n");
  EXPECT_EQ(capture([] { readerr("gaugvals.dat", 100, 3); }).output,
            "\n****ERROR**** Line 100 of file gaugvals.dat is out of order\n");
  EXPECT_EQ(capture([] { readerr("cor_gamm.dat", 12345, 2); }).output.substr(0, 64),
            "\n****ERROR**** Input error while reading line 12345 of file cor_");
  EXPECT_EQ(capture([] { readerr("x", 19810101, 60); }).output,
            "\n****ERROR**** Missing external predictor data (current date is 19810101)\n");
  EXPECT_EQ(capture([] { readerr("x", 9, 46); }).output,
            "\n****ERROR**** you've asked for spatial correlation model  9 - \nI don't have one of those!\n");
}

TEST(Readerr, CodesWithoutLeadingBlankLineAndFallback) {
  auto r39 = capture([] { readerr("siteinfo.def", 7, 39); });
  EXPECT_EQ(r39.output,
            "****ERROR**** Site number   7 has an attribute outside the range\n"
            "you have specified for orthogonal series representation in file siteinfo.def.\n");
  EXPECT_EQ(capture([] { readerr("gammamdl.def", 12, 38); }).output.substr(0, 23), "****ERROR**** You have ");
  auto other = capture([] { readerr("odd.file", 3, 99); });
  EXPECT_EQ(other.status, 1);
  EXPECT_EQ(other.output, "\n****ERROR**** Unidentified input error in file odd.file    \n");
}

TEST(Okcont, StopsOnlyOnN) {
  const std::string q = "\n\nOK to continue (Y/N, default Y)?\n";
  for (const char* go : {"\n", "", "y\n", "Yes\n", "x\n"}) {
    auto r = capture([] { okcont(); }, go);
    EXPECT_FALSE(r.ended) << go;
    EXPECT_EQ(r.output, q);
  }
  for (const char* stop : {"n\n", "No\n"}) {
    auto r = capture([] { okcont(); }, stop);
    EXPECT_TRUE(r.ended);
    EXPECT_EQ(r.status, 0);
  }
}

TEST(Scropn, TakesTheFirstFreeChannelAndStoresRecords) {
  int a = 85, b = 85, c = 85;
  scropn("DIRECT    ", "UNFORMATTED", 40, a);
  scropn("DIRECT", "UNFORMATTED", 72, b);
  scropn("SEQUENTIAL", "UNFORMATTED", 0, c);
  EXPECT_EQ(a, 85);
  EXPECT_EQ(b, 86);
  EXPECT_EQ(c, 87);
  EXPECT_EQ(channels().store(86).record_length(), 72u);
  double x = 3.5;
  EXPECT_TRUE(channels().sequential(87).write(&x, sizeof x));
  channels().close_all();
}

TEST(Prgerr, ThreeKinds) {
  auto k1 = capture([] { prgerr(" COREST ", "amtmodel", 1); });
  EXPECT_EQ(k1.status, 1);
  EXPECT_EQ(k1.output,
            "\n*****ERROR***** In routine  COREST  (source file amtmodel    ),\n"
            "some internal array dimensions are incompatible with the routine's\n"
            "arguments. Check the PARAMETER statements in this routine, and recompile.\n");
  EXPECT_NE(capture([] { prgerr(" SNDWCH", "fit_both", 2); }).output.find("insufficient internal storage"),
            std::string::npos);
  EXPECT_EQ(capture([] { prgerr(" IWLS", "fit_both", 9); }).output,
            "\n*****ERROR***** Unidentified programming error found in routine  IWLS   \n"
            "(source file fit_both    )\n");
}

TEST(DaysInMonth, LeapYearRules) {
  EXPECT_EQ(days_in_month(2, 1900), 28);
  EXPECT_EQ(days_in_month(2, 2000), 29);
  EXPECT_EQ(days_in_month(2, 2012), 29);
  EXPECT_EQ(days_in_month(2, 2013), 28);
  EXPECT_EQ(days_in_month(4, 2013), 30);
  EXPECT_EQ(days_in_month(12, 2013), 31);
}
