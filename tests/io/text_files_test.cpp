#include <gtest/gtest.h>

#include "test_support.hpp"
#include "console.hpp"
#include "text_files.hpp"

#include <string>
#include <vector>

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

TEST(TextIn, LinesAcrossBufferRefillsAndLongerThanTheBuffer) {
  // Line ends of every kind at and around the points where the reader refills its
  // 64 KiB buffer (a CRLF split by a refill is still one line end), a line several
  // times the buffer's size, and a lone CR ending the file; stepping back after a
  // refill reads the same line again. Checked against a plain split of the text.
  rgtest::TempDir dir;
  std::string text;
  std::vector<std::string> lines;
  const char* const ends[] = {"\n", "\r\n", "\r"};
  for (int i = 0; text.size() < 400000; ++i) {
    const std::size_t len = i == 300 ? 200000 : static_cast<std::size_t>((i * 7919) % 997);
    lines.push_back(std::string(len, static_cast<char>('a' + i % 26)) + std::to_string(i));
    text += lines.back() + ends[i % 3];
  }
  for (std::size_t cut = (std::size_t{1} << 16) - 3; cut <= (std::size_t{1} << 16) + 1; ++cut) {
    std::string t = std::string(cut - 1, 'x') + "\r\n" + text + "last\r";
    dir.write("long.txt", t);
    TextIn in;
    ASSERT_TRUE(in.open("long.txt"));
    EXPECT_EQ(*in.next_view(), std::string(cut - 1, 'x'));
    for (std::size_t i = 0; i < lines.size(); ++i) {
      auto v = in.next_view();
      ASSERT_TRUE(v);
      ASSERT_EQ(*v, lines[i]) << "line " << i + 2 << " with the first refill at " << cut;
      if (i % 50 == 0) {
        in.backspace();
        ASSERT_EQ(*in.next(), lines[i]);
      }
    }
    EXPECT_EQ(*in.next(), "last");
    EXPECT_FALSE(in.next_view());
    EXPECT_EQ(in.line_number(), static_cast<long>(lines.size()) + 2);
  }
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
