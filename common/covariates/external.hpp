#pragma once
// External yearly, monthly and daily predictors, read from the fixed-name files
// yr_preds.dat, mn_preds.dat and dy_preds.dat. The driver opens each file that the
// model needs on its channel (31, 32, 33) before the covariate texts are set; the
// routines here keep a place in each file between calls.
#include <string>

#include "arrays.hpp"

namespace rg {

constexpr int MAXNPR = 50;          // predictors held per record
constexpr int EXT_ANNUAL = 1;       // kinds of external predictor file
constexpr int EXT_MONTHLY = 2;
constexpr int EXT_DAILY = 3;
constexpr double EXTMIS = -9999.9;  // missing value code

// Channel on which the driver opens the file of a kind: 31 yr_preds.dat,
// 32 mn_preds.dat, 33 dy_preds.dat.
int extchn(int kind);
// File name of a kind.
const char* extfil(int kind);

// Value of predictor p of the file of `kind` open on `channel` for the date
// (dd, mm, yy), lagged by `lag` years, months or days (the record with time index
// t - lag is used). missing = 1 when the value is the missing code or the date lies
// outside the file's period (value then EXTMIS), else 0. The first call for a kind
// scans and validates the whole file; faults in the file stop the run.
void extset(int channel, int kind, int p, int dd, int mm, int yy, int lag, double& value, int& missing);
// The same on the kind's standard channel.
void extset(int kind, int p, int dd, int mm, int yy, int lag, double& value, int& missing);

// Reads one data record of the file: year, month and day (0 where the kind has
// none) and the first min(n, capacity) values into values(1..). status 0 read,
// 1 unreadable (non-numeric field, blank value field, record shorter than n
// values), 2 end of file.
void rdxrec(int channel, int kind, int& yy, int& mm, int& dd, int n, Array1<double>& values, int capacity, int& status);

// Time index of a date, consecutive records differing by 1: year - 2000, months
// from January 2000, days from 1 January 2000.
void idxset(int kind, int yy, int mm, int dd, int& index);

// 70-character label of predictor p of the file on `channel` ("Lag  -2: ..." when
// lag is not 0); rewinds the file.
void extxst(int channel, int kind, int p, int lag, std::string& label);
// Label builder for the model report: extxst on the kind's standard channel.
std::string extlabel(int kind, int p, int lag);

// Forgets what was learnt about every file (new run, tests).
void extrst();

}  // namespace rg
