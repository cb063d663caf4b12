#include "text_files.hpp"

namespace rg {

bool TextIn::open(const std::string& path) {
  in_.open(path, std::ios::binary);
  line_ = 0;
  starts_.clear();
  return in_.is_open();
}

std::optional<std::string> TextIn::next() {
  std::streamoff start = in_.tellg();
  std::string s;
  if (!std::getline(in_, s)) return std::nullopt;
  if (!s.empty() && s.back() == '\r') s.pop_back();
  if (static_cast<std::size_t>(line_) < starts_.size()) starts_[static_cast<std::size_t>(line_)] = start;
  else starts_.push_back(start);
  ++line_;
  return s;
}

void TextIn::rewind() {
  in_.clear();
  in_.seekg(0);
  line_ = 0;
}

void TextIn::backspace() {
  if (line_ == 0) return;
  --line_;
  in_.clear();
  in_.seekg(starts_[static_cast<std::size_t>(line_)]);
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
