#pragma once
// Record layouts of the fitting engine's scratch stores. The design store holds one
// record per usable site-day (site, date, response, design columns 1..m; the
// constant column is implied); the fitted-value store one record per design record
// (site, date, observed, fitted mean, linear predictor). Records are packed without
// padding into fixed-length slots of the RecordStore; a reader/writer object keeps
// its one byte buffer, so streaming the stores allocates nothing per record.
#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

#include "files.hpp"
#include "model.hpp"
#include "record_store.hpp"

namespace rg {

// Bytes per unit of direct-access record length.
constexpr int BYTELN = 4;
// Record length of the design store for m design columns: (2m + 10) units.
constexpr int design_record_length(int m) { return (2 * m + 10) * BYTELN; }
// Record length of the fitted-value store.
constexpr int FITTED_RECORD_LENGTH = 72;

struct DesignRecord {
  std::int32_t site = 0, yy = 0, mm = 0, dd = 0;
  double y = 0.0;
  std::array<double, MAXPAR + 1> x{};  // x[0] = 1 (the constant), x[1..m] stored columns
};

struct FittedRecord {
  std::int32_t site = 0, yy = 0, mm = 0, dd = 0;
  double y = 0.0, mu = 0.0, eta = 0.0;
};

// Both stores begin their records with site, year, month and day as 32-bit integers.
template <class Record>
void put_head(unsigned char* p, const Record& r) {
  std::int32_t head[4] = {r.site, r.yy, r.mm, r.dd};
  std::memcpy(p, head, 16);
}

template <class Record>
void get_head(const unsigned char* p, Record& r) {
  std::int32_t head[4];
  std::memcpy(head, p, 16);
  r.site = head[0];
  r.yy = head[1];
  r.mm = head[2];
  r.dd = head[3];
}

// Packs and unpacks design records of width m.
class DesignIO {
 public:
  explicit DesignIO(int m) : m_(m), buf_(static_cast<std::size_t>(24 + 8 * m)) {}
  int width() const { return m_; }

  bool write(RecordStore& st, std::int64_t n, const DesignRecord& r) {
    unsigned char* p = buf_.data();
    put_head(p, r);
    std::memcpy(p + 16, &r.y, 8);
    if (m_ > 0) std::memcpy(p + 24, &r.x[1], 8 * static_cast<std::size_t>(m_));
    return st.write(n, p, buf_.size());
  }

  // Unpacks record n where it lies in the store's block (one copy, not two).
  bool read(RecordStore& st, std::int64_t n, DesignRecord& r) {
    const unsigned char* p = st.view(n, buf_.size());
    if (!p) return false;
    get_head(p, r);
    std::memcpy(&r.y, p + 16, 8);
    r.x[0] = 1.0;
    if (m_ > 0) std::memcpy(&r.x[1], p + 24, 8 * static_cast<std::size_t>(m_));
    return true;
  }

 private:
  int m_;
  std::vector<unsigned char> buf_;
};

// A record that cannot be read back: a store that failed to reach the disk (a full
// disk) is reported as such; anything else is a programming error of the routine.
[[noreturn]] inline void store_read_failure(const RecordStore& st, std::string_view routine) {
  if (st.failed()) scratch_full();
  prgerr(routine, "fit_both", 3);
}

// The bytes of a fitted-value record as stored (40 of the record's length).
inline void pack_fitted(unsigned char* p, const FittedRecord& r) {
  put_head(p, r);
  const double v[3] = {r.y, r.mu, r.eta};
  std::memcpy(p + 16, v, 24);
}

inline bool write_fitted(RecordStore& st, std::int64_t n, const FittedRecord& r) {
  unsigned char p[40];
  pack_fitted(p, r);
  return st.write(n, p, sizeof p);
}

// A fitted-value record from its bytes as stored.
inline void unpack_fitted(const unsigned char* p, FittedRecord& r) {
  get_head(p, r);
  double v[3];
  std::memcpy(v, p + 16, 24);
  r.y = v[0];
  r.mu = v[1];
  r.eta = v[2];
}

inline bool read_fitted(RecordStore& st, std::int64_t n, FittedRecord& r) {
  const unsigned char* p = st.view(n, 40);
  if (!p) return false;
  unpack_fitted(p, r);
  return true;
}

}  // namespace rg
