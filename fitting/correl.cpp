#include "correl.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "channels.hpp"
#include "console.hpp"
#include "files.hpp"
#include "fixed_format.hpp"
#include "model.hpp"
#include "run_exit.hpp"
#include "spatial.hpp"
#include "stores.hpp"
#include "vector_clones.hpp"

namespace rg {

namespace {

constexpr double VARMIN = 1.0e-12;         // variances at or below this give correlation 0

[[noreturn]] void invalid_code(const char* what) {
  Console& con = console();
  con.blank();
  con.line(blanks(5) + "****ERROR**** In routine EMPCOR, an invalid value of " + what);
  con.line(blanks(5) + "was found. This is a programming error - please inform DEV.");
  end_run(1);
}

// What the cache file holds: the statistic of one store.
struct CacheKey {
  const RecordStore* store = nullptr;
  int chfit = 0, nsites = 0, model = 0, restyp = 0, deptyp = 0;
  std::int64_t nrec = 0;
  bool operator==(const CacheKey&) const = default;
};

struct Cache {
  int channel = 0;  // 0: no cache file
  const SequentialStore* file = nullptr;
  CacheKey key;
  // The statistic of the other residual type that came with it from the same pass
  // (see companion_type), in memory: count and statistic of the pairs i <= j in order.
  CacheKey companion_key;
  std::vector<double> companion;
};

// The amount model's residual analysis asks for the correlations of the Pearson
// residuals after the dependence step asked for those of the Anscombe residuals
// (or the other way round): both come from one pass over the store. Other
// requests have no companion (-1).
int companion_type(int model, int restyp) {
  if (model != RSP_AMOUNT) return -1;
  if (restyp == RES_ANSCOMBE) return RES_PEARSON;
  if (restyp == RES_PEARSON) return RES_ANSCOMBE;
  return -1;
}

Cache& cache() {
  static Cache c;
  return c;
}

// The cache file, if it is still the one empcor opened (a run's files may have been
// closed since).
SequentialStore* cache_file() {
  Cache& c = cache();
  if (c.channel == 0 || !channels().connected(c.channel)) return nullptr;
  try {
    SequentialStore& s = channels().sequential(c.channel);
    return &s == c.file ? &s : nullptr;
  } catch (const std::logic_error&) {
    return nullptr;
  }
}

double residual(int model, int restyp, double y, double mu) {
  switch (restyp) {
    case RES_OBSERVED:
      return y;
    case RES_PEARSON:
      return model == RSP_OCCURRENCE ? (y - mu) / std::sqrt(mu * (1.0 - mu)) : (y - mu) / mu;
    default:
      return std::cbrt(y / mu);
  }
}

// The loops of a block of days in versions for wider vector registers where the
// machine has them; every version adds each pair's terms one day after the other
// (no fused multiply-add, see CMakeLists.txt), so all give the same sums.
#define BLOCK_LOOPS VECTOR_CLONES("default", "arch=x86-64-v3", "arch=x86-64-v4")

// Pairwise sums over common days: for a pair i <= j the count, and for each of up to
// two sets of values the sums of v_i v_j, v_i, v_i^2, v_j and v_j^2 over the pair's
// common days. Days are gathered into blocks of dense rows (value, square and
// presence, 0 where a site has no value) and each block is added as matrix
// products: for site i and eight sites j at a time, the sums are held in vector
// registers over the days of the block on which i has a value. Each pair's sums
// still take its days in order, and a day on which j has no value adds an exact 0,
// so the sums are those of a day by day walk over the pairs present, without its
// scattered memory traffic; a second set of values shares the walk and its count.
class PairSums {
 public:
  PairSums(int nsites, int nsets)
      : n_(nsites),
        sets_(nsets),
        w_((static_cast<std::size_t>(nsites) + LANES - 1) / LANES * LANES),
        acc_((1 + SUMS * static_cast<std::size_t>(nsets)) * w_ * w_, 0.0),
        val_(static_cast<std::size_t>(nsets) * BLOCK * w_, 0.0),
        sq_(static_cast<std::size_t>(nsets) * BLOCK * w_, 0.0),
        on_(BLOCK * w_, 0.0),
        days_(BLOCK * w_),
        ndays_(w_, 0) {}

