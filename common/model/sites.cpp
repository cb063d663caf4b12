#include "sites.hpp"

#include "channels.hpp"
#include "console.hpp"
#include "run_exit.hpp"
#include "files.hpp"
#include "fixed_format.hpp"
#include "fixed_parse.hpp"

namespace rg {

namespace {

using sitefile::ATTR_WIDTH;
using sitefile::CODE_WIDTH;
using sitefile::HEADER_LINES;
using sitefile::NAME_WIDTH;
using sitefile::REGION_WIDTH;

// The next line of the site file; a file that ends here is reported as an input error
// at the line that is missing.
std::string need_line(TextIn& in, const std::string& name) {
  auto l = in.next();
  if (!l) readerr(name, static_cast<int>(in.line_number() + 1), 2);
  return *l;
}

[[noreturn]] void duplicate_site(const std::string& name, const std::string& code, int first, int second) {
  Console& con = console();
  con.blank();
  con.line("****ERROR**** Site code " + code + " is defined twice in file " + fmt_a(name, 12) + " (sites " +
           fmt_i(first, 3) + " and " + fmt_i(second, 3) + ").");
  end_run(1);
}

}  // namespace

void sitedef(int channel, const std::string& name, SiteTable& sites) {
  TextIn& in = channels().input(channel);
  sites.nsites = 0;
  for (int i = 0; i < HEADER_LINES; ++i) need_line(in, name);

  auto count = first_int(need_line(in, name));
  // More attributes than a data line can carry would leave the rest silently zero.
  if (!count || *count < 0 || *count > MAXDATAATT) readerr(name, HEADER_LINES + 1, 2);
  sites.nattr = static_cast<int>(*count);
  for (int k = 1; k <= sites.nattr; ++k) sites.attnam(k) = fmt_a(need_line(in, name), NAME_WIDTH);
  need_line(in, name);  // heading of the site list

  while (auto name_line = in.next()) {
    if (sites.nsites == MAXSIT) readerr(name, 0, 16);
    std::string data = need_line(in, name);
    int data_line = static_cast<int>(in.line_number());
    int s = sites.nsites + 1;
    auto region = read_int(data, CODE_WIDTH + 1, REGION_WIDTH);
    if (!region || *region < -9999 || *region > 99999) readerr(name, data_line, 2);
    for (int k = 1; k <= sites.nattr; ++k) {
      auto v = read_real(data, ATTR_WIDTH * k, ATTR_WIDTH);
      if (!v) readerr(name, data_line, 2);
      sites.sitinf(s, k, 1) = *v;
    }
    sites.sitnam(s) = fmt_a(*name_line, NAME_WIDTH);
    sites.sitcod(s) = fmt_a(column_field(data, 1, CODE_WIDTH), CODE_WIDTH);
    // A gauge listed twice would have every record of it counted twice.
    for (int t = 1; t < s; ++t)
      if (sites.sitcod(t) == sites.sitcod(s)) duplicate_site(name, sites.sitcod(s), t, s);
    sites.region(s) = static_cast<int>(*region);
    sites.nsites = s;
  }
  channels().close(channel);
  if (sites.nsites == 0) readerr(name, 0, 15);
}

}  // namespace rg
