#include "occest.hpp"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstdint>
#include <cmath>
#include <condition_variable>
#include <limits>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "channels.hpp"
#include "console.hpp"
#include "correl.hpp"
#include "dateutil.hpp"
#include "dev_math.hpp"
#include "files.hpp"
#include "fixed_format.hpp"
#include "latent_root.hpp"
#include "ordered_chunks.hpp"
#include "run_exit.hpp"
#include "spatial.hpp"
#include "stores.hpp"
#include "vector_clones.hpp"

namespace rg {

namespace {

void announce() {
  console().blank();
  console().line(blanks(5) + "Iteration complete - now computing spatial dependence structure ...");
}

[[noreturn]] void invalid_structure(const char* routine) {
  Console& con = console();
  con.blank();
  con.line(std::string("****ERROR**** In routine ") + routine + ", an invalid value of variable");
  con.line("SPMOD has been found. This is a programming error - please contact DEV.");
  end_run(1);
}

// A value for a message with its leading digits, without leading blanks.
std::string number(double v) {
  const std::string s = fmt_sig(v, 14, 4);
  return s.substr(std::min(s.find_first_not_of(' '), s.size()));
}

void warn(std::initializer_list<std::string> lines) {
  Console& con = console();
  con.blank();
  for (const std::string& l : lines) con.line(l);
}

// One day of the fitted-value store: the sites with a record, their observed
// occurrence and fitted probability (a site's last record of the day counts).
struct Day {
  std::vector<int> site;
  std::vector<double> y, p;
  void clear() {
    site.clear();
    y.clear();
    p.clear();
  }
};

// Walks the nrec records of the fitted-value store day by day.
class DayReader {
 public:
  DayReader(int chfit, std::int64_t nrec, int nsites, const char* routine)
      : store_(channels().store(chfit)), nrec_(nrec), slot_(static_cast<std::size_t>(nsites) + 1, -1),
        routine_(routine) {}

  // Fills the next day; false after the last one.
  bool next(Day& day) {
    day.clear();
    if (n_ > nrec_) return false;
    long date = -1;
    for (; n_ <= nrec_; ++n_) {
      if (!have_) {
        if (!read_fitted(store_, n_, rec_) || rec_.site < 1 || rec_.site >= static_cast<int>(slot_.size()))
          prgerr(routine_, "occmodel", 3);
        have_ = true;
      }
      const long d = static_cast<long>(rec_.yy) * 10000 + rec_.mm * 100 + rec_.dd;
      if (date != -1 && d != date) break;
      date = d;
      int& k = slot_[static_cast<std::size_t>(rec_.site)];
      if (k < 0) {
        k = static_cast<int>(day.site.size());
        day.site.push_back(rec_.site);
        day.y.push_back(rec_.y);
        day.p.push_back(rec_.mu);
      } else {
        day.y[static_cast<std::size_t>(k)] = rec_.y;
        day.p[static_cast<std::size_t>(k)] = rec_.mu;
      }
      have_ = false;
    }
    for (int s : day.site) slot_[static_cast<std::size_t>(s)] = -1;
    return !day.site.empty();
  }