  // The values of a site on the current day, one per set.
  void set(int site, const double* v) {
    const std::size_t k = row_ * w_ + static_cast<std::size_t>(site - 1);
    if (on_[k] == 0.0) {
      const auto i = static_cast<std::size_t>(site - 1);
      days_[i * BLOCK + ndays_[i]++] = static_cast<std::uint16_t>(row_);
    }
    for (int s = 0; s < sets_; ++s) {
      const std::size_t ks = static_cast<std::size_t>(s) * BLOCK * w_ + k;
      val_[ks] = v[s];
      sq_[ks] = v[s] * v[s];
    }
    on_[k] = 1.0;
  }

  // Ends the current day.
  void add_day() {
    if (++row_ == BLOCK) flush();
  }

  // The statistic of pair i <= j (1-based) for a set of values, and its count;
  // after finish().
  void result(int i, int j, int set, int deptyp, double& stat, double& count) const {
    const std::size_t k = static_cast<std::size_t>(i - 1) * w_ + static_cast<std::size_t>(j - 1);
    auto sum = [&](int which) {
      return acc_[(1 + SUMS * static_cast<std::size_t>(set) + static_cast<std::size_t>(which)) * w_ * w_ + k];
    };
    count = acc_[k];
    if (count <= 0.0) {
      stat = CORMIS;
      return;
    }
    const double mean_product = sum(CROSS) / count;
    if (deptyp == DEP_MEANPRODUCT) {
      stat = mean_product;
      return;
    }
    const double si = sum(SUM_I), qi = sum(SQ_I);
    const double sj = i == j ? si : sum(SUM_J), qj = i == j ? qi : sum(SQ_J);
    const double mi = si / count, mj = sj / count;
    const double cov = mean_product - mi * mj;
    if (deptyp == DEP_COVARIANCE) {
      stat = cov;
      return;
    }
    const double vi = qi / count - mi * mi, vj = qj / count - mj * mj;
    if (i == j) stat = 1.0;
    else if (vi <= VARMIN || vj <= VARMIN) stat = 0.0;
    else stat = cov / std::sqrt(vi * vj);
  }

  // (count, statistic) of every pair i <= j in pair order for a set of values.
  std::vector<double> pairs(int set, int deptyp) const {
    std::vector<double> out;
    for (int i = 1; i <= n_; ++i)
      for (int j = i; j <= n_; ++j) {
        double stat, count;
        result(i, j, set, deptyp, stat, count);
        out.push_back(count);
        out.push_back(stat);
      }
    return out;
  }

  // Adds the days of a partly filled block.
  void finish() {
    if (row_ > 0) flush();
  }

 private:
  static constexpr std::size_t LANES = 8, BLOCK = 128;
  // The sums of a set, after the count.
  enum { CROSS, SUM_I, SQ_I, SUM_J, SQ_J, SUMS };

  // Eight lanes of doubles; GCC and Clang split them into what the machine has.
  typedef double Lanes __attribute__((vector_size(LANES * sizeof(double))));

