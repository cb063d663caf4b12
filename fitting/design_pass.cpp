#include "design_pass.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstring>

#include "files.hpp"
#include "ordered_chunks.hpp"
#include "stores.hpp"

namespace rg {

// A chunk's buffers and partial results, reused from chunk to chunk.
struct DesignPass::Slot {
  SharedView view;                 // the chunk's design records in place
  std::vector<unsigned char> in;   // a block of them with trace values replaced
  std::vector<unsigned char> out;  // a run of its fitted-value records (padding stays zero)
  PassResult part;
  std::vector<std::int64_t> run_date;  // runs of records of one date, in order
  std::vector<double> run_score;       // (m+1) score sums per run
  // The current block of records by column: design column j at xs[j * BLOCK], the
  // responses and linear predictors, and the weights w, w z and w q of the step's sums.
  std::vector<double> xs, w, wz, wq, wx, y, eta;
  bool read_error = false, write_error = false;
};

namespace {

void clear_sums(PassResult& r, int n) {
  r.ll = r.pearson = r.logy = 0.0L;
  r.xwz.assign(static_cast<std::size_t>(n), 0.0);
  r.score.assign(static_cast<std::size_t>(n), 0.0);
  r.info.assign(static_cast<std::size_t>(n) * static_cast<std::size_t>(n), 0.0);
  r.zero_one_at = r.trace_high_at = r.trace_negative_at = 0;
  r.ndays = 0;
}

std::int64_t first_of(std::int64_t a, std::int64_t b) { return a == 0 ? b : (b == 0 ? a : std::min(a, b)); }

// Records whose sums are formed together: the sums over a block are dot products of
// columns, which run at full speed where adding each record's outer product to the
// matrix would load and store the whole triangle for every record.
constexpr int BLOCK = 64;
// Fitted records written at a time.
constexpr std::int64_t OUT_RUN = 1024;
static_assert(DesignPass::CHUNK % OUT_RUN == 0 && OUT_RUN % BLOCK == 0);

// A dot product over a block (nb a multiple of 8) in eight interleaved partial sums:
// a fixed order that the compiler keeps in vector registers, four independent
// additions at a time.
[[gnu::always_inline]] inline double dot(const double* a, const double* b, int nb) {
  double s[8] = {};
  for (int i = 0; i < nb; i += 8)
    for (int k = 0; k < 8; ++k) s[k] += a[i + k] * b[i + k];
  return ((s[0] + s[4]) + (s[1] + s[5])) + ((s[2] + s[6]) + (s[3] + s[7]));
}

// The step's sums over a block of nb records (a multiple of 8) given by columns:
// x'wz, x'wq and, with info, the upper triangle of x'Wx.
struct BlockColumns {
  const double *xs, *w, *wz, *wq;
  double* wx;  // room for one weighted column
};
[[gnu::always_inline]] inline void block_sums(const BlockColumns& b, int n, int nb, double* xwz, double* score,
                                              double* info) {
  for (int j = 0; j < n; ++j) {
    xwz[j] += dot(b.wz, b.xs + j * BLOCK, nb);
    score[j] += dot(b.wq, b.xs + j * BLOCK, nb);
  }
  if (!info) return;
  for (int l = 0; l < n; ++l) {
    for (int k = 0; k < nb; ++k) b.wx[k] = b.w[k] * b.xs[l * BLOCK + k];
    double* col = info + static_cast<std::size_t>(l) * static_cast<std::size_t>(n);
    for (int j = 0; j <= l; ++j) col[j] += dot(b.wx, b.xs + j * BLOCK, nb);
  }
}

using BlockSums = void (*)(const BlockColumns&, int, int, double*, double*, double*);

void block_sums_base(const BlockColumns& b, int n, int nb, double* xwz, double* score, double* info) {
  block_sums(b, n, nb, xwz, score, info);
}

// The sums are most of a pass's arithmetic, so vector registers twice as wide as the
// baseline's pay off where the processor has them. Both versions give the same
// values: each partial sum is rounded alike whatever the width, and without fused
// multiply-adds.
#if defined(__x86_64__) && defined(__GNUC__)
__attribute__((target("avx"))) void block_sums_avx(const BlockColumns& b, int n, int nb, double* xwz, double* score,
                                                   double* info) {
  block_sums(b, n, nb, xwz, score, info);
}

BlockSums best_block_sums() { return __builtin_cpu_supports("avx") ? block_sums_avx : block_sums_base; }
#else
BlockSums best_block_sums() { return block_sums_base; }
#endif

}  // namespace

DesignPass::DesignPass(RecordStore& design, int m, std::int64_t nrec, int threads)
    : design_(design), m_(m), nrec_(nrec), threads_(std::max(threads, 1)) {
  slots_ = std::make_unique<Slot[]>(static_cast<std::size_t>(chunk_slots(threads_)));
}

DesignPass::~DesignPass() = default;

void DesignPass::run(const PassRequest& req, const Array1<double>& beta, PassResult& out, RecordStore* fitted,
                     SequentialStore* scores) {
  const int m = m_, n = m + 1;
  const int np6 = req.ctx.np6, np7 = req.np7;
  const bool occurrence = req.ctx.rsptyp == RSP_OCCURRENCE;
  const bool record = fitted != nullptr;
  const std::size_t len = design_.record_length();
  std::array<double, MAXPAR + 1> b{};
  for (int j = 0; j <= m; ++j) b[static_cast<std::size_t>(j)] = beta(j);

  clear_sums(out, n);
  if (!design_.settle(nrec_) || (record && !fitted->settle(nrec_))) scratch_full();
  const std::int64_t nchunks = (nrec_ + CHUNK - 1) / CHUNK;
  static const BlockSums sums_of_block = best_block_sums();
  std::atomic<bool> stopped{false};  // a fitted 0 or 1 has ended the pass

  auto work = [&](std::int64_t c, int s) {
    Slot& slot = slots_[static_cast<std::size_t>(s)];
    PassResult& p = slot.part;
    clear_sums(p, req.sums ? n : 0);
    slot.run_date.clear();
    slot.run_score.clear();
    slot.read_error = slot.write_error = false;
    if (stopped.load(std::memory_order_relaxed)) return;
    const std::int64_t first = c * CHUNK + 1;
    const std::int64_t count = std::min(CHUNK, nrec_ - c * CHUNK);
    if (!design_.view_run(first, count, slot.view)) {
      slot.read_error = true;
      return;
    }
    const unsigned char* base = slot.view.data();
    // Trace values replaced in a block go back to the store in a copy of the block;
    // fitted values go out in runs of OUT_RUN records.
    slot.in.resize(BLOCK * len);
    if (record) slot.out.resize(OUT_RUN * FITTED_RECORD_LENGTH, 0);
    slot.xs.resize(static_cast<std::size_t>(n) * BLOCK);
    for (auto* v : {&slot.w, &slot.wz, &slot.wq, &slot.wx, &slot.y, &slot.eta}) v->resize(BLOCK);
    double* xs = slot.xs.data();
    double* ys = slot.y.data();
    double* etas = slot.eta.data();
    std::fill(xs, xs + BLOCK, 1.0);  // the constant's column
    // Adds the first nb records of the block to the sums, padded with zero weights to
    // a multiple of 8.
    auto add_block = [&](int nb) {
      for (; nb % 8 != 0; ++nb) {
        slot.w[static_cast<std::size_t>(nb)] = slot.wz[static_cast<std::size_t>(nb)] =
            slot.wq[static_cast<std::size_t>(nb)] = 0.0;
        for (int j = 0; j < n; ++j) xs[j * BLOCK + nb] = 0.0;
      }
      const BlockColumns cols{xs, slot.w.data(), slot.wz.data(), slot.wq.data(), slot.wx.data()};
      sums_of_block(cols, n, nb, p.xwz.data(), p.score.data(), req.information ? p.info.data() : nullptr);
    };
    bool floor = false;  // a fitted 0 or 1 puts the log-likelihood at the floor
    for (std::int64_t start = 0; start < count; start += BLOCK) {
      const int nb = static_cast<int>(std::min<std::int64_t>(BLOCK, count - start));
      const unsigned char* block = base + static_cast<std::size_t>(start) * len;
      // The block by columns; the constant's column keeps its ones (padding is only
      // ever added at the last block).
      for (int j = 0; j <= m; ++j) {
        double* col = j == 0 ? ys : xs + j * BLOCK;  // y lies just before x1
        const unsigned char* at = block + 16 + 8 * static_cast<std::size_t>(j);
        for (int k = 0; k < nb; ++k) std::memcpy(col + k, at + static_cast<std::size_t>(k) * len, 8);
      }
      // Linear predictors: each record's sum in the order of the coefficients, all the
      // block's records at once.
      std::fill(etas, etas + nb, b[0]);
      for (int j = 1; j <= np6; ++j) {
        const double bj = b[static_cast<std::size_t>(j)];
        const double* xj = xs + j * BLOCK;
        for (int k = 0; k < nb; ++k) etas[k] += bj * xj[k];
      }
      // The block's log-likelihood terms and Pearson and log sums, added to the
      // extended-precision totals once per block.
      double ll = 0.0, pearson = 0.0, logy = 0.0;
      bool modified = false;
      for (int k = 0; k < nb; ++k) {
        const double eta = etas[k];
        double y = ys[k], mu = 0.0, term = 0.0;
        const unsigned events = fitcal(eta, req.ctx, y, term, mu);
        ll += term;
        if (events != 0) {
          const std::int64_t i = start + k, rn = first + i;
          if (events & FITCAL_ZERO_ONE) {
            if (p.zero_one_at == 0) p.zero_one_at = rn;
            floor = true;
            if (req.stop_at_zero_one) {
              p.ll = LLFLOOR;
              stopped = true;
              return;
            }
          }
          if ((events & FITCAL_TRACE_HIGH) && p.trace_high_at == 0) p.trace_high_at = rn;
          if ((events & FITCAL_TRACE_NEGATIVE) && p.trace_negative_at == 0) p.trace_negative_at = rn;
          if (events & FITCAL_TRACE_SET) {
            if (!modified) std::memcpy(slot.in.data(), block, static_cast<std::size_t>(nb) * len);
            std::memcpy(slot.in.data() + static_cast<std::size_t>(k) * len + 16, &y, 8);
            modified = true;
          }
        }
        if (!req.sums) continue;
        double w, q;
        if (occurrence) {
          w = mu * (1.0 - mu);
          q = (y - mu) / w;
        } else {
          w = 1.0;
          q = (y - mu) / mu;
          pearson += q * q;
          if (req.logy) logy += std::log(y);
        }
        double z = eta + q;
        for (int j = np6 + 1; j <= np7; ++j) z += b[static_cast<std::size_t>(j)] * xs[j * BLOCK + k];
        const double wq = w * q;
        slot.w[static_cast<std::size_t>(k)] = w;
        slot.wz[static_cast<std::size_t>(k)] = w * z;
        slot.wq[static_cast<std::size_t>(k)] = wq;
        if (record) {
          const unsigned char* at = block + static_cast<std::size_t>(k) * len;
          FittedRecord fr;
          get_head(at, fr);
          fr.y = y;
          fr.mu = mu;
          fr.eta = eta;
          pack_fitted(slot.out.data() + static_cast<std::size_t>((start + k) % OUT_RUN) * FITTED_RECORD_LENGTH, fr);
          if (scores) {
            const std::int64_t date = static_cast<std::int64_t>(fr.yy) * 10000 + fr.mm * 100 + fr.dd;
            if (slot.run_date.empty() || slot.run_date.back() != date) {
              slot.run_date.push_back(date);
              slot.run_score.resize(slot.run_score.size() + static_cast<std::size_t>(n), 0.0);
            }
            double* u = slot.run_score.data() + slot.run_score.size() - static_cast<std::size_t>(n);
            for (int j = 0; j < n; ++j) u[j] += wq * xs[j * BLOCK + k];
          }
        }
      }
      p.ll += ll;
      p.pearson += pearson;
      p.logy += logy;
      if (req.sums) add_block(nb);
      if (modified && !design_.write_run(first + start, nb, slot.in.data())) slot.write_error = true;
      const std::int64_t done = start + nb;
      if (record && (done % OUT_RUN == 0 || done == count)) {
        const std::int64_t from = (done - 1) / OUT_RUN * OUT_RUN;
        if (!fitted->write_run(first + from, done - from, slot.out.data())) slot.write_error = true;
      }
    }
    if (floor) p.ll += LLFLOOR;
    slot.view.reset();
  };

  // The date of the score vector not yet written, and its sums.
  std::int64_t open_date = -1;
  std::vector<double> open(static_cast<std::size_t>(n), 0.0);
  bool read_error = false, write_error = false, ended = false;
  auto fold = [&](std::int64_t, int s) {
    Slot& slot = slots_[static_cast<std::size_t>(s)];
    if (ended) return;
    read_error = read_error || slot.read_error;
    write_error = write_error || slot.write_error;
    const PassResult& p = slot.part;
    out.ll += p.ll;
    out.trace_high_at = first_of(out.trace_high_at, p.trace_high_at);
    out.trace_negative_at = first_of(out.trace_negative_at, p.trace_negative_at);
    if (p.zero_one_at != 0 && out.zero_one_at == 0) {
      out.zero_one_at = p.zero_one_at;
      // What follows a pass ended by a fitted 0 or 1 is not used.
      if (req.stop_at_zero_one) ended = true;
    }
    if (!req.sums) return;
    out.pearson += p.pearson;
    out.logy += p.logy;
    for (int j = 0; j < n; ++j) {
      out.xwz[static_cast<std::size_t>(j)] += p.xwz[static_cast<std::size_t>(j)];
      out.score[static_cast<std::size_t>(j)] += p.score[static_cast<std::size_t>(j)];
    }
    if (req.information)
      for (int l = 0; l < n; ++l)
        for (int j = 0; j <= l; ++j) {
          const std::size_t k = static_cast<std::size_t>(l) * static_cast<std::size_t>(n) + static_cast<std::size_t>(j);
          out.info[k] += p.info[k];
        }
    for (std::size_t r = 0; r < slot.run_date.size(); ++r) {
      const double* u = slot.run_score.data() + r * static_cast<std::size_t>(n);
      if (slot.run_date[r] != open_date) {
        if (open_date != -1) {
          if (!scores->write(open.data(), sizeof(double) * open.size())) write_error = true;
          ++out.ndays;
        }
        open_date = slot.run_date[r];
        std::fill(open.begin(), open.end(), 0.0);
      }
      for (int j = 0; j < n; ++j) open[static_cast<std::size_t>(j)] += u[j];
    }
  };

  if (scores) scores->rewind();
  for_chunks_in_order(nchunks, threads_, work, fold);
  if (!ended && open_date != -1) {
    if (!scores->write(open.data(), sizeof(double) * open.size())) write_error = true;
    ++out.ndays;
  }
  if (read_error) store_read_failure(design_, "FITCAL");
  if (write_error) scratch_full();
  if (record && !ended) fitted->written_upto(nrec_);
}

}  // namespace rg