 private:
  RecordStore& store_;
  std::int64_t nrec_;
  std::int64_t n_ = 1;
  FittedRecord rec_;
  bool have_ = false;
  std::vector<int> slot_;
  const char* routine_;
};

double mean(const std::vector<double>& v) {
  double s = 0.0;
  for (double x : v) s += x;
  return s / static_cast<double>(v.size());
}

// Structure 21: rho solves f(rho) = G - H - D(rho) = 0, by secant steps from the
// given value until a sign change brackets the root, then by false position.
constexpr int SPEST_MAXIT = 200;
constexpr double SPEST_TOL = 1.0e-8;

double weather_state(WeatherDays& days, std::int64_t nrec, int nsites, double g, double h, double l,
                     double start, int nthreads) {
  auto f = [&](double r) { return g - h - spvar(days, nrec, nsites, r, 21, nthreads); };
  // The variance D grows with rho from D(0) = L, so f(0) <= 0 leaves no root above
  // 0: the days vary no more than independent sites would, and rho = 0 is the value
  // of rho >= 0 that comes closest to matching them.
  if (g - h - l <= 0.0) {
    warn({"****WARNING**** The number of wet sites varies no more than for independent",
          "sites: no positive dependence is found, and the increase in logit on a 'wet'",
          "day is set to 0."});
    return 0.0;
  }
  double rho = start < 1.0e-12 ? 1.0 : start;
  double v = 0.0, fv = g - h - l;  // last point with f > 0
  double w = 0.0, fw = 0.0;        // last point with f <= 0
  bool bracket = false;
  for (int it = 1; it <= SPEST_MAXIT; ++it) {
    const double e = f(rho);
    if (std::fabs(e) <= SPEST_TOL) return rho;
    double next = rho;
    if (e > 0.0) {
      if (!bracket) next = rho + e * (rho - v) / (fv - e);
      v = rho;
      fv = e;
    } else {
      bracket = true;
      w = rho;
      fw = e;
    }
    if (bracket) next = (fv * w - fw * v) / (fv - fw);
    // exp(rho) must stay finite for the next evaluation.
    if (!std::isfinite(next) || std::fabs(next) > 700.0) {
      warn({"****WARNING**** The estimate of the increase in logit on a 'wet' day does not",
            "converge; the last value reached, " + number(rho) + ", is kept."});
      return rho;
    }
    rho = next;
  }
  warn({"****WARNING**** Iteration limit reached while estimating the increase in logit",
        "on a 'wet' day; the last value reached, " + number(rho) + ", is kept."});
  return rho;
}

}  // namespace

void spest(int chfit, std::int64_t nrec, const SiteTable& sites, Model& model, int site_capacity, int nthreads) {
  if (site_capacity != MAXSIT) prgerr("SPEST", "occmodel", 1);
  const int spmod = model.spmod;
  // The days as the weather-state parameter needs them, for its many evaluations.
  std::optional<WeatherDays> weather;
  if (spmod == 21) weather.emplace();
  announce();
  if (spmod != 21 && spmod != 22) invalid_structure("SPEST");

  DayReader reader(chfit, nrec, sites.nsites, "SPEST");
  Day day;
  double g = 0.0, h = 0.0, l = 0.0;  // structure 21
  double g2 = 0.0, h2 = 0.0;         // structure 22
  while (reader.next(day)) {
    const double n = static_cast<double>(day.site.size());
    const double pbar = mean(day.p), ybar = mean(day.y);
    if (spmod == 21) {
      double var = 0.0;
      for (double p : day.p) var += p * (1.0 - p);
      g += n * ybar * ybar;
      h += n * pbar * pbar;
      l += var / n;
      weather->add_day(day.p.data(), static_cast<int>(day.p.size()), pbar, var);
    } else if (pbar > 0.0 && pbar < 1.0) {  // a day whose mean is 0 or 1 carries no information
      const double x = n * ybar - n * pbar;
      h2 += n - 1.0;
      g2 += x * x / (n * pbar * (1.0 - pbar)) - 1.0;
    }
  }

  if (spmod == 22) {
    // The shape nu of the Beta-Binomial: its variance ratio 1 + (n - 1)/(nu + 1)
    // averaged over the days. Outside (0, infinity) the moments say no dependence or
    // more than complete dependence; the nearest sound shapes are used.
    constexpr double NEAR_INDEPENDENT = 1.0e4, NEAR_COMPLETE = 1.0e-4;
    if (h2 <= 0.0) {
      warn({"****WARNING**** No day has two or more sites, so the Beta-Binomial shape",
            "cannot be estimated: it keeps the value of the model definition."});
    } else if (g2 <= 0.0) {
      model.rho(1) = NEAR_INDEPENDENT;
      warn({"****WARNING**** The number of wet sites varies no more than for independent",
            "sites: the Beta-Binomial shape is set to " + number(NEAR_INDEPENDENT) + "."});
    } else if (h2 / g2 - 1.0 <= 0.0) {
      model.rho(1) = NEAR_COMPLETE;
      warn({"****WARNING**** The number of wet sites varies more than complete dependence",
            "allows: the Beta-Binomial shape is set to " + number(NEAR_COMPLETE) + "."});
    } else if (h2 / g2 - 1.0 < NEAR_COMPLETE) {
      // A shape this small is complete dependence for any number of sites the
      // suite handles; the floor keeps the simulated wet fractions away from 0/0.
      model.rho(1) = NEAR_COMPLETE;
      warn({"****WARNING**** The gauges are almost completely dependent: the Beta-Binomial",
            "shape estimate " + number(h2 / g2 - 1.0) + " is set to " + number(NEAR_COMPLETE) + "."});
    } else {
      model.rho(1) = std::min(h2 / g2 - 1.0, 1.0e6);
    }
  } else {
    const double nn = static_cast<double>(nrec);
    g /= nn;
    h /= nn;
    l /= nn;
    weather->finish();
    model.rho(1) = weather_state(*weather, nrec, sites.nsites, g, h, l, model.rho(1), nthreads);
  }
}

double spvar(WeatherDays& days, std::int64_t nrec, int nsites, double rho, int spmod, int nthreads) {
  if (spmod != 21) invalid_structure("SPVAR");
  if (nsites > MAXSIT) prgerr("SPVAR", "occmodel", 1);
  double total = 0.0;
  if (!days.sum_terms(rho, nthreads, total)) {
    if (days.failed()) scratch_full();
    prgerr("SPVAR", "occmodel", 3);
  }
  return total / static_cast<double>(nrec);
}

namespace {

constexpr double MAXDAYS = 50000;       // common days a pair may have

enum class PairState { fitted, no_days, incompatible, too_many_days };

struct PairResult {
  double r = CORMIS;
  PairState state = PairState::fitted;
};

// Every site's fitted probability and latent threshold z = -qnorm(p) on every day
// of the store (p = 0 where the site has no record, which adds to the pairs' sums
// what a probability of 0 adds: nothing): what the pairs need of the store, read
// once. Memory: 17 bytes per site and day with the samples. With them, one bit per
// site and day for a record with a finite observation, one for an observation of 1
// and one for a probability inside (0, 1): while every observation is 0 or 1, the
// observed joint wet frequencies and common days of the pairs are counts of these
// bits, and so are always the days that enter the pairs' integrals.
struct LatentThresholds {
  std::int64_t ndays = 0;
  std::vector<std::vector<double>> p, z;
  std::vector<std::vector<std::uint64_t>> present, wet, inner;
  bool binary = true;
  // p and z of every LatentRoot::SAMPLE-th day, read by the first estimate of every
  // pair's root.
  std::vector<std::vector<double>> sample_p, sample_z;

