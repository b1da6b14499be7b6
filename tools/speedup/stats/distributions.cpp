#include "stats/distributions.h"

#include <cmath>
#include <numbers>

namespace speedup::stats {

namespace {

// Continued fraction for I_x(a, b) by the modified Lentz method (Numerical Recipes' betacf).
double BetaContinuedFraction(double a, double b, double x) {
  constexpr int MAX_TERMS = 500;
  constexpr double EPSILON = 1e-16;
  constexpr double TINY = 1e-300;  // keeps a zero denominator from stopping the recurrence
  const double qab = a + b;
  const double qap = a + 1.0;
  const double qam = a - 1.0;
  double c = 1.0;
  double d = 1.0 - qab * x / qap;
  if (std::fabs(d) < TINY) d = TINY;
  d = 1.0 / d;
  double h = d;
  for (int m = 1; m <= MAX_TERMS; ++m) {
    const double m2 = 2.0 * m;
    double aa = m * (b - m) * x / ((qam + m2) * (a + m2));
    d = 1.0 + aa * d;
    if (std::fabs(d) < TINY) d = TINY;
    c = 1.0 + aa / c;
    if (std::fabs(c) < TINY) c = TINY;
    d = 1.0 / d;
    h *= d * c;
    aa = -(a + m) * (qab + m) * x / ((a + m2) * (qap + m2));
    d = 1.0 + aa * d;
    if (std::fabs(d) < TINY) d = TINY;
    c = 1.0 + aa / c;
    if (std::fabs(c) < TINY) c = TINY;
    d = 1.0 / d;
    const double step = d * c;
    h *= step;
    if (std::fabs(step - 1.0) < EPSILON) break;
  }
  return h;
}

}  // namespace

double NormalCdf(double z) { return 0.5 * std::erfc(-z / std::numbers::sqrt2); }

double RegularizedIncompleteBeta(double a, double b, double x) {
  return RegularizedIncompleteBeta(a, b, x, 1.0 - x);
}

double RegularizedIncompleteBeta(double a, double b, double x, double y) {
  if (x <= 0.0) return 0.0;
  if (y <= 0.0) return 1.0;
  const double front = std::exp(std::lgamma(a + b) - std::lgamma(a) - std::lgamma(b) +
                                a * std::log(x) + b * std::log(y));
  // The fraction converges fast only below the mean; above it, use I_x(a, b) = 1 - I_y(b, a).
  if (x < (a + 1.0) / (a + b + 2.0)) return front * BetaContinuedFraction(a, b, x) / a;
  return 1.0 - front * BetaContinuedFraction(b, a, y) / b;
}
}  // namespace speedup::stats
