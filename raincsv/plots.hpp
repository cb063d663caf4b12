#pragma once
// Plots of the validation statistics: a plotting script with the data inline, run by
// gnuplot to draw one PNG file per statistic.
#include <filesystem>
#include <vector>

#include "text_files.hpp"
#include "validation.hpp"

namespace rg {

// Names of the PNG files the script draws, in the order it draws them.
const std::vector<std::string>& plot_files();
// Writes the script; the PNG files go to out_dir.
void write_plot_script(TextOut& out, const std::vector<StatRow>& rows, const std::filesystem::path& out_dir);
// Runs gnuplot on out_dir/plots.gp (without a shell); a missing or failing gnuplot
// ends the run with an error.
void draw_plots(const std::filesystem::path& out_dir);

}  // namespace rg
