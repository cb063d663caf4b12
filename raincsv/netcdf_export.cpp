#include "netcdf_export.hpp"

#include <ctime>
#include <filesystem>
#include <fstream>

#include "cf_outputs.hpp"
#include "channels.hpp"
#include "console.hpp"
#include "csv_table.hpp"
#include "dateutil.hpp"
#include "files.hpp"
#include "fixed_parse.hpp"
#include "sim_files.hpp"
#include "simsetup.hpp"
#include "station_map.hpp"

namespace rg {

namespace fs = std::filesystem;

namespace {

// The output under a temporary name beside it; removed unless committed.
class TempOutput {
 public:
  explicit TempOutput(const fs::path& path) : final_(path) {
    std::string name(".");
    name.append(path.filename().string()).append(".raincsv-tmp");
    temp_ = path.parent_path() / name;
    std::error_code ec;
    if (!path.parent_path().empty() && !fs::is_directory(path.parent_path(), ec))
      csv_fail("File " + path.string() + " cannot be written: there is no folder " + path.parent_path().string() + ".");
  }
  ~TempOutput() {
    std::error_code ec;
    if (!committed_) fs::remove(temp_, ec);
  }
  std::string temp() const { return temp_.string(); }
  // A library error, told with the file's final name.
  [[noreturn]] void fail(const nc::NcError& e) const {
    std::string what = e.what();
    if (auto at = what.find(temp()); at != std::string::npos) what.replace(at, temp().size(), final_.string());
    csv_fail(what);
  }
  void commit() {
    std::error_code ec;
    fs::rename(temp_, final_, ec);
    if (ec) csv_fail("File " + final_.string() + " cannot be replaced: " + ec.message() + ".");
    committed_ = true;
  }

 private:
  fs::path final_, temp_;
  bool committed_ = false;
};

// The first and the last non-empty line of a file of fixed-length records; only
// the end of the file is read for the last one.
std::pair<std::string, std::string> first_and_last_lines(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in || fs::is_directory(path)) csv_fail("File " + path + " cannot be opened for reading.");
  std::string first;
  std::getline(in, first);
  in.clear();
  in.seekg(0, std::ios::end);
  const std::streamoff size = in.tellg(), tail = std::min<std::streamoff>(size, 1 << 16);
  std::string end(static_cast<std::size_t>(tail), '\0');
  in.seekg(size - tail);
  in.read(end.data(), tail);
  while (!end.empty() && (end.back() == '\n' || end.back() == '\r' || end.back() == ' ')) end.pop_back();
  std::string last = end.substr(end.find_last_of("\r\n") == std::string::npos ? 0 : end.find_last_of("\r\n") + 1);
  while (!first.empty() && first.back() == '\r') first.pop_back();
  if (trim_right(first).empty()) csv_fail("File " + path + " holds no records.");
  return {first, last};
}

int julian(int year, int month, int day) {
  int j = 0, fail = 0;
  dmytoj(day, month, year, j, fail);
  return j;
}

// Realisation number and date at the head of a record (day 1 for monthly.dat).
struct Head {
  int realisation = 0, year = 0, month = 1, day = 1;
};

Head read_head(const std::string& path, std::string_view line, bool daily, const char* which) {
  auto r = read_int(line, 1, 3), y = read_int(line, 5, 4);
  Head h;
  if (r && y) h = {static_cast<int>(*r), static_cast<int>(*y), 1, 1};
  if (daily) {
    auto m = read_int(line, 10, 2), d = read_int(line, 13, 2);
    if (m && d) h.month = static_cast<int>(*m), h.day = static_cast<int>(*d);
    if (!m || !d) r.reset();
  }
  if (!r || !y || h.realisation < 0 || !is_calendar_date(h.year, h.month, h.day))
    csv_fail(path + ", " + which + " record: unreadable realisation number or date.");
  return h;
}

// The extent of the file from its first and last records.
nc::Axes axes_of(const std::string& path, bool daily) {
  auto [first_line, last_line] = first_and_last_lines(path);
  const Head a = read_head(path, first_line, daily, "first"), b = read_head(path, last_line, daily, "last");
  nc::Axes ax;
  ax.year = a.year, ax.month = a.month, ax.day = a.day;
  const long steps =
      daily ? julian(b.year, b.month, b.day) - julian(a.year, a.month, a.day) + 1L : 12L * (b.year - a.year + 1);
  if (b.realisation < a.realisation || steps < 1)
    csv_fail(path +
             ": the last record precedes the first one; the records are not in the order the simulation writes.");
  ax.steps = static_cast<std::size_t>(steps);
  ax.first_realisation = a.realisation;
  ax.realisations = static_cast<std::size_t>(b.realisation - a.realisation + 1);
  return ax;
}

std::string history_line(const std::string& command) {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return stamp + (": " + command);
}

// The models' titles and the seed recorded by the simulation in mdlspec.txt beside
// its outputs; empty without that file.
std::string simulation_source(const fs::path& dir) {
  TextIn in;
  if (!in.open((dir / "mdlspec.txt").string())) return {};
  std::string source, seed, before_last, last;
  const std::string seed_label = "Seed for random number generator:";
  int models = 0;
  while (auto l = in.next()) {
    // A model's report starts with its title and a line of "=" under it.
    if (*l == "Initial parameter estimates:")
      source += std::string(models++ == 0 ? "occurrence model: " : "; amount model: ") + std::string(trim(before_last));
    if (l->rfind(seed_label, 0) == 0) seed = std::string(trim(l->substr(seed_label.size())));
    before_last = std::move(last);
    last = std::move(*l);
  }
  if (!seed.empty()) source += (source.empty() ? "" : "; ") + std::string("seed ") + seed;
  return source.empty() ? source : "rainglm dailygen simulation (" + source + ")";
}

[[noreturn]] void record_fail(const std::string& path, long line, const std::string& what) {
  csv_fail(path + ", line " + std::to_string(line) + ": " + what);
}

// True when realisation real and step lie outside the file's axes.
bool outside(const nc::Axes& ax, long real, long step) {
  return real < 0 || real >= static_cast<long>(ax.realisations) || step < 0 || step >= static_cast<long>(ax.steps);
}

}  // namespace

