// The pass over the design store split into chunks on threads: the same sums, stores
// and events for any number of threads, and the same values as a plain record-by-
// record recomputation inside the test.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <stdexcept>

#include "channels.hpp"
#include "design_pass.hpp"
#include "files.hpp"
#include "ordered_chunks.hpp"

using namespace rg;

namespace {

constexpr int M = 3;

// Records of 7 sites a day, site 4 missing on every third day; x1 pseudo-uniform,
// x2 the day's seasonal cosine, x3 an indicator. eta of record `huge` is pushed far
// out by x1 = 1e3 (a fitted probability of exactly 0 or 1 under beta).
std::vector<DesignRecord> records(std::int64_t n, int rsptyp, std::int64_t huge = 0) {
  std::vector<DesignRecord> v;
  unsigned long long u = 88172645463325252ULL;
  auto uniform = [&u] {
    u ^= u << 13;
    u ^= u >> 7;
    u ^= u << 17;
    return static_cast<double>(u >> 11) * 0x1.0p-53;
  };
  for (int day = 0; static_cast<std::int64_t>(v.size()) < n; ++day)
    for (int site = 1; site <= 7 && static_cast<std::int64_t>(v.size()) < n; ++site) {
      if (site == 4 && day % 3 == 0) continue;
      DesignRecord r;
      r.site = site;
      r.yy = 1961 + day / 360;
      r.mm = 1 + day / 30 % 12;
      r.dd = 1 + day % 30;
      r.x[1] = static_cast<std::int64_t>(v.size()) + 1 == huge ? 1.0e3 : uniform() - 0.5;
      r.x[2] = std::cos(day * 0.0172);
      r.x[3] = uniform() < 0.4 ? 1.0 : 0.0;
      const double g = uniform();
      r.y = rsptyp == RSP_OCCURRENCE ? (g < 0.35 ? 1.0 : 0.0) : -std::log(1.0 - g) * 3.0 + 0.05 * (g < 0.1);
      v.push_back(r);
    }
  return v;
}

struct Outcome {
  PassResult sums;
  std::vector<double> fitted, scores, y;  // the stores as written
};

Outcome run_pass(const std::vector<DesignRecord>& recs, const PassRequest& req, const Array1<double>& beta,
                 int threads, bool record) {
  const auto n = static_cast<std::int64_t>(recs.size());
  int chdes = 0, chfit = 0, chscore = 0;
  scropn("DIRECT", "UNFORMATTED", design_record_length(M), chdes);
  scropn("DIRECT", "UNFORMATTED", FITTED_RECORD_LENGTH, chfit);
  scropn("SEQUENTIAL", "UNFORMATTED", 0, chscore);
  RecordStore& design = channels().store(chdes);
  DesignIO io(M);
  for (std::int64_t r = 1; r <= n; ++r) io.write(design, r, recs[static_cast<std::size_t>(r - 1)]);
  Outcome o;
  DesignPass pass(design, M, n, threads);
  RecordStore& fitted = channels().store(chfit);
  SequentialStore& scores = channels().sequential(chscore);
  pass.run(req, beta, o.sums, record ? &fitted : nullptr, record ? &scores : nullptr);
  DesignRecord d;
  for (std::int64_t r = 1; r <= n; ++r) {
    EXPECT_TRUE(io.read(design, r, d));
    o.y.push_back(d.y);
    FittedRecord f;
    if (record && read_fitted(fitted, r, f)) o.fitted.insert(o.fitted.end(), {f.y, f.mu, f.eta});
  }
  scores.rewind();
  double s[M + 1];
  while (scores.read(s, sizeof s)) o.scores.insert(o.scores.end(), s, s + M + 1);
  channels().close_all();
  return o;
}

// The plain recomputation: every record in turn, sums in extended precision.
struct Plain {
  long double ll = 0.0L, pearson = 0.0L;
  long double xwz[M + 1] = {}, score[M + 1] = {}, info[M + 1][M + 1] = {};
  std::vector<long double> days;
  std::vector<double> y;
};

Plain plain(std::vector<DesignRecord> recs, int rsptyp, const double* b, double trace, double nuw) {
  Plain p;
  long date = -1;
  for (auto& r : recs) {
    r.x[0] = 1.0;
    double eta = b[0];
    for (int j = 1; j <= M; ++j) eta += b[j] * r.x[static_cast<std::size_t>(j)];
    double mu, w, q;
    if (rsptyp == RSP_OCCURRENCE) {
      mu = 1.0 / (1.0 + std::exp(-eta));
      p.ll += r.y > 0.0 ? std::log(mu) : std::log(1.0 - mu);
      w = mu * (1.0 - mu);
      q = (r.y - mu) / w;
    } else {
      mu = std::exp(eta);
      if (r.y < trace) {
        const double c = trace * mu * nuw / (2.0 * mu + trace * nuw);
        r.y = c > trace ? static_cast<double>(0.99f) * trace : c;
      }
      p.ll += -r.y / mu - eta;
      w = 1.0;
      q = (r.y - mu) / mu;
      p.pearson += q * q;
    }
    p.y.push_back(r.y);
    const long d = r.yy * 10000L + r.mm * 100L + r.dd;
    if (d != date) p.days.insert(p.days.end(), M + 1, 0.0L);
    date = d;
    for (int j = 0; j <= M; ++j) {
      const double xj = r.x[static_cast<std::size_t>(j)];
      p.xwz[j] += w * (eta + q) * xj;
      p.score[j] += w * q * xj;
      p.days[p.days.size() - M - 1 + static_cast<std::size_t>(j)] += w * q * xj;
      for (int l = 0; l <= M; ++l) p.info[j][l] += w * xj * r.x[static_cast<std::size_t>(l)];
    }
  }
  return p;
}

void expect_near(long double want, double got, double scale) {
  EXPECT_NEAR(static_cast<double>(want), got, 1e-11 * scale);
}

}  // namespace

