#pragma once
// TEMPORARY stand-in until the random variate library lands.
namespace rg {
void zbqlini(long long seed);
double zbqlu01();
double zbqlnor(double mu, double sigma);
}