  LatentRoot::Site site(int s) const {
    const auto k = static_cast<std::size_t>(s);
    return {p[k].data(), z[k].data(), sample_p[k].data(), sample_z[k].data()};
  }
};

// The number of days from the first record of the store to the last: room for
// every day, so that the site arrays are not moved while they grow (0 if the dates
// cannot tell).
std::size_t day_span(int chfit, std::int64_t nrec) {
  RecordStore& store = channels().store(chfit);
  FittedRecord first, last;
  if (nrec < 1 || !read_fitted(store, 1, first) || !read_fitted(store, nrec, last)) return 0;
  int j0 = 0, j1 = 0, f0 = 0, f1 = 0;
  dmytoj(first.dd, first.mm, first.yy, j0, f0);
  dmytoj(last.dd, last.mm, last.yy, j1, f1);
  return f0 == 0 && f1 == 0 && j1 >= j0 ? static_cast<std::size_t>(j1 - j0) + 1 : 0;
}

LatentThresholds latent_thresholds(int chfit, std::int64_t nrec, int nsites, int nthreads) {
  LatentThresholds t;
  const auto n = static_cast<std::size_t>(nsites) + 1;
  t.p.resize(n);
  t.z.resize(n);
  t.present.resize(n);
  t.wet.resize(n);
  t.inner.resize(n);
  if (const std::size_t span = day_span(chfit, nrec); span > 0 && span <= static_cast<std::size_t>(nrec))
    for (std::size_t s = 1; s < n; ++s) t.p[s].reserve(span);
  DayReader reader(chfit, nrec, nsites, "CORLAT");
  Day day;
  while (reader.next(day)) {
    for (std::size_t s = 1; s < n; ++s) {
      t.p[s].push_back(0.0);
      if (t.ndays % 64 == 0) {
        t.present[s].push_back(0);
        t.wet[s].push_back(0);
        t.inner[s].push_back(0);
      }
    }
    const std::uint64_t bit = std::uint64_t{1} << (t.ndays % 64);
    for (std::size_t k = 0; k < day.site.size(); ++k) {
      const auto s = static_cast<std::size_t>(day.site[k]);
      const double p = std::clamp(day.p[k], 0.0, 1.0);
      t.p[s].back() = p;
      if (p > 0.0 && p < 1.0) t.inner[s].back() |= bit;
      const double y = day.y[k];
      if (std::isfinite(y)) {
        t.present[s].back() |= bit;
        if (y == 1.0) t.wet[s].back() |= bit;
        else if (y != 0.0) t.binary = false;
      }
    }
    ++t.ndays;
  }
  // The thresholds and the samples, site by site on the threads. A probability at
  // its limit has an infinite threshold; its days enter the estimate through p alone.
  t.sample_p.resize(n);
  t.sample_z.resize(n);
  auto work = [&](std::int64_t chunk, int) {
    const auto s = static_cast<std::size_t>(chunk) + 1;
    const std::vector<double>& p = t.p[s];
    std::vector<double>& z = t.z[s];
    z.assign(p.size(), 0.0);
    for (std::size_t d = 0; d < p.size(); ++d) {
      int ifail = 0;
      if (p[d] > 0.0 && p[d] < 1.0) z[d] = -qnorm(p[d], 0.0, 1.0, ifail);
    }
    for (std::size_t d = 0; d < p.size(); d += LatentRoot::SAMPLE) {
      t.sample_p[s].push_back(p[d]);
      t.sample_z[s].push_back(z[d]);
    }
  };
  for_chunks_in_order(nsites, nthreads, work, [](std::int64_t, int) {});
  return t;
}

// The number of days set in both of two sites' masks.
VECTOR_CLONES("default", "popcnt")
std::int64_t common_bits(const std::vector<std::uint64_t>& a, const std::vector<std::uint64_t>& b) {
  std::int64_t n = 0;
  for (std::size_t w = 0; w < a.size(); ++w) n += std::popcount(a[w] & b[w]);
  return n;
}

// The mean of the products of the observations over the common days of every pair
// i <= j, and the number of those days, as empcor gives them for observations of 0
// and 1 (CORMIS without common days): sums of 0 and 1 are exact in any order.
void joint_frequencies(const LatentThresholds& t, int nsites, Matrix& freq, Matrix& count) {
  for (int i = 1; i <= nsites; ++i)
    for (int j = i; j <= nsites; ++j) {
      const auto a = static_cast<std::size_t>(i), b = static_cast<std::size_t>(j);
      const std::int64_t wet = common_bits(t.wet[a], t.wet[b]);
      const auto n = static_cast<double>(common_bits(t.present[a], t.present[b]));
      count(i, j) = count(j, i) = n;
      freq(i, j) = freq(j, i) = n > 0.0 ? static_cast<double>(wet) / n : CORMIS;
    }
}

// The pairs i < j in pair order, and the order in which they are worked on: tile by
// tile of TILE x TILE sites, so that the days of the sites of a tile are read from
// the cache rather than from memory.
struct PairOrder {
  std::vector<std::pair<int, int>> pairs;
  std::vector<std::size_t> tiled;      // pair indices, tile after tile
  std::vector<std::size_t> tile_start;  // where each tile starts in tiled, and its end

