#pragma once
// The model record: one per model (occurrence or amount), filled from a model
// definition file by mdlset, completed by the attribute transformations, described
// by txtset, printed by chkmdl and updated by the fitting engine.
//
// Covariate numbering: the constant is covariate 0, the component lines after it
// 1, 2, ... in file order. Covariates 1..np(4) are main effects, np(4)+1..np(5)
// two-way and np(5)+1..np(6) three-way interactions. Positions np(6)+1..np(7) of
// beta and covcod hold the nonlinear parameters that are estimated.
#include <string>

#include "arrays.hpp"
#include "sites.hpp"
#include "spatial.hpp"  // MAXRHO and the structure vocabulary

namespace rg {

constexpr int MAXPAR = 80;   // covariates after the constant; first dimension of per-covariate tables
constexpr int MAXNLP = 3;    // nonlinear parameters per covariate
constexpr int MAXGLB = 80;   // global quantities
constexpr int MAXLAG = 10;   // previous days remembered
constexpr int NPCNT = 10;    // entries of np
constexpr int MAXWTS = MAXPAR;  // rows of pwtidx (weighting scheme numbers)
constexpr int TXTLEN = 70;   // description texts and the title

// Marker of a real parameter slot that has not been given; any value at or above
// NOTDEF_LIMIT counts as "not defined".
constexpr double NOTDEF = 1.0e9;
constexpr double NOTDEF_LIMIT = 1.0e8;
inline bool isdef(double v) { return v < NOTDEF_LIMIT; }
// Global quantity values count as defined by magnitude.
inline bool glbdef(double v) { return v > -NOTDEF_LIMIT && v < NOTDEF_LIMIT; }

// Response types.
constexpr int RSP_OCCURRENCE = 1;   // logistic model of wet/dry
constexpr int RSP_AMOUNT = 11;      // gamma model of wet-day amounts

struct Model {
  std::string mdltit = std::string(TXTLEN, ' ');  // title (line 48), 70 characters
  // np(1..6): cumulative counts of covariates of type <= 1..6; np(7): length of the
  // parameter vector when a nonlinear parameter line exists (else 0); np(8): global
  // quantities; np(9): dispersion parameters; np(10): spatial parameter lines.
  Array1<int> np{1, NPCNT, 0};
  Array1<double> beta{0, MAXPAR, 0.0};
  Array1<int> covcod{1, MAXPAR, 0};
  Array2<int> sitxfm{1, MAXPAR, 1, 2, 0};       // (attribute, transformation) of type-1 covariates
  Array1<int> wtschm{1, MAXPAR, 0};              // weighting scheme (>= 2) of previous-day covariates
  Array2<int> twoway{1, MAXPAR, 1, 2, 0};       // members of two-way interactions
  Array2<int> thrway{1, MAXPAR, 1, 3, 0};       // members of three-way interactions
  Array2<double> theta{1, MAXPAR, 1, MAXNLP, NOTDEF};  // nonlinear parameters
  Array2<int> nlstat{1, MAXPAR, 1, MAXNLP, -1};  // -1 none, 0 fixed, other: estimated
  Array1<int> fouidx{1, MAXATT, 0};              // per attribute: holder of Fourier limits
  Array1<int> legidx{1, MAXATT, 0};              // per attribute: holder of Legendre limits
  Array2<int> pwtidx{1, MAXWTS, 1, 4, 0};        // per scheme: holder, positions of estimated parameters
  Array1<double> glbval{1, MAXGLB, NOTDEF};      // global quantity values by code 1
  Array1<int> glbcod{1, MAXGLB, -1};             // 1000*code1 + code2 in file order
  double nu = 1.0;                                // dispersion (gamma shape)
  int spmod = 0;                                  // spatial dependence structure
  Array1<double> rho{1, MAXRHO, NOTDEF};         // spatial dependence parameters
  int mxlag = 0;                                  // previous days needed (0..10)
  int iexty = 0, iextm = 0, iextd = 0;            // external yearly/monthly/daily predictors used

  // Descriptions (filled by txtset), 70 characters each.
  Array1<std::string> covtxt{0, MAXPAR, std::string(TXTLEN, ' ')};
  Array2<std::string> partxt{1, MAXPAR, 1, MAXNLP, std::string(TXTLEN, ' ')};
  Array1<std::string> glbtxt{1, MAXGLB, std::string(TXTLEN, ' ')};

  Model() {
    std::string t = "Threshold for small positive values";
    glbtxt(1) = t + std::string(TXTLEN - t.size(), ' ');
  }
  // Number of parameters in the parameter vector (np(7), or np(6) when no nonlinear
  // parameter line was given).
  int npar() const { return np(7) != 0 ? np(7) : np(6); }
};

// Reads the model definition file open on the channel (lines 1-47 skipped, title on
// line 48, component lines from 49) into m, which must hold the initial values of a
// fresh Model. rsptyp is RSP_OCCURRENCE or RSP_AMOUNT; dspreq is 1 when the amount
// model is read for simulation (a dispersion parameter is required and estimation
// requests are ignored), else 0. The site table must have been read. Every fault
// stops the run through readerr. The file is left open and positioned at its end.
void mdlset(int channel, const std::string& file, int rsptyp, int dspreq, const SiteTable& sites, Model& m);

// Threshold settings from the global quantities: the first code 1000..1999 gives
// kind = code2 - 1 (0 trace, 1 soft, 2 hard) and its value goes to trace (kind 0)
// or postiv (otherwise). All three are 0 when there is no such code.
void taudef(const Model& m, double& postiv, double& trace, int& kind);

// Derivative of the linear predictor with respect to main effect mno for row `row`
// of the covariate matrix covs (row x covariate number 1..MAXPAR).
double nlcntr(int mno, const Model& m, const Matrix& covs, int row);

// ---- Descriptions and the printed model report ----

// Texts of covariates that belong to the covariate construction. The defaults give
// plain labels; the covariate module installs the full builders at start-up.
struct CovariateTextHooks {
  // Rewrites the 70-character lag label ("Y[t-k]") of a previous-day covariate with
  // code above 1000 into its full description.
  void (*prvtxt)(int code, std::string& text) = nullptr;
  // 70-character label of external predictor number `predictor` of kind 1 (yearly),
  // 2 (monthly) or 3 (daily), lagged by `offset`.
  std::string (*extlabel)(int kind, int predictor, int offset) = nullptr;
};
CovariateTextHooks& covariate_text_hooks();

// Fills m.covtxt, m.partxt and m.glbtxt. attnam: the 70-character attribute names
// (including derived columns).
void txtset(Model& m, const Array1<std::string>& attnam);

// Model report: mode 1 initial (console and file channel, title, notes and the
// continue question), 2 progress (console only), 3 final with standard errors
// (console and file). sebeta (0..MAXPAR) and setheta (MAXPAR x 3) are read only in
// mode 3. filech is the open output channel (60, the results file, in the fitting
// programs).
void chkmdl(const Model& m, const Array1<double>& sebeta, const Array2<double>& setheta,
            const Array1<std::string>& attnam, int mode, int rsptyp, int filech = 60);
// Modes 1 and 2, which print no standard errors.
void chkmdl(const Model& m, const Array1<std::string>& attnam, int mode, int rsptyp, int filech = 60);

}  // namespace rg
