#include "files.hpp"

#include <charconv>
#include <filesystem>
#include <memory>

#include "channels.hpp"
#include "console.hpp"
#include "fixed_format.hpp"
#include "run_exit.hpp"

namespace rg {

namespace {

// First character of an answer, or 0 for an empty one.
char first_char(const std::string& s) { return s.empty() ? '\0' : s[0]; }

// An input name that exists but is not a readable file (a directory, a link loop, no
// permission): saying "does not exist" would send the user looking in the wrong place.
[[noreturn]] void input_refused(const std::string& name, std::string_view why) {
  Console& con = console();
  con.blank();
  con.line("****ERROR**** Input file " + fmt_a(name, 12) + " " + std::string(why));
  end_run(1);
}

}  // namespace

void filchk(const std::string& name, int channel, int stflag) {
  Console& con = console();
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::file_status st = fs::status(name, ec);  // follows links; a loop is an error here
  if (stflag == STFLAG_INPUT) {
    auto in = std::make_unique<TextIn>();
    if (fs::is_directory(st)) input_refused(name, "is a directory");
    if (!fs::exists(st) && !fs::is_symlink(fs::symlink_status(name, ec))) readerr(name, 0, 1);
    if (!in->open(name)) input_refused(name, "cannot be read");
    channels().bind_input(channel, std::move(in), name);
    return;
  }
  if (stflag == STFLAG_OUTPUT) {
    if (fs::exists(fs::symlink_status(name, ec))) {
      con.blank();
      con.line(Fields().x(5).t("****WARNING**** Output file ").a(name, 12).t(" already exists.").str());
      con.line(Fields().x(5).t("Overwrite it (Y/N, default N)?").str());
      channels().flush_all();
      char c = first_char(con.answer());
      if (c != 'Y' && c != 'y') {
        channels().abandon_outputs();
        end_run(0);
      }
    }
    // The file is written under a temporary name and takes its own name only when
    // complete, so the earlier file stays whole if the run does not finish.
    auto out = std::make_unique<TextOut>();
    if (fs::is_directory(st) || !out->open(name)) {
      con.blank();
      con.line(Fields().x(5).t("****ERROR**** Output file ").a(name, 12).t(" cannot be opened for writing.").str());
      end_run(1);
    }
    channels().bind_output(channel, std::move(out), name);
    return;
  }
  con.blank();
  con.line(Fields().x(5).t("****ERROR**** ").i(stflag, 2).t(" is an invalid value for STFLAG in routine").str());
  con.line(Fields().x(5).t("FILCHK. Contact DEV (error occurred while trying to").str());
  con.line(Fields().x(5).t("open file ").a(name, 12).str());
  end_run(1);
}

void readerr(const std::string& name, int line, int code) {
  Console& con = console();
  const std::string file = fmt_a(name, 12);
  auto ln = [&](int w) { return fmt_iw(line, w); };
  if (code != 38 && code != 39) con.blank();
  switch (code) {
    case 1:
      con.line("****ERROR**** Input file " + file + " does not exist");
      break;
    case 2:
      con.line("****ERROR**** Input error while reading line " + ln(3) + " of file " + file + ".");
      con.line("This *may* (but no promises!) be because you have at least one empty");
      con.line("line at the end of the file. If this is the case, delete the ");
      con.line("offending line(s) and try again.");
      break;
    case 3:
      con.line("****ERROR**** Line " + ln(2) + " of file " + file + " is out of order");
      break;
    case 4:
      con.line("****ERROR**** There is a problem with input file " + file + " - my guess is");
      con.line("the number of header rows is wrong. There should be " + ln(2) + " - see the examples");
      con.line("in the program distribution for a correct specification.");
      break;
    case 10:
      con.line("****ERROR**** Region 0 (entire area) is not defined in file " + file);
      break;
    case 11:
      con.line("****ERROR**** Subareas are not consecutive at line " + ln(2) + " of file " + file);
      break;
    case 15:
      con.line("****ERROR**** No sites defined in file " + file);
      break;
    case 16:
      con.line("****ERROR**** No. of sites defined in file " + file + " exceeds available storage.");
      con.line("Contact DEV please.");
      break;
    case 17:
      con.line("****ERROR**** The site attribute requested on line " + ln(3) + " of file " + file);
      con.line(" has not been defined.");
      break;
    case 18:
      con.line("****ERROR**** On line " + ln(3) + " of file " + file);
      con.line(" you ask for distance-weighted");
      con.line("averages of previous days' values. I need both X and Y site co-ordinates to");
      con.line("be defined in file siteinfo.def.");
      break;
    case 20:
      con.line("****ERROR**** Invalid model component on line " + ln(3) + " of file " + file);
      break;
    case 21:
      con.line("****ERROR**** Illegal interaction specified on line " + ln(3) + " of file " + file);
      break;
    case 22:
      con.line("****ERROR**** On line " + ln(3) + " of file " + file + ", you have asked me");
      con.line("to keep track of too many previous days' values. I can't");
      con.line("remember more than 10!");
      break;
    case 25:
      con.line("****ERROR**** In file " + file + ", some covariates are `trace'");
      con.line("indicators, but you haven't defined a `trace' threshold");
      con.line("in the `global quantities' section of the file.");
      break;
    case 30:
      con.line("****ERROR**** Parameter on line " + ln(3) + " of file " + file + " is already defined.");
      break;
    case 31:
      con.line("****ERROR**** On line " + ln(3) + " of file " + file + ", parameters");
      con.line("are defined for a function which doesn't exist!");
      break;
    case 32:
      con.line("****ERROR**** On line " + ln(3) + " of file " + file + ", you haven't");
      con.line("specified enough information to identify what you want.");
      break;
    case 33:
      con.line("****ERROR**** The nonlinear parameter definition on line " + ln(3) + " of file ");
      con.line(file + " is incorrect. It refers either to a covariate that isn't");
      con.line("a main effect, or to a parameter that doesn't exist.");
      break;
    case 34:
      con.line("****ERROR**** The combination of codes on line " + ln(3) + " of file");
      con.line(file + " is invalid.");
      break;
    case 35:
      con.line("****ERROR**** On line " + ln(3) + " of file " + file + ", you ask");
      con.line("for estimation of a nonlinear parameter, but you've given zero ");
      con.line("as the coefficient of the corresponding covariate!");
      break;
    case 36:
      con.line("****ERROR**** On line " + ln(3) + " of file " + file + ", you've");
      con.line("asked me to estimate a parameter that should be regarded as known.");
      break;
    case 38:
      con.line("****ERROR**** You have asked for orthogonal series representation");
      con.line("of a function over an interval whose upper limit is not greater than");
      con.line("its lower limit (line " + ln(3) + " of file " + file + ")");
      break;
    case 39:
      con.line("****ERROR**** Site number " + ln(3) + " has an attribute outside the range");
      con.line("you have specified for orthogonal series representation in file " + file + ".");
      break;
    case 40:
      con.line("****ERROR**** Model specified in file " + file + " contains ");
      con.line("more parameters than I have available storage (current maximum is " + ln(3) + ")");
      con.line("Increase the storage and recompile.");
      break;
    case 45:
      con.line("****ERROR**** On line " + ln(3) + " of file " + file + ", you specify");
      con.line("a spatial structure which is different from the one you specified");
      con.line("previously in the same file!");
      break;
    case 46:
      con.line("****ERROR**** you've asked for spatial correlation model " + ln(2) + " - ");
      con.line("I don't have one of those!");
      break;
    case 47:
      con.line("****ERROR**** on line " + ln(3) + " of file " + file + ", you specify");
      con.line("a spatial structure which is inconsistent with the response variable");
      con.line("you're trying to model.");
      break;
    case 50:
      con.line("****ERROR**** On line " + ln(3) + " of file " + file + " you've specified a");
      con.line("second dispersion parameter - I can only deal with one.");
      break;
    case 51:
      con.line("****ERROR**** In file " + file + ", you haven't defined a dispersion parameter.");
      break;
    case 52:
      con.line("****ERROR**** On line " + ln(3) + " of file " + file + " you've specified a");
      con.line("dispersion parameter for a model that doesn't have one.");
      break;
    case 60:
      con.line("****ERROR**** Missing external predictor data (current date is " + ln(8) + ")");
      break;
    default:
      con.line("****ERROR**** Unidentified input error in file " + file);
      break;
  }
  end_run(1);
}

std::string value_text(double v) {
  char buf[32];
  auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 4);
  return std::string(buf, r.ptr);
}