  explicit PairOrder(int nsites) {
    constexpr int TILE = 24;
    for (int i = 1; i < nsites; ++i)
      for (int j = i + 1; j <= nsites; ++j) pairs.push_back({i, j});
    std::vector<std::size_t> first(static_cast<std::size_t>(nsites) + 1, 0);  // index of pair (i, i + 1)
    for (std::size_t i = 2; i < first.size(); ++i)
      first[i] = first[i - 1] + (static_cast<std::size_t>(nsites) + 1 - i);
    for (int bi = 1; bi < nsites; bi += TILE)
      for (int bj = bi; bj <= nsites; bj += TILE) {
        tile_start.push_back(tiled.size());
        for (int i = bi; i < std::min(bi + TILE, nsites); ++i)
          for (int j = std::max(bj, i + 1); j < std::min(bj + TILE, nsites + 1); ++j)
            tiled.push_back(first[static_cast<std::size_t>(i)] + static_cast<std::size_t>(j - i - 1));
      }
    tile_start.push_back(tiled.size());
  }
};

// The number of days on which both sites of every pair have a probability inside
// (0, 1).
void count_inner_days(const LatentThresholds& t, const PairOrder& order, std::vector<LatentRoot::Sums>& sums) {
  for (std::size_t k = 0; k < order.pairs.size(); ++k) {
    const auto [i, j] = order.pairs[k];
    sums[k].inner =
        static_cast<double>(common_bits(t.inner[static_cast<std::size_t>(i)], t.inner[static_cast<std::size_t>(j)]));
  }
}

// The sums over the common days that every pair's root starts from, for all pairs
// (lower only later, for the few pairs that need it): tile by tile, and within a
// tile block by block of days, so that a block of a site's days is read from memory
// once per tile rather than once per pair. The blocks of a pair are added in order,
// so the sums do not depend on the threads.
std::vector<LatentRoot::Sums> pair_sums(const LatentThresholds& t, const PairOrder& order, int nthreads) {
  constexpr std::size_t BLOCK = 512;
  std::vector<LatentRoot::Sums> sums(order.pairs.size());
  const auto ndays = static_cast<std::size_t>(t.ndays);
  auto work = [&](std::int64_t tile, int) {
    const std::size_t from = order.tile_start[static_cast<std::size_t>(tile)];
    const std::size_t to = order.tile_start[static_cast<std::size_t>(tile) + 1];
    for (std::size_t d = 0; d < ndays; d += BLOCK) {
      const std::size_t len = std::min(BLOCK, ndays - d);
      for (std::size_t n = from; n < to; ++n) {
        const std::size_t k = order.tiled[n];
        const auto [i, j] = order.pairs[k];
        LatentRoot::add_sums(t.p[static_cast<std::size_t>(i)].data() + d, t.p[static_cast<std::size_t>(j)].data() + d,
                             len, sums[k]);
      }
    }
  };
  const auto tiles = static_cast<std::int64_t>(order.tile_start.size()) - 1;
  for_chunks_in_order(tiles, nthreads, work, [](std::int64_t, int) {});
  count_inner_days(t, order, sums);
  return sums;
}

// The latent correlation of one pair: the r at which the expected number of joint
// wet days over the pair's common days equals the observed number.
class PairSolver {
 public:
  PairSolver(const LatentThresholds& t, const std::vector<LatentRoot::Sums>& sums) : t_(t), sums_(sums) {}