// Occurrence and amounts (with trace values replaced), stores that stay in memory
// and stores of several chunks (megabytes) that go to the disk; record passes write the fitted
// values and one score vector per date, also for dates split between chunks.
TEST(DesignPass, SameResultsOnAnyNumberOfThreadsAndAsRecordByRecord) {
  const double b[M + 1] = {-0.4, 0.8, 0.5, 1.1};
  Array1<double> beta(0, MAXPAR, 0.0);
  for (int j = 0; j <= M; ++j) beta(j) = b[j];
  struct Case {
    int rsptyp;
    std::int64_t n;
    double trace;
  } cases[] = {{RSP_OCCURRENCE, 500, 0.0}, {RSP_OCCURRENCE, 3 * DesignPass::CHUNK + 77, 0.0},
               {RSP_AMOUNT, 500, 0.1}, {RSP_AMOUNT, 3 * DesignPass::CHUNK + 5, 0.1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.n);
    const auto recs = records(c.n, c.rsptyp);
    PassRequest req;
    req.ctx.rsptyp = c.rsptyp;
    req.ctx.np6 = M;
    req.ctx.trace = c.trace;
    req.ctx.nuw = 2.5;  // trace values whose expectation is above the threshold and below it
    req.information = true;
    const Outcome one = run_pass(recs, req, beta, 1, true);
    for (int threads : {2, 3}) {
      const Outcome more = run_pass(recs, req, beta, threads, true);
      EXPECT_EQ(std::memcmp(&one.sums.ll, &more.sums.ll, sizeof(double)), 0);
      EXPECT_EQ(one.sums.xwz, more.sums.xwz);
      EXPECT_EQ(one.sums.score, more.sums.score);
      EXPECT_EQ(one.sums.info, more.sums.info);
      EXPECT_EQ(one.fitted, more.fitted);
      EXPECT_EQ(one.scores, more.scores);
      EXPECT_EQ(one.y, more.y);
    }
    const Plain p = plain(recs, c.rsptyp, b, c.trace, 2.5);
    const double scale = static_cast<double>(c.n);
    expect_near(p.ll, static_cast<double>(one.sums.ll), scale);
    expect_near(p.pearson, static_cast<double>(one.sums.pearson), scale);
    for (int j = 0; j <= M; ++j) {
      expect_near(p.xwz[j], one.sums.xwz[static_cast<std::size_t>(j)], scale);
      expect_near(p.score[j], one.sums.score[static_cast<std::size_t>(j)], scale);
      for (int l = j; l <= M; ++l) expect_near(p.info[j][l], one.sums.info[static_cast<std::size_t>(l * (M + 1) + j)], scale);
    }
    ASSERT_EQ(p.days.size(), one.scores.size());
    EXPECT_EQ(one.sums.ndays * (M + 1), static_cast<std::int64_t>(one.scores.size()));
    for (std::size_t k = 0; k < p.days.size(); ++k) expect_near(p.days[k], one.scores[k], 1.0);
    ASSERT_EQ(one.fitted.size(), 3 * p.y.size());
    for (std::size_t k = 0; k < p.y.size(); ++k) {
      EXPECT_DOUBLE_EQ(p.y[k], one.y[k]);
      EXPECT_DOUBLE_EQ(p.y[k], one.fitted[3 * k]);  // the fitted-value store, record by record
    }
    EXPECT_EQ(one.sums.trace_high_at == 0, c.trace == 0.0);
  }
}

