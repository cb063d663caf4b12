#include "channels.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

#include "console.hpp"
#include "run_exit.hpp"

namespace rg {

Channels& channels() {
  static Channels registry;
  return registry;
}

Channels::Entry& Channels::entry(int ch) {
  auto it = table_.find(ch);
  if (it == table_.end()) throw std::logic_error("channel " + std::to_string(ch) + " is not connected");
  return it->second;
}

Channels::Entry& Channels::bind(int ch, std::string name) {
  if (connected(ch)) throw std::logic_error("channel " + std::to_string(ch) + " is already connected");
  Entry& e = table_[ch];
  e.name = std::move(name);
  return e;
}

TextIn& Channels::bind_input(int ch, std::unique_ptr<TextIn> in, std::string name) {
  return *(bind(ch, std::move(name)).in = std::move(in));
}
TextOut& Channels::bind_output(int ch, std::unique_ptr<TextOut> out, std::string name) {
  return *(bind(ch, std::move(name)).out = std::move(out));
}
RecordStore& Channels::bind_store(int ch, std::unique_ptr<RecordStore> store) {
  return *(bind(ch, "scratch").store = std::move(store));
}
SequentialStore& Channels::bind_sequential(int ch, std::unique_ptr<SequentialStore> store) {
  return *(bind(ch, "scratch").seq = std::move(store));
}

namespace {
template <class T>
T& held(const std::unique_ptr<T>& p, int ch, const char* kind) {
  if (!p) throw std::logic_error("channel " + std::to_string(ch) + " is not " + kind);
  return *p;
}
}  // namespace

TextIn& Channels::input(int ch) { return held(entry(ch).in, ch, "an input file"); }
TextOut& Channels::output(int ch) { return held(entry(ch).out, ch, "an output file"); }
RecordStore& Channels::store(int ch) { return held(entry(ch).store, ch, "a direct-access store"); }
SequentialStore& Channels::sequential(int ch) { return held(entry(ch).seq, ch, "a sequential store"); }
const std::string& Channels::name(int ch) const {
  auto it = table_.find(ch);
  if (it == table_.end()) throw std::logic_error("channel " + std::to_string(ch) + " is not connected");
  return it->second.name;
}

namespace {

std::string write_failure(const std::string& name, const TextOut& out) {
  std::string why = out.error_text();
  return "****ERROR**** Output file " + name + " could not be written completely" + (why.empty() ? "" : " (" + why + ")") +
         ".";
}

}  // namespace

void Channels::fail_output(const std::string& name, const TextOut& out) {
  const std::string message = write_failure(name, out);
  abandon_outputs();
  console().blank();
  console().line(message);
  end_run(1);
}

void Channels::close(int ch) {
  auto it = table_.find(ch);
  if (it == table_.end()) return;
  std::unique_ptr<TextOut> out = std::move(it->second.out);
  std::string name = it->second.name;
  table_.erase(it);
  if (!out) return;
  if (!out->finish()) fail_output(name, *out);
  closed_.emplace_back(std::move(name), std::move(out));
}

void Channels::check_written(int ch) {
  auto it = table_.find(ch);
  if (it != table_.end() && it->second.out && !it->second.out->good()) close(ch);  // reports the failure
}

void Channels::flush_all() {
  for (auto& [ch, e] : table_)
    if (e.out) e.out->flush();
}

void Channels::abandon_outputs() {
  for (auto& [ch, e] : table_)
    if (e.out) e.out->discard();
  for (auto& [name, out] : closed_) out->discard();
}

std::vector<std::string> Channels::close_all(bool commit) {
  std::vector<std::string> failed;
  for (auto& [ch, e] : table_)
    if (e.out) {
      if (!e.out->finish()) failed.push_back(write_failure(e.name, *e.out));
      closed_.emplace_back(e.name, std::move(e.out));
    }
  table_.clear();
  if (commit && failed.empty()) {
    for (auto& [name, out] : closed_)
      if (!out->publish()) failed.push_back(write_failure(name, *out));
  }
  abandon_outputs();  // whatever did not take its name is removed
  closed_.clear();
  return failed;
}

namespace {

// A program started with standard input, output or error closed would otherwise get
// its first data file on that descriptor and read its answers from it: give each
// closed one the null device, so a closed input reads as an empty one.
void keep_standard_descriptors_open() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    int got = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (got >= 0 && got != fd) {
      ::dup2(got, fd);
      ::close(got);
    }
  }
}

}  // namespace

int run_program(const std::function<void()>& body) {
  keep_standard_descriptors_open();
  remove_unfinished_outputs_on_interrupt();
  int status = 0;
  try {
    body();
  } catch (const RunExit& e) {
    status = e.status;
  } catch (const std::exception& e) {
    console().line(std::string("*****ERROR***** Unexpected failure: ") + e.what());
    status = 1;
  }
  report_repeated_warnings();
  // An output file that lost data on the way to the disk must not pass unnoticed,
  // and after an error no output replaces an earlier file.
  auto failed = channels().close_all(status == 0);
  if (!failed.empty()) console().blank();
  for (const auto& message : failed) {
    console().line(message);
    status = 1;
  }
  console().flush();
  return status;
}

}  // namespace rg