  // Pair k, (i, j).
  PairResult solve(std::size_t k, int i, int j, double o, double n) {
    PairResult res;
    if (n > MAXDAYS) {
      res.state = PairState::too_many_days;
      return res;
    }
    if (!(n > 0.0)) {
      res.state = PairState::no_days;
      return res;
    }
    const auto ndays = static_cast<std::size_t>(t_.ndays);
    const LatentRoot::Site si = t_.site(i), sj = t_.site(j);
    LatentRoot::Sums sums = sums_[k];
    if (o * n < sums.product) sums.lower = LatentRoot::pair_sums(si.p, sj.p, ndays).lower;
    root_.set_days(si, sj, ndays, sums);
    if (!root_.solve(o * n, res.r)) res.state = PairState::incompatible;
    return res;
  }

 private:
  const LatentThresholds& t_;
  const std::vector<LatentRoot::Sums>& sums_;
  LatentRoot root_;
};

// Solves the pairs on worker threads and hands the results over in pair order.
class PairWork {
 public:
  PairWork(const LatentThresholds& t, const Matrix& o, const Matrix& n, int nsites, int nthreads)
      : t_(t), o_(o), n_(n), order_(nsites), sums_(pair_sums(t, order_, nthreads)),
        results_(order_.pairs.size()), done_(order_.pairs.size(), 0) {
    for (int k = 0; k < nthreads; ++k) workers_.emplace_back([this] { work(); });
  }
  ~PairWork() { stop(); }

