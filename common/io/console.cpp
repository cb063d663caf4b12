#include "console.hpp"

#include <iostream>

namespace rg {

namespace {
Console standard_console(std::cin, std::cout);
Console* current = &standard_console;
}  // namespace

Console& console() { return *current; }

bool Console::first_occurrence(std::string_view key) {
  auto it = repeats_.find(key);
  if (it == repeats_.end()) {
    repeats_.emplace(std::string(key), 1);
    return true;
  }
  ++it->second;
  return false;
}

void Console::report_repeated() {
  for (const auto& [key, n] : repeats_) {
    if (n < 2) continue;
    blank();
    line("****WARNING**** The warning \"" + key + "\" occurred " + std::to_string(n) + " times in all.");
  }
  repeats_.clear();
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