// A fitted probability of exactly 0 or 1 is found at its first record whichever
// thread meets it; the pass of the dependence-adjusted likelihood goes on past it and
// ends at the floor.
TEST(DesignPass, FittedZeroOrOneAtItsFirstRecord) {
  Array1<double> beta(0, MAXPAR, 0.0);
  beta(1) = 1.0;
  const std::int64_t huge = 2 * DesignPass::CHUNK + 11;
  const auto recs = records(3 * DesignPass::CHUNK, RSP_OCCURRENCE, huge);
  PassRequest req;
  req.ctx.rsptyp = RSP_OCCURRENCE;
  req.ctx.np6 = M;
  for (int threads : {1, 2}) {
    EXPECT_EQ(run_pass(recs, req, beta, threads, false).sums.zero_one_at, huge);
    req.stop_at_zero_one = false;
    req.sums = false;
    const Outcome o = run_pass(recs, req, beta, threads, false);
    EXPECT_EQ(o.sums.zero_one_at, huge);
    EXPECT_EQ(static_cast<double>(o.sums.ll), LLFLOOR);
    req.stop_at_zero_one = true;
    req.sums = true;
  }
}

// Folds run in chunk order after their work, once each, on any number of threads;
// an exception ends the pass and reaches the caller.
TEST(OrderedChunks, FoldsInOrderAndPassesOnExceptions) {
  for (int threads : {1, 2, 4}) {
    for (std::int64_t n : {0, 1, 5, 50}) {
      std::vector<int> done(static_cast<std::size_t>(n), 0), slot_of(static_cast<std::size_t>(n), -1);
      std::vector<std::int64_t> folds;
      for_chunks_in_order(
          n, threads, [&](std::int64_t c, int s) { done[static_cast<std::size_t>(c)] += 1, slot_of[static_cast<std::size_t>(c)] = s; },
          [&](std::int64_t c, int s) {
            EXPECT_EQ(done[static_cast<std::size_t>(c)], 1);
            EXPECT_EQ(slot_of[static_cast<std::size_t>(c)], s);
            folds.push_back(c);
          });
      ASSERT_EQ(static_cast<std::int64_t>(folds.size()), n);
      for (std::int64_t c = 0; c < n; ++c) EXPECT_EQ(folds[static_cast<std::size_t>(c)], c);
    }
    std::int64_t last = -1;
    EXPECT_THROW(for_chunks_in_order(
                     40, threads,
                     [](std::int64_t c, int) {
                       if (c == 7) throw std::runtime_error("chunk 7");
                     },
                     [&](std::int64_t c, int) { last = c; }),
                 std::runtime_error);
    EXPECT_LT(last, 7);
  }
}
