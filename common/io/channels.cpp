#include "channels.hpp"

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

bool Channels::close(int ch) {
  auto it = table_.find(ch);
  if (it == table_.end()) return true;
  bool ok = it->second.out ? it->second.out->close() : true;
  table_.erase(it);
  return ok;
}

void Channels::flush_all() {
  for (auto& [ch, e] : table_)
    if (e.out) e.out->flush();
}

std::vector<std::string> Channels::close_all() {
  std::vector<std::string> failed;
  while (!table_.empty()) {
    auto it = table_.begin();
    std::string name = it->second.name;
    if (!close(it->first)) failed.push_back(name);
  }
  return failed;
}

int run_program(const std::function<void()>& body) {
  int status = 0;
  try {
    body();
  } catch (const RunExit& e) {
    status = e.status;
  } catch (const std::exception& e) {
    console().line(std::string("*****ERROR***** Unexpected failure: ") + e.what());
    status = 1;
  }
  // An output file that lost data on the way to the disk must not pass unnoticed.
  for (const auto& name : channels().close_all()) {
    console().line("****ERROR**** Output file " + name + " could not be written completely.");
    status = 1;
  }
  console().flush();
  return status;
}

}  // namespace rg
