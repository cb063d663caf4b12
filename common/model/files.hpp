#pragma once
// Opening the fixed-name files, the shared console questions and the fatal reports
// for faulty input files and internal capacity errors.
#include <string>
#include <string_view>

namespace rg {

// Open modes of filchk.
constexpr int STFLAG_INPUT = 1;
constexpr int STFLAG_OUTPUT = 2;

// Opens a file on a channel: STFLAG 1 an existing file for reading, 2 a new output
// file (asking before overwriting an existing one).
void filchk(const std::string& name, int channel, int stflag);
// Reports a faulty input file by error code and ends the run.
[[noreturn]] void readerr(const std::string& name, int line, int code);
// A value read from an input file as a message shows it: shortest form of 4
// significant digits (0.8, 1e+300, -2.5e-07).
std::string value_text(double v);
// Asks a question whose default is yes, after two empty lines: false only when the
// answer starts with N or n.
bool ask_default_yes(std::string_view question);
// "OK to continue" question: an answer starting with N or n ends the run.
void okcont();
// Opens an anonymous scratch store on the first free channel from channel upwards;
// access "DIRECT" (fixed records of record_length bytes) or "SEQUENTIAL".
void scropn(std::string_view access, std::string_view form, int record_length, int& channel);
// Reports a failed write of a scratch store (in practice a full disk) and ends the run.
[[noreturn]] void scratch_full();
// Reports an internal capacity or programming error and ends the run.
[[noreturn]] void prgerr(std::string_view routine, std::string_view module, int kind);

// Days in a month of a Gregorian year.
int days_in_month(int month, int year);

// Whether year, month and day name a day of the calendar (year 1 onwards).
bool is_calendar_date(int year, int month, int day);

}  // namespace rg
