#pragma once
// One pass of the fit over the design store at given coefficients: the sums of the
// weighted least-squares step, the log-likelihood, and on the passes that record
// them the fitted-value store and the daily score vectors. The records are split
// into fixed chunks that run on several threads; each chunk forms its own partial
// sums, which are folded in chunk order, so the results do not depend on the number
// of threads.
#include <cstdint>
#include <memory>
#include <vector>

#include "iwls.hpp"
#include "record_store.hpp"

namespace rg {

struct PassRequest {
  FitcalContext ctx;               // model kind, np6, iteration, trace threshold, dispersion
  int np7 = 0;                     // last coefficient of a nonlinear parameter (z includes np6+1..np7)
  bool sums = true;                // the step's sums; false: the log-likelihood only
  bool information = false;        // form the information matrix
  bool logy = false;               // sum log y
  bool stop_at_zero_one = true;    // a fitted probability of exactly 0 or 1 ends the pass
};

struct PassResult {
  long double ll = 0.0L, pearson = 0.0L, logy = 0.0L;
  std::vector<double> xwz, score;  // 0..m
  std::vector<double> info;        // column l at l*(m+1), rows 0..l (the upper triangle)
  std::int64_t zero_one_at = 0;    // first record with a fitted probability of 0 or 1
  std::int64_t trace_high_at = 0, trace_negative_at = 0;  // first records of the trace warnings
  std::int64_t ndays = 0;          // daily score vectors written
};

class DesignPass {
 public:
  // Records per chunk: enough work to hide the hand-over between threads and the
  // mapping of their records; a thread holds one chunk's records mapped (2 MB at ten
  // design columns) besides buffers of a few tens of kilobytes.
  static constexpr std::int64_t CHUNK = 16384;

  DesignPass(RecordStore& design, int m, std::int64_t nrec, int threads);
  ~DesignPass();
  DesignPass(const DesignPass&) = delete;
  DesignPass& operator=(const DesignPass&) = delete;

  // beta(0..m). With a fitted-value store, writes records 1..nrec of it; with a score
  // store, writes one score vector (m+1 values) per run of records of one date. Trace
  // values replaced by their conditional expectations are written back to the design
  // store. A record that cannot be read stops as a store failure of FITCAL, a store
  // that cannot be written as a full disk.
  void run(const PassRequest& req, const Array1<double>& beta, PassResult& out, RecordStore* fitted = nullptr,
           SequentialStore* scores = nullptr);

 private:
  struct Slot;
  RecordStore& design_;
  int m_;
  std::int64_t nrec_;
  int threads_;
  std::unique_ptr<Slot[]> slots_;
};

}  // namespace rg
