#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "record_store.hpp"

using namespace rg;

TEST(RecordStore, RecordsReadBackByNumberAcrossBlocks) {
  RecordStore store(56);  // 56 does not divide the 1 MiB blocks
  ASSERT_TRUE(store.is_open());
  const int n = 60000;
  for (int r = 1; r <= n; ++r) {
    double rec[7];
    for (int k = 0; k < 7; ++k) rec[k] = r * 10.0 + k;
    ASSERT_TRUE(store.write(r, rec, sizeof rec));
  }
  EXPECT_EQ(store.count(), n);
  for (int pass = 0; pass < 2; ++pass) {
    for (int r = 1; r <= n; r += (pass ? 997 : 1)) {
      double rec[7];
      ASSERT_TRUE(store.read(r, rec, sizeof rec));
      ASSERT_EQ(rec[0], r * 10.0);
      ASSERT_EQ(rec[6], r * 10.0 + 6);
      // The same bytes where they lie, every record (the blocks hold whole records).
      const unsigned char* at = store.view(r, sizeof rec);
      ASSERT_NE(at, nullptr) << r;
      ASSERT_EQ(std::memcmp(at, rec, sizeof rec), 0) << r;
    }
  }
  double tail[7];
  EXPECT_FALSE(store.read(n + 1, tail, sizeof tail));
  EXPECT_FALSE(store.read(0, tail, sizeof tail));
  EXPECT_EQ(store.view(n + 1, 8), nullptr);
  EXPECT_EQ(store.view(1, 57), nullptr);  // longer than a record
}

TEST(RecordStore, RewritingAndShortRecords) {
  RecordStore store(16);
  int a[4] = {1, 2, 3, 4};
  ASSERT_TRUE(store.write(3, a, sizeof a));
  int b[2] = {9, 8};
  ASSERT_TRUE(store.write(3, b, sizeof b));  // shorter record: the rest is cleared
  int got[4];
  ASSERT_TRUE(store.read(3, got, sizeof got));
  EXPECT_EQ(got[0], 9);
  EXPECT_EQ(got[1], 8);
  EXPECT_EQ(got[2], 0);
  ASSERT_TRUE(store.read(1, got, sizeof got));  // never written, inside the range: zeros
  EXPECT_EQ(got[0], 0);
}

TEST(RecordStore, RecordLongerThanRecordLengthIsRefused) {
  RecordStore store(8);
  double two[2] = {1, 2};
  EXPECT_FALSE(store.write(1, two, sizeof two));
  EXPECT_EQ(store.count(), 0);
}

TEST(SequentialStore, WritesRewindsAndReadsInOrder) {
  SequentialStore s;
  ASSERT_TRUE(s.is_open());
  std::vector<double> v(300000);
  for (std::size_t i = 0; i < v.size(); ++i) v[i] = static_cast<double>(i);
  ASSERT_TRUE(s.write(v.data(), v.size() * sizeof(double)));
  s.rewind();
  std::vector<double> w(v.size());
  ASSERT_TRUE(s.read(w.data(), w.size() * sizeof(double)));
  EXPECT_EQ(v, w);
  double extra;
  EXPECT_FALSE(s.read(&extra, sizeof extra));
  s.rewind();  // rewriting from the start truncates what lay beyond
  double one = 42;
  ASSERT_TRUE(s.write(&one, sizeof one));
  s.rewind();
  ASSERT_TRUE(s.read(&extra, sizeof extra));
  EXPECT_EQ(extra, 42);
  EXPECT_FALSE(s.read(&extra, sizeof extra));
}
