#pragma once
// report.html: one self-contained page with the summary, every plot (embedded) and
// the run's inputs.
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "plots.hpp"
#include "text_files.hpp"
#include "validation.hpp"

namespace rg {

struct ReportInputs {
  std::vector<std::pair<std::string, std::string>> items;  // label, value
};

// Writes the page; the PNGs of plots.drawn are read from out_dir and embedded.
void write_report_html(TextOut& out, const ReportInputs& inputs, const std::vector<StatSummary>& summary,
                       const PlotScript& plots, bool plots_drawn, const std::filesystem::path& out_dir);

// Bytes as base64 (RFC 4648, with padding).
std::string base64(const std::string& bytes);

}  // namespace rg
