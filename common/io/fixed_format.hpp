#pragma once
// Fixed-column output fields. A value that does not fit its field prints as a row
// of asterisks of the field's width, so columns never shift.
#include <string>
#include <string_view>

namespace rg {

// Integer right-justified in w columns.
std::string fmt_i(long long v, int w);
// Integer right-justified in w columns, or in as many as it needs when it does not
// fit: for line numbers in messages, which must stay readable in long files.
std::string fmt_iw(long long v, int w);
// Fixed-point with d decimals right-justified in w columns. A leading "0" before the
// decimal point is dropped when that is what makes the value fit.
std::string fmt_f(double v, int w, int d);
// Scientific form 0.ddddE+xx with d significant digits in w columns.
std::string fmt_e(double v, int w, int d);
// A value in w columns that keeps its leading digits: fixed-point with d decimals,
// or, for a non-zero magnitude below 0.01 (which would show two digits or fewer),
// the scientific form with d significant digits (fewer when a negative value needs
// the room).
std::string fmt_sig(double v, int w, int d);
// Text left-justified in w columns: padded with blanks or cut at w.
std::string fmt_a(std::string_view s, int w);
// n blanks.
inline std::string blanks(int n) { return std::string(n > 0 ? static_cast<std::size_t>(n) : 0, ' '); }

// The same fields appended to a line under construction, without building a string
// per field (for the long records written in hot loops). The digits are those of
// fmt_i, fmt_f and fmt_a.
void append_i(std::string& s, long long v, int w);
void append_f(std::string& s, double v, int w, int d);
void append_a(std::string& s, std::string_view text, int w);

// Builds one output line from fixed fields, left to right. clear() starts a new
// line in the same storage, so a writer that keeps one Fields allocates nothing per
// line.
class Fields {
 public:
  Fields& x(int n) {
    s_.append(static_cast<std::size_t>(n > 0 ? n : 0), ' ');
    return *this;
  }
  Fields& t(std::string_view text) { s_ += text; return *this; }
  Fields& i(long long v, int w) { append_i(s_, v, w); return *this; }
  Fields& f(double v, int w, int d) { append_f(s_, v, w, d); return *this; }
  Fields& e(double v, int w, int d) { s_ += fmt_e(v, w, d); return *this; }
  Fields& a(std::string_view text, int w) { append_a(s_, text, w); return *this; }
  Fields& clear() { s_.clear(); return *this; }
  const std::string& str() const { return s_; }
  operator std::string_view() const { return s_; }

 private:
  std::string s_;
};

}  // namespace rg
