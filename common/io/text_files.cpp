#include "text_files.hpp"

#include <algorithm>

namespace rg {

bool TextIn::open(const std::string& path) {
  in_.open(path, std::ios::binary);
  line_ = 0;
  newest_ = 0;
  pos_ = 0;
  return in_.is_open();
}

std::optional<std::string> TextIn::next() {
  // Offsets are counted here rather than asked of the stream, which would cost a
  // system call per line.
  const std::streamoff start = pos_;
  std::string s;
  if (!std::getline(in_, s)) return std::nullopt;
  pos_ += static_cast<std::streamoff>(s.size()) + (in_.eof() ? 0 : 1);
  if (!s.empty() && s.back() == '\r') s.pop_back();
  starts_[static_cast<std::size_t>(line_ % KEPT_STARTS)] = start;
  ++line_;
  newest_ = std::max(newest_, line_);
  return s;
}

void TextIn::rewind() {
  in_.clear();
  in_.seekg(0);
  pos_ = 0;
  line_ = 0;
  newest_ = 0;  // the kept starts are refilled as the lines are read again
}

void TextIn::backspace() {
  if (line_ == 0) return;
  long target = line_ - 1;  // lines to leave read
  in_.clear();
  if (newest_ - target <= KEPT_STARTS) {
    pos_ = starts_[static_cast<std::size_t>(target % KEPT_STARTS)];
    in_.seekg(pos_);
    line_ = target;
    return;
  }
  rewind();
  while (line_ < target && next()) {
  }
}

bool TextOut::open(const std::string& path) {
  out_.open(path, std::ios::binary | std::ios::trunc);
  return out_.is_open();
}

void TextOut::line(std::string_view text) {
  out_.write(text.data(), static_cast<std::streamsize>(text.size()));
  out_.put('\n');
}

bool TextOut::close() {
  if (!out_.is_open()) return true;
  out_.flush();
  bool ok = out_.good();
  out_.close();
  return ok && !out_.fail();
}

}  // namespace rg
