#pragma once
// Fixed-capacity arrays with the index bounds the algorithms use (1-based unless a
// routine says otherwise), column-major like the matrices they model. Storage is
// allocated once, at construction, with the capacity; nothing grows afterwards.
#include <cassert>
#include <algorithm>
#include <cstddef>
#include <vector>

namespace rg {

// 1-based view of a vector starting at p.
template <class T>
struct VecView {
  T* p;
  T& operator()(int i) const { return p[i - 1]; }
};

// 1-based view of a column-major matrix with leading dimension ld.
template <class T>
struct MatView {
  T* p;
  int ld;
  T& operator()(int i, int j) const { return p[static_cast<std::ptrdiff_t>(j - 1) * ld + (i - 1)]; }
};

template <class T>
class Array1 {
 public:
  Array1() = default;
  Array1(int lo, int hi, T init = T{}) : lo_(lo), v_(static_cast<std::size_t>(hi - lo + 1), init) {}
  T& operator()(int i) {
    assert(i >= lo_ && i - lo_ < static_cast<int>(v_.size()));
    return v_[static_cast<std::size_t>(i - lo_)];
  }
  const T& operator()(int i) const {
    assert(i >= lo_ && i - lo_ < static_cast<int>(v_.size()));
    return v_[static_cast<std::size_t>(i - lo_)];
  }
  int lo() const { return lo_; }
  int hi() const { return lo_ + static_cast<int>(v_.size()) - 1; }
  void fill(const T& x) { std::fill(v_.begin(), v_.end(), x); }
  T* data() { return v_.data(); }
  const T* data() const { return v_.data(); }
  // The view counts from the first element as index 1.
  VecView<T> view() { return {v_.data()}; }

 private:
  int lo_ = 1;
  std::vector<T> v_;
};

template <class T>
class Array2 {
 public:
  Array2() = default;
  Array2(int lo1, int hi1, int lo2, int hi2, T init = T{})
      : lo1_(lo1), lo2_(lo2), n1_(hi1 - lo1 + 1), n2_(hi2 - lo2 + 1),
        v_(static_cast<std::size_t>(n1_) * static_cast<std::size_t>(n2_), init) {}
  // 1-based in both dimensions.
  Array2(int rows, int cols) : Array2(1, rows, 1, cols) {}
  T& operator()(int i, int j) { return v_[index(i, j)]; }
  const T& operator()(int i, int j) const { return v_[index(i, j)]; }
  int ld() const { return n1_; }
  int rows() const { return n1_; }
  int cols() const { return n2_; }
  void fill(const T& x) { std::fill(v_.begin(), v_.end(), x); }
  T* data() { return v_.data(); }
  MatView<T> view() { return {v_.data(), n1_}; }

 private:
  std::size_t index(int i, int j) const {
    assert(i >= lo1_ && i - lo1_ < n1_ && j >= lo2_ && j - lo2_ < n2_);
    return static_cast<std::size_t>(j - lo2_) * static_cast<std::size_t>(n1_) + static_cast<std::size_t>(i - lo1_);
  }
  int lo1_ = 1, lo2_ = 1, n1_ = 0, n2_ = 0;
  std::vector<T> v_;
};

template <class T>
class Array3 {
 public:
  Array3() = default;
  Array3(int n1, int n2, int n3, T init = T{})
      : n1_(n1), n2_(n2), n3_(n3), v_(static_cast<std::size_t>(n1) * n2 * n3, init) {}
  // 1-based in all three dimensions, first index fastest.
  T& operator()(int i, int j, int k) { return v_[index(i, j, k)]; }
  const T& operator()(int i, int j, int k) const { return v_[index(i, j, k)]; }
  void fill(const T& x) { std::fill(v_.begin(), v_.end(), x); }

 private:
  std::size_t index(int i, int j, int k) const {
    assert(i >= 1 && i <= n1_ && j >= 1 && j <= n2_ && k >= 1 && k <= n3_);
    return (static_cast<std::size_t>(k - 1) * n2_ + static_cast<std::size_t>(j - 1)) * n1_ + static_cast<std::size_t>(i - 1);
  }
  int n1_ = 0, n2_ = 0, n3_ = 0;
  std::vector<T> v_;
};

using Matrix = Array2<double>;

}  // namespace rg