  template <int S>
  [[gnu::always_inline]] inline void add_block() {
    const std::size_t w = w_, ww = w_ * w_, plane = BLOCK * w_;
    const double* val = val_.data();
    const double* sq = sq_.data();
    const double* on = on_.data();
    double* acc = acc_.data();
    auto load = [](Lanes& v, const double* p) { std::memcpy(&v, p, sizeof v); };
    auto store = [](double* p, const Lanes& v) { std::memcpy(p, &v, sizeof v); };
    for (std::size_t i = 0; i < static_cast<std::size_t>(n_); ++i)
      for (std::size_t j0 = i / LANES * LANES; j0 < w; j0 += LANES) {
        double* out = acc + i * w + j0;
        Lanes cnt, sums[S][SUMS];
        load(cnt, out);
        for (int s = 0; s < S; ++s)
          for (int q = 0; q < SUMS; ++q) load(sums[s][q], out + (1 + SUMS * s + q) * ww);
        const std::uint16_t* days = days_.data() + i * BLOCK;
        for (std::size_t t = 0; t < ndays_[i]; ++t) {
          const std::size_t k = days[t] * w;
          Lanes mj, vj, qj;
          load(mj, on + k + j0);
          cnt += mj;
          for (int s = 0; s < S; ++s) {
            const std::size_t ks = static_cast<std::size_t>(s) * plane + k;
            const double vi = val[ks + i], qi = sq[ks + i];
            load(vj, val + ks + j0);
            load(qj, sq + ks + j0);
            sums[s][CROSS] += vi * vj;
            sums[s][SUM_I] += vi * mj;
            sums[s][SQ_I] += qi * mj;
            sums[s][SUM_J] += vj;
            sums[s][SQ_J] += qj;
          }
        }
        store(out, cnt);
        for (int s = 0; s < S; ++s)
          for (int q = 0; q < SUMS; ++q) store(out + (1 + SUMS * s + q) * ww, sums[s][q]);
      }
  }

  BLOCK_LOOPS void flush() {
    if (sets_ == 2) add_block<2>();
    else add_block<1>();
    const std::size_t rows = row_ * w_;
    std::fill(ndays_.begin(), ndays_.end(), 0);
    for (int s = 0; s < sets_; ++s) {
      const auto from = static_cast<std::ptrdiff_t>(static_cast<std::size_t>(s) * BLOCK * w_);
      std::fill(val_.begin() + from, val_.begin() + from + static_cast<std::ptrdiff_t>(rows), 0.0);
      std::fill(sq_.begin() + from, sq_.begin() + from + static_cast<std::ptrdiff_t>(rows), 0.0);
    }
    std::fill(on_.begin(), on_.begin() + static_cast<std::ptrdiff_t>(rows), 0.0);
    row_ = 0;
  }

