#include "correl.hpp"

#include <array>
#include <cmath>
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

namespace rg {

namespace {

constexpr double MISSING_VALUE = -1.0e12;  // a site without a value on the current day
constexpr double PRESENT = -9.0e11;        // values above this are present
constexpr double VARMIN = 1.0e-12;         // variances at or below this give correlation 0

[[noreturn]] void invalid_code(const char* what) {
  Console& con = console();
  con.blank();
  con.line(blanks(5) + "****ERROR**** In routine EMPCOR, an invalid value of " + what);
  con.line(blanks(5) + "was found. This is a programming error - please inform DEV.");
  end_run(1);
}

// What the cache file holds: the statistic of one store, for one residual type or,
// where the model has two that pass over the store together, for both.
struct CacheKey {
  const RecordStore* store = nullptr;
  int chfit = 0, nsites = 0, model = 0, deptyp = 0;
  std::int64_t nrec = 0;
  bool operator==(const CacheKey&) const = default;
};

struct Cache {
  int channel = 0;  // 0: no cache file
  const SequentialStore* file = nullptr;
  CacheKey key;
  int restyp[2] = {-1, -1};  // the residual types held, in the order of the file
};

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

// Pairwise sums over common days, accumulated day by day, of K residuals at once
// (they share the days and the count). For a pair i <= j the sums of v_i v_j, the
// count, and the sums of v_i, v_i^2, v_j and v_j^2 over the pair's common days lie
// together, in a row of i's pairs, so that a day's update walks through memory
// instead of visiting four tables.
template <int K>
class PairSums {
 public:
  explicit PairSums(int nsites) : n_(nsites), pair_(size()), day_(static_cast<std::size_t>(n_)) {
    present_.reserve(static_cast<std::size_t>(n_));
    std::fill(day_.begin(), day_.end(), missing());
  }

  void set(int site, const std::array<double, K>& v) { day_[static_cast<std::size_t>(site - 1)] = v; }

  // Adds the buffered day and marks every site missing again.
  void add_day() {
    present_.clear();
    for (int i = 0; i < n_; ++i)
      if (day_[static_cast<std::size_t>(i)][0] > PRESENT) present_.push_back(i);
    const std::size_t m = present_.size();
    for (std::size_t a = 0; a < m; ++a) {
      const int i = present_[a];
      const auto& vi = day_[static_cast<std::size_t>(i)];
      Pair& d = pair_[at(i, i)];
      d.cnt += 1.0;
      for (int k = 0; k < K; ++k) {
        d.s[k].cross += vi[k] * vi[k];
        d.s[k].sum_i += vi[k];
        d.s[k].sq_i += vi[k] * vi[k];
      }
      for (std::size_t b = a + 1; b < m; ++b) {
        const int j = present_[b];
        const auto& vj = day_[static_cast<std::size_t>(j)];
        Pair& p = pair_[at(i, j)];
        p.cnt += 1.0;
        for (int k = 0; k < K; ++k) {
          p.s[k].cross += vi[k] * vj[k];
          p.s[k].sum_i += vi[k];
          p.s[k].sq_i += vi[k] * vi[k];
          p.s[k].sum_j += vj[k];
          p.s[k].sq_j += vj[k] * vj[k];
        }
      }
    }
    for (int i : present_) day_[static_cast<std::size_t>(i)] = missing();
  }

