#include "output_set.hpp"

#include "csv_table.hpp"

namespace rg {

OutputSet::OutputSet(std::filesystem::path dir) : dir_(std::move(dir)) {
  std::error_code ec;
  std::filesystem::create_directories(dir_, ec);
  if (!std::filesystem::is_directory(dir_))
    csv_fail("Output directory " + dir_.string() + " cannot be created.");
}

OutputSet::~OutputSet() {
  if (committed_) return;
  for (auto& item : items_) {
    item->out.close();
    std::error_code ec;
    std::filesystem::remove(item->temp, ec);
  }
}

TextOut& OutputSet::open(const std::string& name) {
  auto item = std::make_unique<Item>();
  item->name = name;
  item->temp = dir_ / ("." + name + ".raincsv-tmp");
  if (!item->out.open(item->temp.string()))
    csv_fail("File " + item->temp.string() + " cannot be opened for writing.");
  items_.push_back(std::move(item));
  return items_.back()->out;
}

void OutputSet::commit() {
  auto failed = [&](const Item& item) {
    const std::string why = item.out.error_text();
    csv_fail("File " + (dir_ / item.name).string() + " could not be written completely" +
             (why.empty() ? "" : ": " + why) + ".");
  };
  // A file whose writing failed on the way is the one to name: the files written
  // before it may only fail when closed, because it filled the disk.
  for (auto& item : items_)
    if (!item->out.good()) failed(*item);
  for (auto& item : items_)
    if (!item->out.close()) failed(*item);
  for (auto& item : items_) {
    std::error_code ec;
    std::filesystem::rename(item->temp, dir_ / item->name, ec);
    if (ec) csv_fail("File " + (dir_ / item->name).string() + " cannot be replaced: " + ec.message() + ".");
  }
  committed_ = true;
}

}  // namespace rg
