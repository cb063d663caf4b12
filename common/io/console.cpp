#include "console.hpp"

#include <iostream>
#include <map>

namespace rg {

namespace {
Console standard_console(std::cin, std::cout);
Console* current = &standard_console;
}  // namespace

Console& console() { return *current; }

namespace {
std::map<std::string, long, std::less<>>& repeats() {
  static std::map<std::string, long, std::less<>> counts;
  return counts;
}
}  // namespace

bool first_occurrence(std::string_view key) {
  auto& counts = repeats();
  auto it = counts.find(key);
  if (it == counts.end()) {
    counts.emplace(std::string(key), 1);
    return true;
  }
  ++it->second;
  return false;
}

void report_repeated_warnings() {
  for (auto& [key, n] : repeats()) {
    if (n > 1) {
      console().blank();
      console().line("****WARNING**** The warning \"" + key + "\" occurred " + std::to_string(n) + " times in all.");
    }
  }
  repeats().clear();
}

void Console::line(std::string_view text) {
  out_->write(text.data(), static_cast<std::streamsize>(text.size()));
  out_->put('\n');
}

void Console::put(std::string_view text) {
  out_->write(text.data(), static_cast<std::streamsize>(text.size()));
  out_->flush();
}

std::optional<std::string> Console::read_line() {
  out_->flush();
  std::string s;
  if (!std::getline(*in_, s)) return std::nullopt;
  if (!s.empty() && s.back() == '\r') s.pop_back();
  return s;
}

ConsoleCapture::ConsoleCapture(std::string input)
    : in_(std::move(input)), previous_(current), mine_(in_, out_) {
  current = &mine_;
}

ConsoleCapture::~ConsoleCapture() { current = previous_; }

}  // namespace rg