  std::size_t size() const { return order_.pairs.size(); }
  std::pair<int, int> pair(std::size_t k) const { return order_.pairs[k]; }

  // The result of pair k, waiting for it if need be. The workers wake the reader
  // only for the pair it waits for, not for every pair they finish.
  PairResult result(std::size_t k) {
    std::unique_lock<std::mutex> lock(mutex_);
    awaited_ = k;
    ready_.wait(lock, [&] { return done_[k] != 0; });
    return results_[k];
  }

  void stop() {
    abort_ = true;
    for (auto& w : workers_)
      if (w.joinable()) w.join();
  }

 private:
  void work() {
    PairSolver solver(t_, sums_);
    for (;;) {
      const std::size_t n = next_++;
      if (n >= order_.tiled.size() || abort_) return;
      const std::size_t k = order_.tiled[n];
      const auto [i, j] = order_.pairs[k];
      PairResult r = solver.solve(k, i, j, o_(i, j), n_(i, j));
      bool awaited;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        results_[k] = r;
        done_[k] = 1;
        awaited = k == awaited_;
      }
      if (awaited) ready_.notify_all();
    }
  }

  const LatentThresholds& t_;
  const Matrix& o_;
  const Matrix& n_;
  const PairOrder order_;
  const std::vector<LatentRoot::Sums> sums_;
  std::vector<PairResult> results_;
  std::vector<char> done_;
  std::atomic<std::size_t> next_{0};
  std::atomic<bool> abort_{false};
  std::mutex mutex_;
  std::size_t awaited_ = 0;  // the pair the reader waits for, under mutex_
  std::condition_variable ready_;
  std::vector<std::thread> workers_;
};

}  // namespace

void corlat(int chfit, std::int64_t nrec, const SiteTable& sites, Model& model, int chcorrel,
            const std::string& model_file, int site_capacity, int nthreads) {
  if (site_capacity != MAXSIT) prgerr("CORLAT", "occmodel", 1);
  Console& con = console();
  con.blank();
  con.line(blanks(5) + "Iteration complete - now computing spatial dependence structure");
  con.line(blanks(5) + "(this could take some time) ...");
  const int nsites = sites.nsites;
  Matrix lat(MAXSIT, MAXSIT), count(MAXSIT, MAXSIT);
  // Observed joint wet frequencies first; lat then receives the latent correlations.
  Matrix freq(MAXSIT, MAXSIT);
  if (nthreads <= 0) nthreads = pass_threads();
  const LatentThresholds thresholds = latent_thresholds(chfit, nrec, nsites, nthreads);
  if (thresholds.binary) joint_frequencies(thresholds, nsites, freq, count);
  else empcor(chfit, nsites, nrec, RSP_OCCURRENCE, RES_OBSERVED, DEP_MEANPRODUCT, freq, count, MAXSIT);
  PairWork work(thresholds, freq, count, nsites, nthreads);
  for (std::size_t k = 0; k < work.size(); ++k) {
    const auto [i, j] = work.pair(k);
    con.line(blanks(10) + "--- Sites " + fmt_a(sites.sitcod(i), 4) + " and " + fmt_a(sites.sitcod(j), 4) + " ---");
    const PairResult r = work.result(k);
    switch (r.state) {
      case PairState::too_many_days:
        work.stop();
        prgerr("CORLAT", "occmodel", 2);
      case PairState::incompatible:
        con.blank();
        con.line("****WARNING**** Observed joint occurrence frequency is incompatible");
        con.line("with modelled marginal probabilities. Setting latent correlation to " + fmt_f(r.r, 4, 1));
        break;
      default:
        break;
    }
    lat(i, j) = lat(j, i) = r.r;
  }
  work.stop();
  for (int i = 1; i <= nsites; ++i) lat(i, i) = 1.0;

  if (model.spmod < 1 || model.spmod > 19) invalid_structure("CORLAT");
  write_correlations(chcorrel, lat, count, sites, nsites);
  channels().close(chcorrel);
  if (model.spmod >= 2) corfit(model.spmod, lat, count, sites, nsites, model.rho, MAXSIT, model_file);
}

}  // namespace rg
