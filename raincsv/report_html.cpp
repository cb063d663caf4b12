#include "report_html.hpp"

#include <charconv>
#include <cmath>
#include <fstream>
#include <iterator>

#include "csv_table.hpp"

namespace rg {

namespace {

// A statistic is marked when fewer observed values than these shares lie inside the
// simulated 5-95 % range (a calibrated generator puts about 90 % inside): shaded
// below the first, flagged as often outside below the second.
constexpr double SHADE_BELOW = 0.8, FLAG_BELOW = 0.5;

std::string escaped(const std::string& s) {
  std::string out;
  for (char c : s) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string fixed(double v, int decimals) {
  if (std::isnan(v)) return "";
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, decimals);
  return std::string(buf, r.ptr);
}

std::string read_bytes(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  if (!in) csv_fail("File " + p.string() + " cannot be opened for reading.");
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

const char* const STYLE =
    "body{font-family:sans-serif;max-width:960px;margin:2em auto;padding:0 1em;color:#222}"
    "table{border-collapse:collapse;margin:1em 0}td,th{border:1px solid #bbb;padding:3px 8px}"
    "td.n{text-align:right}tr.shade{background:#fff4d6}tr.flag{background:#fbd3cb}img{max-width:100%;border:1px solid #ddd}"
    "p.note{color:#555}";

}  // namespace

std::string base64(const std::string& bytes) {
  static const char* const digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    const unsigned v = static_cast<unsigned char>(bytes[i]) << 16 | static_cast<unsigned char>(bytes[i + 1]) << 8 |
                       static_cast<unsigned char>(bytes[i + 2]);
    for (int k = 18; k >= 0; k -= 6) out += digits[v >> k & 63];
  }
  if (i < bytes.size()) {
    const bool two = i + 1 < bytes.size();
    const unsigned v = static_cast<unsigned char>(bytes[i]) << 16 | (two ? static_cast<unsigned char>(bytes[i + 1]) << 8 : 0u);
    out += digits[v >> 18 & 63];
    out += digits[v >> 12 & 63];
    out += two ? digits[v >> 6 & 63] : '=';
    out += '=';
  }
  return out;
}

void write_report_html(TextOut& out, const ReportInputs& inputs, const std::vector<StatSummary>& summary,
                       const PlotScript& plots, bool plots_drawn, const std::filesystem::path& out_dir) {
  out.line("<!DOCTYPE html>");
  out.line("<html lang=\"en\"><head><meta charset=\"utf-8\"><title>Validation report</title>");
  out.line(std::string("<style>") + STYLE + "</style></head><body>");
  out.line("<h1>Validation report: simulation against observations</h1>");

  out.line("<h2>Summary</h2>");
  out.line("<p>Per statistic: the rows of <code>validation.csv</code>, the mean absolute error of the simulated mean "
           "against the observed value, and the share of observed values inside the simulated 5&ndash;95 % range "
           "(about 90 % for a calibrated generator). Rows with fewer than 80 % inside are shaded; those with "
           "fewer than 50 % inside, the statistics the simulation misses most often, are flagged (&#9873;) in "
           "red.</p>");
  out.line("<table><tr><th>statistic</th><th>rows</th><th>compared</th><th>mean abs. error</th>"
           "<th>inside 5&ndash;95 %</th></tr>");
  for (const auto& s : summary) {
    const double share = s.compared > 0 ? static_cast<double>(s.inside) / s.compared : NAN;
    const bool flag = s.compared > 0 && share < FLAG_BELOW, shade = s.compared > 0 && share < SHADE_BELOW;
    out.line(std::string(flag ? "<tr class=\"flag\">" : shade ? "<tr class=\"shade\">" : "<tr>") + "<td>" +
             escaped(s.statistic) + (flag ? " &#9873;" : "") +
             "</td><td class=\"n\">" + std::to_string(s.rows) + "</td><td class=\"n\">" + std::to_string(s.compared) +
             "</td><td class=\"n\">" + fixed(s.mean_abs_error, 4) + "</td><td class=\"n\">" +
             (s.compared > 0 ? fixed(100 * share, 0) + " %" : "") + "</td></tr>");
  }
  out.line("</table>");

  out.line("<h2>Plots</h2>");
  if (!plots_drawn) out.line("<p class=\"note\">The plots were left out (--no-plots).</p>");
  else
    for (const auto& p : plots.drawn) {
      out.line("<h3>" + escaped(p.title) + "</h3>");
      out.line("<p>" + escaped(p.reading) + "</p>");
      out.line("<img alt=\"" + escaped(p.file) + "\" src=\"data:image/png;base64," +
               base64(read_bytes(out_dir / p.file)) + "\">");
    }
  for (const auto& [file, why] : plots.left_out)
    out.line("<p class=\"note\">" + escaped(file) + " is left out: " + escaped(why) + ".</p>");

  out.line("<h2>Inputs</h2>");
  out.line("<table>");
  for (const auto& [label, value] : inputs.items)
    out.line("<tr><th>" + escaped(label) + "</th><td>" + escaped(value) + "</td></tr>");
  out.line("</table>");
  out.line("</body></html>");
}

}  // namespace rg
