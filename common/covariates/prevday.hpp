#pragma once
// Previous-day predictors: today's covariate built from the response k days ago,
// at the site itself or averaged over the network with equal, distance-decaying or
// shifted distance-decaying weights, optionally transformed before or after the
// averaging. Also the dispatcher dyset of the daily covariates and the parameter
// count check shared by all covariate families.
//
// Covariate code of a previous-day predictor (non-negative):
//   code % 1000          lag k, 1..10
//   (code / 1000) % 10   transformation 0..5 (none, ln y, ln(1+y), y > 0,
//                        trace indicator, wet on all of the last k days)
//   (code / 10000) % 10  weighting scheme 0 (own site), 1 (mean), 2 (distance
//                        weighted), 3 (shifted distance weighted)
//   code / 100000        order: 0 transform then average, 1 average then transform
#include <array>
#include <string>

#include "arrays.hpp"
#include "sites.hpp"

namespace rg {

// Value returned for a covariate that cannot be formed (missing history, logarithm
// of a non-positive number).
constexpr double PRVBAD = -1.0e12;

// Parameters of weighting schemes 0..3.
constexpr int WTSNPAR[4] = {0, 0, 1, 3};

// Digits of a previous-day covariate code.
inline int prvlag(int code) { return code % 1000; }
inline int prvxfn(int code) { return (code / 1000) % 10; }
inline int prvwts(int code) { return (code / 10000) % 10; }
inline int prvord(int code) { return code / 100000; }

// Stops the run unless exactly the first n of the three parameter slots of theta row
// `row` are defined (a slot is defined when it is at most 1.0E8).
void thtchk(const Array2<double>& theta, int row, int n, int maxpar);

// Transformation xfm of the value y: result[0] = f(y), and result[1] = f'(y) when
// deriv is 1. Transformation 5 looks at previous(site, 1..lag); trace is the trace
// threshold of transformation 4. A logarithm of a non-positive number prints a
// warning and gives PRVBAD for both.
void prvxfm(double y, int xfm, double trace, int lag, const Matrix& previous, int site, int deriv,
            std::array<double, 2>& result);

// Weight of site j in the average for target site i under weighting scheme `scheme`
// with the parameters of row pwtidx(scheme,1) of theta: result[0] = w, result[1..nderiv]
// its derivatives with respect to the scheme's parameters. Site attributes 1 and 2
// are the co-ordinates; lag enters the shift of scheme 3. icheck 0 verifies the
// parameter count first.
void setwgt(int i, int j, int scheme, int nderiv, const SiteTable& sites, const Array2<double>& theta,
            const Array2<int>& pwtidx, int lag, int icheck, std::array<double, 4>& result);

// The part of an equal-weight mean over the network (weighting scheme 1) that is
// the same for every target site of a day. The assembly forms it once per day with
// prvnet and hands it to dyset for each site, which then costs O(1) instead of
// O(sites) and gives the same bits as summing afresh.
struct NetworkMean {
  int code = -1;            // covariate code the sums were formed for; -1 none
  double W = 0.0, S = 0.0;  // number of sites with a value, sum of their values
  int nwarn = 0;            // log warnings that forming the values prints per use
  bool all_wet = true;      // order 1, transformation 5: no site had a dry day
};

// Network sums of equal-weight previous-day covariate `code` over sites 1..n. Left
// without a code (net.code -1) when the code is not such a mean or is invalid, so
// that dyset computes and reports as without it.
void prvnet(const Matrix& previous, int n, double trace, int code, NetworkMean& net);

// Daily covariate `code` at `site` (1..sites.nsites) on day dd/mm/yy. For a previous-
// day predictor (code >= 1, code % 1000 <= 10) result[0] is the value from the history
// previous(site, lag) (site x lag, negative = missing) and result[1..3] the derivatives
// with respect to parameters 1..3 of its weighting scheme when some parameter of the
// scheme is estimated (a non-zero pwtidx(scheme, 2..4)), else 0; net, when it was
// formed for this code on this day, supplies the sums of an equal-weight mean. Any
// other code is a
// daily effect (the same at every site; history arguments unused).
void dyset(int dd, int mm, int yy, const Matrix& previous, int site, double trace, int code,
           const Array2<double>& theta, const Array2<int>& pwtidx, const SiteTable& sites, int icheck,
           std::array<double, 4>& result, const NetworkMean* net = nullptr);

// Rewrites the 70-character lag label ("Y[t-k]", blank-padded) of a previous-day
// covariate with code above 1000 into its full description, e.g.
// "Ln(1+Distance-weighted mean of Y[t-2])".
void prvtxt(int code, std::string& text);

// Forgets the cached weights and transformed values (tests; never needed for
// correctness, the caches check their inputs).
void prvrst();

}  // namespace rg
