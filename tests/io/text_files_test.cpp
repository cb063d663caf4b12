#include <gtest/gtest.h>

#include "test_support.hpp"
#include "console.hpp"
#include "text_files.hpp"

using namespace rg;

TEST(TextIn, LineEndingsAndMissingFinalNewline) {
  rgtest::TempDir dir;
  dir.write("a.txt", "one\r\ntwo\n\nlast");
  TextIn in;
  ASSERT_TRUE(in.open("a.txt"));
  EXPECT_EQ(*in.next(), "one");
  EXPECT_EQ(*in.next(), "two");
  EXPECT_EQ(*in.next(), "");
  EXPECT_EQ(*in.next(), "last");
  EXPECT_EQ(in.line_number(), 4);
  EXPECT_FALSE(in.next());
  TextIn none;
  EXPECT_FALSE(none.open("missing.txt"));
}

TEST(TextIn, SteppingBackNearAndFarAndAfterRewind) {
  rgtest::TempDir dir;
  std::string text;
  const int n = 10000;  // more lines than the reader keeps start offsets for
  for (int i = 1; i <= n; ++i) text += "line " + std::to_string(i) + "\n";
  dir.write("big.txt", text);
  TextIn in;
  ASSERT_TRUE(in.open("big.txt"));
  for (int i = 1; i <= n; ++i) in.next();
  in.backspace();
  EXPECT_EQ(*in.next(), "line 10000");
  for (int k = 0; k < 9000; ++k) in.backspace();  // far beyond the kept offsets
  EXPECT_EQ(in.line_number(), 1000);
  EXPECT_EQ(*in.next(), "line 1001");
  in.rewind();
  EXPECT_EQ(*in.next(), "line 1");
  EXPECT_EQ(*in.next(), "line 2");
  in.backspace();
  EXPECT_EQ(*in.next(), "line 2");
  in.backspace();
  in.backspace();
  EXPECT_EQ(*in.next(), "line 1");
}

TEST(Console, ARecurringWarningIsShownOnceAndCounted) {
  auto r = rgtest::capture([] {
    for (int i = 0; i < 1000; ++i)
      if (first_occurrence("trouble")) console().line("trouble");
    first_occurrence("once only");
    report_repeated_warnings();
  });
  EXPECT_EQ(r.output, "trouble\n\n****WARNING**** The warning \"trouble\" occurred 1000 times in all.\n");
}