void export_daily_netcdf(const std::string& daily_path, const std::string& sites_path, const std::string& out_path,
                         const std::string& command) {
  auto sites = read_sites(sites_path);
  const nc::Axes ax = axes_of(daily_path, true);

  nc::Stations st;
  st.code = site_codes(*sites);
  const auto map = read_station_map(fs::path(sites_path).parent_path());
  if (!map.empty()) st.archive_id = mapped_ids(map, st.code);
  for (int s = 1; s <= sites->nsites; ++s) {
    st.name.emplace_back(trim(sites->sitnam(s)));
    st.region.push_back(sites->region(s));
  }
  st.archive_var = "ghcn_id";
  st.archive_title = "GHCN-Daily station identifier";
  for (int k = 1; k <= sites->nattr; ++k) {
    nc::Stations::Attribute a{std::string(trim(sites->attnam(k))), {}};
    for (int s = 1; s <= sites->nsites; ++s) a.value.push_back(sites->sitinf(s, k, 1));
    st.attributes.push_back(std::move(a));
  }
  nc::Globals g{"Daily rainfall at " + std::to_string(sites->nsites) + " gauges, simulated", history_line(command),
                simulation_source(fs::path(daily_path).parent_path())};

  TempOutput out(out_path);
  long records = 0;
  try {
    nc::DailyFile file(out.temp(), st, ax, g);
    const int origin = julian(ax.year, ax.month, ax.day);
    DailyDatReader in(daily_path, st.code);
    DailyDatRecord r;
    long previous = -1;
    while (in.next(r)) {
      const long real = r.realisation - ax.first_realisation, step = julian(r.year, r.month, r.day) - origin;
      const long position = real * static_cast<long>(ax.steps) + step;
      if (position <= previous)
        record_fail(daily_path, in.line(), "the records are not in order of realisation and date.");
      if (outside(ax, real, step))
        record_fail(daily_path, in.line(),
                    "the record lies outside the realisations and days of the first and last records.");
      previous = position;
      file.day(static_cast<std::size_t>(real), static_cast<std::size_t>(step), r.value, r.flag);
      ++records;
    }
    file.close();
  } catch (const nc::NcError& e) {
    out.fail(e);
  }
  out.commit();
  console().line(" Written " + out_path + ": " + std::to_string(records) + " daily records of " +
                 std::to_string(st.code.size()) + " gauges, " + std::to_string(ax.realisations) + " realisations, " +
                 std::to_string(ax.steps) + " days.");
}

void export_monthly_netcdf(const std::string& monthly_path, const std::string& regions_path,
                           const std::string& out_path, const std::string& command) {
  constexpr int REGION_CHANNEL = 11;
  RegionNames table = region_table();
  int nreg = 0;
  filchk(regions_path, REGION_CHANNEL, STFLAG_INPUT);
  regdef(regions_path, REGION_CHANNEL, table, nreg);
  std::vector<std::string> names;
  for (int r = 0; r <= nreg; ++r) names.emplace_back(trim(table(r)));
  const nc::Axes ax = axes_of(monthly_path, false);
  nc::Globals g{"Monthly rainfall totals of " + std::to_string(nreg + 1) + " regions, simulated", history_line(command),
                simulation_source(fs::path(monthly_path).parent_path())};

  TempOutput out(out_path);
  long records = 0;
  try {
    nc::MonthlyFile file(out.temp(), names, ax, g);
    MonthlyDatReader in(monthly_path);
    MonthlyDatRecord r;
    long previous = -1;
    while (in.next(r)) {
      const long real = r.realisation - ax.first_realisation, step = 12L * (r.year - ax.year);
      if (r.region < 0 || r.region > nreg)
        record_fail(monthly_path, in.line(),
                    "region " + std::to_string(r.region) + " is not defined in " + regions_path + ".");
      if (outside(ax, real, step))
        record_fail(monthly_path, in.line(),
                    "the record lies outside the realisations and years of the first and last records.");
      const long position = (real * static_cast<long>(ax.steps) + step) * (nreg + 1) + r.region;
      if (position <= previous)
        record_fail(monthly_path, in.line(), "the records are not in order of realisation, year and region.");
      previous = position;
      file.year(static_cast<std::size_t>(real), static_cast<std::size_t>(step), r.region, r.total.data());
      ++records;
    }
    file.close();
  } catch (const nc::NcError& e) {
    out.fail(e);
  }
  out.commit();
  console().line(" Written " + out_path + ": " + std::to_string(records) + " yearly records of " +
                 std::to_string(nreg + 1) + " regions, " + std::to_string(ax.realisations) + " realisations, " +
                 std::to_string(ax.steps) + " months.");
}

}  // namespace rg
