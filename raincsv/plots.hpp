#pragma once
// Plots of the validation statistics: a plotting script with the data inline, run by
// gnuplot to draw one PNG file per statistic.
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "text_files.hpp"
#include "validation.hpp"

namespace rg {

struct PlotInfo {
  std::string file, title, reading;  // reading: how to read the plot, two sentences
};

// What the script draws, in order, and the plots left out for want of points.
struct PlotScript {
  std::vector<PlotInfo> drawn;
  std::vector<std::pair<std::string, std::string>> left_out;  // file, reason
};

// Names of every PNG file the script can draw.
const std::vector<std::string>& plot_files();
// Writes the script; the PNG files go to out_dir.
PlotScript write_plot_script(TextOut& out, const std::vector<StatRow>& rows, const ReturnLevels& levels,
                             const std::filesystem::path& out_dir);
// Runs gnuplot on out_dir/plots.gp (without a shell); a missing or failing gnuplot
// ends the run with an error.
void draw_plots(const std::filesystem::path& out_dir);

}  // namespace rg
