#pragma once
// The registry of open files by channel number. Every routine knows a file by the
// fixed channel number its program binds it to (60 is always the results file), so
// the registry is the one table of the run that all routines share.
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "record_store.hpp"
#include "text_files.hpp"

namespace rg {

class Channels {
 public:
  bool connected(int ch) const { return table_.count(ch) != 0; }

  // Binds an already opened stream to a channel (replacing nothing: the channel
  // must be free).
  TextIn& bind_input(int ch, std::unique_ptr<TextIn> in, std::string name);
  TextOut& bind_output(int ch, std::unique_ptr<TextOut> out, std::string name);
  RecordStore& bind_store(int ch, std::unique_ptr<RecordStore> store);
  SequentialStore& bind_sequential(int ch, std::unique_ptr<SequentialStore> store);

  // The stream on a channel; a channel that is free or holds another kind of
  // stream is a programming error (std::logic_error).
  TextIn& input(int ch);
  TextOut& output(int ch);
  RecordStore& store(int ch);
  SequentialStore& sequential(int ch);
  const std::string& name(int ch) const;

  // Closes the channel. An output file is finished now but takes its name only with
  // the run's other outputs when the run ends (close_all), so that a run stopped later
  // leaves the earlier set of files whole. An output that did not receive everything
  // is reported by name, every other output is dropped, and the run ends with status 1
  // (the earlier files of those names stay as they were).
  void close(int ch);
  // Ends the run as close() does for an output whose writing has already failed (a
  // full disk), so that a long run stops at once instead of at its end.
  void check_written(int ch);
  void flush_all();
  // Closes every channel at the end of the run. With commit, the output files (open
  // or closed earlier) take their names, but only when every one of them is
  // complete; otherwise (or without commit) they are all dropped and the earlier
  // files stay. Returns one message per output that failed.
  std::vector<std::string> close_all(bool commit = true);
  // Drops every open output file, keeping the earlier files of those names (the user
  // stopped the run before it produced anything).
  void abandon_outputs();

 private:
  struct Entry {
    std::string name;
    std::unique_ptr<TextIn> in;
    std::unique_ptr<TextOut> out;
    std::unique_ptr<RecordStore> store;
    std::unique_ptr<SequentialStore> seq;
  };
  Entry& entry(int ch);
  Entry& bind(int ch, std::string name);
  [[noreturn]] void fail_output(const std::string& name, const TextOut& out);
  std::map<int, Entry> table_;
  // Outputs closed before the end of the run, finished and waiting for their names.
  std::vector<std::pair<std::string, std::unique_ptr<TextOut>>> closed_;
};

// The registry of the run.
Channels& channels();

}  // namespace rg
