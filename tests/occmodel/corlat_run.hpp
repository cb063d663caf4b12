#pragma once
// corlat with structure 1 on a fitted-value store of the given records, sites
// S001, S002, ... in a temporary directory: what it printed and cor_logi.dat.
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "channels.hpp"
#include "files.hpp"
#include "model.hpp"
#include "occest.hpp"
#include "stores.hpp"
#include "test_support.hpp"

inline std::pair<rgtest::Outcome, std::string> run_corlat(const std::vector<rg::FittedRecord>& recs, int nsites,
                                                          int threads) {
  using namespace rg;
  rgtest::TempDir dir;
  SiteTable sites;
  sites.nsites = nsites;
  for (int i = 1; i <= nsites; ++i) sites.sitcod(i) = "S00" + std::to_string(i);
  Model model;
  model.spmod = 1;
  auto out = rgtest::capture([&] {
    int ch = 85;
    scropn("DIRECT", "UNFORMATTED", FITTED_RECORD_LENGTH, ch);
    std::int64_t n = 0;
    for (const auto& r : recs) write_fitted(channels().store(ch), ++n, r);
    filchk("cor_logi.dat", 67, STFLAG_OUTPUT);
    corlat(ch, n, sites, model, 67, "logistic.def", MAXSIT, threads);
    channels().close_all();
  });
  return {out, dir.read("cor_logi.dat")};
}

// The lines of cor_logi.dat, which must be the same whether corlat runs on one
// thread or on three; empty when a run stopped.
inline std::vector<std::string> corlat_lines_on_one_and_three_threads(const std::vector<rg::FittedRecord>& recs,
                                                                       int nsites) {
  std::string file[2];
  for (int t = 0; t < 2; ++t) {
    const auto [out, text] = run_corlat(recs, nsites, t == 0 ? 1 : 3);
    EXPECT_FALSE(out.ended) << out.output;
    if (out.ended) return {};
    file[t] = text;
  }
  EXPECT_EQ(file[0], file[1]);
  return rgtest::lines(file[0]);
}