  int n_, sets_;
  std::size_t w_;  // sites rounded up to whole vectors
  // The count and SUMS sums per set, each a w x w matrix; pair i <= j at i w + j.
  std::vector<double> acc_;
  std::vector<double> val_, sq_, on_;  // the block's days, BLOCK rows of w sites (per set)
  std::vector<std::uint16_t> days_;    // per site, the rows of the block where it has a value
  std::vector<std::size_t> ndays_;     // and their number
  std::size_t row_ = 0;
};

// Sets stat and count of the pairs i <= j from their (count, statistic) in pair order.
void set_pairs(const std::vector<double>& pairs, int nsites, Matrix& stat, Matrix& count) {
  std::size_t k = 0;
  for (int i = 1; i <= nsites; ++i)
    for (int j = i; j <= nsites; ++j, k += 2) {
      count(i, j) = count(j, i) = pairs[k];
      stat(i, j) = stat(j, i) = pairs[k + 1];
    }
}

}  // namespace

void empcor(int chfit, int nsites, std::int64_t nrec, int model, int restyp, int deptyp, Matrix& stat,
            Matrix& count, int site_capacity) {
  if (site_capacity != MAXSIT || stat.rows() < site_capacity || stat.cols() < site_capacity ||
      count.rows() < site_capacity || count.cols() < site_capacity)
    prgerr("EMPCOR", "fit_both", 1);
  if (nsites < 0 || nsites > site_capacity) prgerr("EMPCOR", "fit_both", 2);
  if (restyp < RES_OBSERVED || restyp > RES_ANSCOMBE) invalid_code("RESTYP");
  if ((restyp == RES_PEARSON && model != RSP_OCCURRENCE && model != RSP_AMOUNT) ||
      (restyp == RES_ANSCOMBE && model != RSP_AMOUNT))
    invalid_code("MODEL ");
  if (deptyp < DEP_COVARIANCE || deptyp > DEP_MEANPRODUCT) prgerr("EMPCOR", "fit_both", 3);

  Channels& ch = channels();
  RecordStore& store = ch.store(chfit);
  const CacheKey key{&store, chfit, nsites, model, restyp, deptyp, nrec};
  Cache& c = cache();
  const std::size_t npairs = static_cast<std::size_t>(nsites) * static_cast<std::size_t>(nsites + 1) / 2;
  if (SequentialStore* file = cache_file(); file && c.key == key) {
    file->rewind();
    std::vector<double> pairs(2 * npairs);
    if (!file->read(pairs.data(), pairs.size() * sizeof(double))) prgerr("EMPCOR", "fit_both", 3);
    set_pairs(pairs, nsites, stat, count);
    return;
  }
  if (!c.companion.empty() && c.companion_key == key && cache_file()) {
    set_pairs(c.companion, nsites, stat, count);
    return;
  }

  if (c.channel != 0 && cache_file()) ch.close(c.channel);
  int chcache = 85;
  scropn("SEQUENTIAL", "UNFORMATTED", 0, chcache);
  SequentialStore& file = ch.sequential(chcache);
  c = Cache{chcache, &file, key, {}, {}};

  const int other = companion_type(model, restyp);
  PairSums sums(nsites, other < 0 ? 1 : 2);
  // The companion is kept only where both residual types are missing on the same
  // records, so that the two share the days and counts of the pass.
  bool same_days = true;
  FittedRecord r;
  long date = -1;
  for (std::int64_t n = 1; n <= nrec; ++n) {
    if (!read_fitted(store, n, r) || r.site < 1 || r.site > nsites) prgerr("EMPCOR", "fit_both", 3);
    const long d = static_cast<long>(r.yy) * 10000 + r.mm * 100 + r.dd;
    if (d != date) {
      if (date != -1) sums.add_day();
      date = d;
    }
    // A residual that cannot be formed (a fitted value at its limit) counts as missing.
    double v[2] = {residual(model, restyp, r.y, r.mu), 0.0};
    if (other >= 0) {
      v[1] = residual(model, other, r.y, r.mu);
      if (std::isfinite(v[1]) != std::isfinite(v[0])) same_days = false;
      if (!std::isfinite(v[1])) v[1] = 0.0;
    }
    if (std::isfinite(v[0])) sums.set(r.site, v);
  }
  if (date != -1) sums.add_day();
  sums.finish();

  const std::vector<double> pairs = sums.pairs(0, deptyp);
  set_pairs(pairs, nsites, stat, count);
  if (!file.write(pairs.data(), pairs.size() * sizeof(double))) {
    // Without a cache the next request simply recomputes.
    ch.close(chcache);
    c = Cache{};
    return;
  }
  if (other >= 0 && same_days) {
    c.companion_key = key;
    c.companion_key.restyp = other;
    c.companion = sums.pairs(1, deptyp);
  }
}

void write_correlations(int chout, const Matrix& stat, const Matrix& count, const SiteTable& sites, int nsites) {
  TextOut& out = channels().output(chout);
  const int nc = ncoord(sites);
  out.line("Site1  Site2  Corr      N   Xsep    Ysep ");
  for (int i = 1; i < nsites; ++i)
    for (int j = i + 1; j <= nsites; ++j) {
      const double n = count(i, j);
      const double r = n > 0.0 && std::isfinite(stat(i, j)) ? stat(i, j) : CORMIS;
      const double dx = nc >= 1 ? sites.sitinf(i, 1, 1) - sites.sitinf(j, 1, 1) : 0.0;
      const double dy = nc >= 2 ? sites.sitinf(i, 2, 1) - sites.sitinf(j, 2, 1) : 0.0;
      out.line(Fields()
                   .a(sites.sitcod(i), 4)
                   .x(4)
                   .a(sites.sitcod(j), 4)
                   .x(4)
                   .f(r, 7, 4)
                   .x(1)
                   .i(static_cast<long long>(n), 5)
                   .x(1)
                   .f(dx, 7, 3)
                   .x(1)
                   .f(dy, 7, 3)
                   .str());
    }
}

}  // namespace rg