  // The statistic of residual k for pair i <= j (1-based) and its count.
  void result(int k, int i, int j, int deptyp, double& stat, double& count) const {
    const Pair& pair = pair_[at(i - 1, j - 1)];
    const Sums& p = pair.s[k];
    count = pair.cnt;
    if (count <= 0.0) {
      stat = CORMIS;
      return;
    }
    const double mean_product = p.cross / count;
    if (deptyp == DEP_MEANPRODUCT) {
      stat = mean_product;
      return;
    }
    const double si = p.sum_i, qi = p.sq_i;
    const double sj = i == j ? si : p.sum_j, qj = i == j ? qi : p.sq_j;
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

 private:
  struct Sums {
    double cross = 0.0, sum_i = 0.0, sq_i = 0.0, sum_j = 0.0, sq_j = 0.0;
  };
  struct Pair {
    double cnt = 0.0;
    Sums s[K];
  };
  static std::array<double, K> missing() {
    std::array<double, K> v;
    v.fill(MISSING_VALUE);
    return v;
  }
  // The pairs i <= j, row by row.
  std::size_t size() const { return static_cast<std::size_t>(n_) * static_cast<std::size_t>(n_ + 1) / 2; }
  std::size_t at(int i, int j) const {
    const auto a = static_cast<std::size_t>(i), b = static_cast<std::size_t>(j), n = static_cast<std::size_t>(n_);
    return a * n - a * (a - 1) / 2 + (b - a);
  }

  int n_;
  std::vector<Pair> pair_;
  std::vector<std::array<double, K>> day_;
  std::vector<int> present_;
};

// One pass over the store for the residual types restyp[0..K-1]: every pair's
// statistics go to the cache file (count, then one statistic per type), those of
// restyp[0] also to stat and count.
template <int K>
bool pass(RecordStore& store, int nsites, std::int64_t nrec, int model, const int* restyp, int deptyp, Matrix& stat,
          Matrix& count, SequentialStore& file) {
  PairSums<K> sums(nsites);
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
    std::array<double, K> v;
    bool finite = true;
    for (int k = 0; k < K; ++k) {
      v[static_cast<std::size_t>(k)] = residual(model, restyp[k], r.y, r.mu);
      finite = finite && std::isfinite(v[static_cast<std::size_t>(k)]);
    }
    if (finite) sums.set(r.site, v);
  }
  if (date != -1) sums.add_day();

  bool cached = true;
  for (int i = 1; i <= nsites; ++i)
    for (int j = i; j <= nsites; ++j) {
      double rec[K + 1];
      for (int k = 0; k < K; ++k) sums.result(k, i, j, deptyp, rec[k + 1], rec[0]);
      sums.result(0, i, j, deptyp, stat(i, j), count(i, j));
      stat(j, i) = stat(i, j);
      count(j, i) = count(i, j);
      if (cached) cached = file.write(rec, sizeof rec);
    }
  return cached;
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
  const CacheKey key{&store, chfit, nsites, model, deptyp, nrec};
  Cache& c = cache();
  if (SequentialStore* file = cache_file(); file && c.key == key && (c.restyp[0] == restyp || c.restyp[1] == restyp)) {
    const int k = c.restyp[0] == restyp ? 1 : 2, values = c.restyp[1] < 0 ? 2 : 3;
    file->rewind();
    double rec[3];
    for (int i = 1; i <= nsites; ++i)
      for (int j = i; j <= nsites; ++j) {
        if (!file->read(rec, sizeof(double) * static_cast<std::size_t>(values))) prgerr("EMPCOR", "fit_both", 3);
        count(i, j) = count(j, i) = rec[0];
        stat(i, j) = stat(j, i) = rec[k];
      }
    return;
  }

  if (c.channel != 0 && cache_file()) ch.close(c.channel);
  int chcache = 85;
  scropn("SEQUENTIAL", "UNFORMATTED", 0, chcache);
  SequentialStore& file = ch.sequential(chcache);
  c = Cache{chcache, &file, key};

  // The amount model asks for both its residuals' correlations (the dependence
  // estimate and the residual analysis): one pass forms both.
  c.restyp[0] = restyp;
  if (model == RSP_AMOUNT && (restyp == RES_PEARSON || restyp == RES_ANSCOMBE))
    c.restyp[1] = restyp == RES_PEARSON ? RES_ANSCOMBE : RES_PEARSON;
  const bool cached = c.restyp[1] < 0 ? pass<1>(store, nsites, nrec, model, c.restyp, deptyp, stat, count, file)
                                      : pass<2>(store, nsites, nrec, model, c.restyp, deptyp, stat, count, file);
  if (!cached) {
    // Without a cache the next request simply recomputes.
    ch.close(chcache);
    c = Cache{};
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
