#include "correl.hpp"

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

// Pairwise sums over common days, accumulated day by day. For a pair i <= j the
// sums of v_i v_j, the count, and the sums of v_i, v_i^2, v_j and v_j^2 over the
// pair's common days lie together, in a row of i's pairs, so that a day's update
// walks through memory instead of visiting four tables.
class PairSums {
 public:
  explicit PairSums(int nsites) : n_(nsites), pair_(size()), day_(static_cast<std::size_t>(n_)) {
    present_.reserve(static_cast<std::size_t>(n_));
    clear_day();
  }

  void set(int site, double v) { day_[static_cast<std::size_t>(site - 1)] = v; }

  // Adds the buffered day and marks every site missing again.
  void add_day() {
    present_.clear();
    for (int i = 0; i < n_; ++i)
      if (day_[static_cast<std::size_t>(i)] > PRESENT) present_.push_back(i);
    const std::size_t m = present_.size();
    for (std::size_t a = 0; a < m; ++a) {
      const int i = present_[a];
      const double vi = day_[static_cast<std::size_t>(i)];
      Pair& d = pair_[at(i, i)];
      d.cross += vi * vi;
      d.cnt += 1.0;
      d.sum_i += vi;
      d.sq_i += vi * vi;
      for (std::size_t b = a + 1; b < m; ++b) {
        const int j = present_[b];
        const double vj = day_[static_cast<std::size_t>(j)];
        Pair& p = pair_[at(i, j)];
        p.cross += vi * vj;
        p.cnt += 1.0;
        p.sum_i += vi;
        p.sq_i += vi * vi;
        p.sum_j += vj;
        p.sq_j += vj * vj;
      }
    }
    for (int i : present_) day_[static_cast<std::size_t>(i)] = MISSING_VALUE;
  }

  // The statistic of pair i <= j (1-based) and its count.
  void result(int i, int j, int deptyp, double& stat, double& count) const {
    const Pair& p = pair_[at(i - 1, j - 1)];
    count = p.cnt;
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
  struct Pair {
    double cross = 0.0, cnt = 0.0, sum_i = 0.0, sq_i = 0.0, sum_j = 0.0, sq_j = 0.0;
  };
  // The pairs i <= j, row by row.
  std::size_t size() const { return static_cast<std::size_t>(n_) * static_cast<std::size_t>(n_ + 1) / 2; }
  std::size_t at(int i, int j) const {
    const auto a = static_cast<std::size_t>(i), b = static_cast<std::size_t>(j), n = static_cast<std::size_t>(n_);
    return a * n - a * (a - 1) / 2 + (b - a);
  }
  void clear_day() { std::fill(day_.begin(), day_.end(), MISSING_VALUE); }

  int n_;
  std::vector<Pair> pair_;
  std::vector<double> day_;
  std::vector<int> present_;
};

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
  if (SequentialStore* file = cache_file(); file && c.key == key) {
    file->rewind();
    double pair[2];
    for (int i = 1; i <= nsites; ++i)
      for (int j = i; j <= nsites; ++j) {
        if (!file->read(pair, sizeof pair)) prgerr("EMPCOR", "fit_both", 3);
        count(i, j) = count(j, i) = pair[0];
        stat(i, j) = stat(j, i) = pair[1];
      }
    return;
  }

  if (c.channel != 0 && cache_file()) ch.close(c.channel);
  int chcache = 85;
  scropn("SEQUENTIAL", "UNFORMATTED", 0, chcache);
  SequentialStore& file = ch.sequential(chcache);
  c = Cache{chcache, &file, key};

  PairSums sums(nsites);
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
    const double v = residual(model, restyp, r.y, r.mu);
    if (std::isfinite(v)) sums.set(r.site, v);
  }
  if (date != -1) sums.add_day();

  bool cached = true;
  for (int i = 1; i <= nsites; ++i)
    for (int j = i; j <= nsites; ++j) {
      double s, k;
      sums.result(i, j, deptyp, s, k);
      stat(i, j) = stat(j, i) = s;
      count(i, j) = count(j, i) = k;
      const double pair[2] = {k, s};
      if (cached) cached = file.write(pair, sizeof pair);
    }
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