bool ask_default_yes(std::string_view question) {
  Console& con = console();
  con.blank();
  con.blank();
  con.line(question);
  channels().flush_all();  // what the run has written so far is on disk while it waits
  char c = first_char(con.answer());
  return c != 'N' && c != 'n';
}

void okcont() {
  if (ask_default_yes("OK to continue (Y/N, default Y)?")) return;
  channels().abandon_outputs();  // nothing has been produced: the earlier files stay
  end_run(0);
}

void scratch_full() {
  Console& con = console();
  const std::string box = blanks(10) + std::string(57, '*');
  auto framed = [&](std::string_view text) { con.line(blanks(10) + "**** " + fmt_a(text, 47) + " ****"); };
  con.blank();
  con.line(box);
  framed("****ERROR**** while writing to scratch file.");
  framed("You are probably out of disk space.");
  con.line(box);
  end_run(1);
}

void scropn(std::string_view access, std::string_view /*form*/, int record_length, int& channel) {
  Channels& reg = channels();
  while (reg.connected(channel)) ++channel;
  std::string_view kind = access.substr(0, access.find_last_not_of(' ') + 1);
  if (kind == "DIRECT") {
    auto store = std::make_unique<RecordStore>(static_cast<std::size_t>(record_length > 0 ? record_length : 0));
    if (!store->is_open()) {
      console().line("****ERROR**** Unable to open a scratch file.");
      end_run(1);
    }
    reg.bind_store(channel, std::move(store));
  } else {
    auto store = std::make_unique<SequentialStore>();
    if (!store->is_open()) {
      console().line("****ERROR**** Unable to open a scratch file.");
      end_run(1);
    }
    reg.bind_sequential(channel, std::move(store));
  }
}

