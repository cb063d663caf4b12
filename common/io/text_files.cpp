#include "text_files.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>

namespace rg {

namespace {

// Temporary output files in existence, for the interrupt handler. Fixed storage:
// the handler may only touch memory that is never reallocated.
constexpr int MAX_TEMPS = 32;
constexpr std::size_t TEMP_PATH_MAX = 4096;
char temp_paths[MAX_TEMPS][TEMP_PATH_MAX];
volatile std::sig_atomic_t temp_used[MAX_TEMPS];

int register_temp(const std::string& path) {
  if (path.size() >= TEMP_PATH_MAX) return -1;
  for (int i = 0; i < MAX_TEMPS; ++i) {
    if (temp_used[i]) continue;
    std::memcpy(temp_paths[i], path.c_str(), path.size() + 1);
    temp_used[i] = 1;
    return i;
  }
  return -1;  // not cleaned up on an interrupt, but otherwise handled as usual
}

void unregister_temp(const std::string& path) {
  for (int i = 0; i < MAX_TEMPS; ++i)
    if (temp_used[i] && path == temp_paths[i]) temp_used[i] = 0;
}

extern "C" void on_interrupt(int sig) {
  for (int i = 0; i < MAX_TEMPS; ++i)
    if (temp_used[i]) ::unlink(temp_paths[i]);
  std::signal(sig, SIG_DFL);
  std::raise(sig);
}

}  // namespace

void remove_unfinished_outputs_on_interrupt() {
  for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE}) {
    // An interrupt the caller chose to ignore stays ignored.
    auto old = std::signal(sig, on_interrupt);
    if (old == SIG_IGN) std::signal(sig, SIG_IGN);
  }
}

// ---------------------------------------------------------------- input

TextIn::~TextIn() {
  if (file_) std::fclose(file_);
}

bool TextIn::open(const std::string& path) {
  if (file_) std::fclose(file_);
  file_ = std::fopen(path.c_str(), "rb");
  have_ = at_ = 0;
  buf_start_ = 0;
  line_ = 0;
  newest_ = 0;
  return file_ != nullptr;
}

bool TextIn::fill() {
  if (at_ < have_) return true;
  if (!file_) return false;
  buf_start_ += static_cast<std::int64_t>(have_);
  have_ = std::fread(buf_.data(), 1, buf_.size(), file_);
  at_ = 0;
  return have_ > 0;
}

void TextIn::seek(std::int64_t offset) {
  if (!file_) return;
  std::clearerr(file_);
  ::fseeko(file_, static_cast<off_t>(offset), SEEK_SET);
  buf_start_ = offset;
  have_ = at_ = 0;
}

bool TextIn::read_more() {
  if (!file_) return false;
  if (at_ > 0) {
    std::memmove(buf_.data(), buf_.data() + at_, have_ - at_);
    buf_start_ += static_cast<std::int64_t>(at_);
    have_ -= at_;
    at_ = 0;
  }
  if (have_ == buf_.size()) buf_.resize(2 * buf_.size());
  const std::size_t got = std::fread(buf_.data() + have_, 1, buf_.size() - have_, file_);
  have_ += got;
  return got > 0;
}

std::optional<std::string_view> TextIn::next_view() {
  if (!fill()) return std::nullopt;
  const std::int64_t start = buf_start_ + static_cast<std::int64_t>(at_);
  std::size_t scanned = 0;  // bytes of the line known to hold no line end
  std::string_view line;
  for (;;) {
    const char* b = buf_.data() + at_;
    const char* e = buf_.data() + have_;
    const char* p = std::find_if(b + scanned, e, [](char c) { return c == '\n' || c == '\r'; });
    scanned = static_cast<std::size_t>(p - b);
    // A CR as the last byte read may be the first half of a CRLF: read on first.
    if (p < e && (*p == '\n' || p + 1 < e)) {
      line = std::string_view(b, scanned);
      at_ += scanned + 1;
      if (*p == '\r' && p[1] == '\n') ++at_;  // CRLF is one line end
      break;
    }
    if (!read_more()) {  // the last line, with a lone CR or no line end at all
      line = std::string_view(buf_.data() + at_, scanned);
      at_ = have_;
      break;
    }
  }
  starts_[static_cast<std::size_t>(line_ % KEPT_STARTS)] = start;
  ++line_;
  newest_ = std::max(newest_, line_);
  return line;
}

