#pragma once

// The continuous laws the rank tests' approximations and their checks need.
namespace speedup::stats {

// Standard normal P(Z <= z), through std::erfc so that the far tails keep their precision.
double NormalCdf(double z);

// Regularized incomplete beta I_x(a, b) for a, b > 0 and x in [0, 1]; 0 at x = 0, 1 at x = 1.
double RegularizedIncompleteBeta(double a, double b, double x);

// The same with y = 1 - x given apart, so that x near 1 (y tiny) keeps its precision.
double RegularizedIncompleteBeta(double a, double b, double x, double y);

}  // namespace speedup::stats