void prgerr(std::string_view routine, std::string_view module, int kind) {
  Console& con = console();
  const std::string r = fmt_a(routine, 8), m = fmt_a(module, 12);
  con.blank();
  if (kind == 1) {
    con.line("*****ERROR***** In routine " + r + " (source file " + m + "),");
    con.line("some internal array dimensions are incompatible with the routine's");
    con.line("arguments. Check the PARAMETER statements in this routine, and recompile.");
  } else if (kind == 2) {
    con.line("*****ERROR***** In routine " + r + " (source file " + m + "),");
    con.line("there is insufficient internal storage to cope with this problem.");
    con.line("You should increase the dimension of some or all of the internal arrays for");
    con.line("this routine, and recompile.");
  } else {
    con.line("*****ERROR***** Unidentified programming error found in routine " + r);
    con.line("(source file " + m + ")");
  }
  end_run(1);
}

int days_in_month(int month, int year) {
  static constexpr int length[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month == 2) return (year % 4 == 0 && (year % 100 != 0 || year % 400 == 0)) ? 29 : 28;
  if (month < 1 || month > 12) return 0;  // callers pass 1 to 12; never index outside the table
  return length[month - 1];
}

bool is_calendar_date(int year, int month, int day) {
  return year >= 1 && day >= 1 && day <= days_in_month(month, year);
}

}  // namespace rg