void TextIn::rewind() {
  seek(0);
  line_ = 0;
  newest_ = 0;  // the kept starts are refilled as the lines are read again
}

void TextIn::backspace() {
  if (line_ == 0) return;
  long target = line_ - 1;  // lines to leave read
  if (newest_ - target <= KEPT_STARTS) {
    const std::int64_t start = starts_[static_cast<std::size_t>(target % KEPT_STARTS)];
    if (start >= buf_start_ && start - buf_start_ <= static_cast<std::int64_t>(have_))
      at_ = static_cast<std::size_t>(start - buf_start_);
    else
      seek(start);
    line_ = target;
    return;
  }
  rewind();
  while (line_ < target && next_view()) {
  }
}

// ---------------------------------------------------------------- output

TextOut::~TextOut() { discard(); }

bool TextOut::open(const std::string& path) {
  discard();
  path_ = path;
  finished_ = false;
  error_ = 0;
  const std::filesystem::path p(path);
  std::filesystem::path dir = p.parent_path();
  if (dir.empty()) dir = ".";
  std::string pattern = (dir / ("." + p.filename().string() + ".XXXXXX")).string();
  int fd = ::mkstemp(pattern.data());
  if (fd < 0) return false;
  // A new file gets the usual permissions, not the private ones of a temporary file.
  mode_t mask = ::umask(0);
  ::umask(mask);
  ::fchmod(fd, 0666 & ~mask);
  file_ = ::fdopen(fd, "wb");
  if (!file_) {
    ::close(fd);
    ::unlink(pattern.c_str());
    return false;
  }
  std::setvbuf(file_, nullptr, _IOFBF, std::size_t{1} << 16);
  temp_ = pattern;
  register_temp(temp_);
  return true;
}

void TextOut::line(std::string_view text) {
  if (!file_ || error_ != 0) return;
  if (std::fwrite(text.data(), 1, text.size(), file_) != text.size() || std::fputc('\n', file_) == EOF) fail(errno);
}

void TextOut::text(std::string_view lines) {
  if (!file_ || error_ != 0) return;
  if (std::fwrite(lines.data(), 1, lines.size(), file_) != lines.size()) fail(errno);
}

void TextOut::flush() {
  if (file_ && error_ == 0 && std::fflush(file_) != 0) fail(errno);
}

bool TextOut::finish() {
  if (finished_ || !file_) return finished_ && good();
  flush();
  if (std::ferror(file_)) fail(errno);
  if (std::fclose(file_) != 0) fail(errno);
  file_ = nullptr;
  finished_ = true;
  return good();
}

bool TextOut::publish() {
  if (temp_.empty()) return finished_ && good();
  if (!finished_ || !good()) return false;
  if (std::rename(temp_.c_str(), path_.c_str()) != 0) {
    fail(errno);
    return false;
  }
  unregister_temp(temp_);
  temp_.clear();
  return true;
}

bool TextOut::close() {
  if (!file_ && temp_.empty()) return good();
  bool ok = finish() && publish();
  if (!ok) discard();
  return ok;
}

void TextOut::discard() {
  if (file_) std::fclose(file_);
  file_ = nullptr;
  finished_ = true;  // nothing left to write
  if (!temp_.empty()) {
    ::unlink(temp_.c_str());
    unregister_temp(temp_);
    temp_.clear();
  }
}

std::string TextOut::error_text() const {
  if (error_ == 0) return {};
  if (error_ < 0) return "write failed";
  return std::strerror(error_);
}

}  // namespace rg
