#pragma once
// Expected mean and variance of gamma amounts on the Anscombe scale: for Y gamma
// with mean mu and shape nu, Z = (Y/mu)^(1/3) is treated as normal with mean m and
// variance v chosen so that E[Z^3] = 1 and Var(Z^3) = 1/nu.

namespace rg {

// m and v for shape nu (v is a variance; callers take its square root for the
// standard deviation).
void ansprm(double nu, double& m, double& v);
// For a trial variance x: m from the second moment equation and f, the residual
// m^3 + 3xm - 1 of the first.
void ansfn(double& f, double& m, double x, double nu);

}  // namespace rg
