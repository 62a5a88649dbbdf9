#include "scene/Easing.h"

#include <cmath>

namespace {

// Single-precision constants, widened to double where they are used.
constexpr double kPi = double(3.1415927f);
constexpr double kHalfPi = double(1.5707964f);
constexpr double kTwoPi = double(6.2831855f);
constexpr double kBack = double(1.70158f);
constexpr double kBackInOut = double(1.525f);
constexpr double kElasticPeriod = double(0.3f);
constexpr double kElasticPeriodInOut = double(0.45f);

constexpr const char* kNames[kEaseKindCount] = {"none",
                                                "easein_quad",
                                                "easeout_quad",
                                                "easeinout_quad",
                                                "easein_cubic",
                                                "easeout_cubic",
                                                "easeinout_cubic",
                                                "easein_quart",
                                                "easeout_quart",
                                                "easeinout_quart",
                                                "easein_quint",
                                                "easeout_quint",
                                                "easeinout_quint",
                                                "easein_expo",
                                                "easeout_expo",
                                                "easeinout_expo",
                                                "easein_circ",
                                                "easeout_circ",
                                                "easeinout_circ",
                                                "easein_sine",
                                                "easeout_sine",
                                                "easeinout_sine",
                                                "easein_back",
                                                "easeout_back",
                                                "easeinout_back",
                                                "easein_elastic",
                                                "easeout_elastic",
                                                "easeinout_elastic",
                                                "easein_bounce",
                                                "easeout_bounce",
                                                "easeinout_bounce"};

// The breakpoints are compared as single-precision values; the offsets
// taken off u are exact quotients.
double Bounce(double t, double b, double c, double d) {
  double u = t / d;
  if (u < double(1.0f / 2.75f)) return c * 7.5625 * u * u + b;
  if (u < double(2.0f / 2.75f)) {
    u -= 1.5 / 2.75;
    return c * (7.5625 * u * u + 0.75) + b;
  }
  if (u < double(2.5f / 2.75f)) {
    u -= 2.25 / 2.75;
    return c * (7.5625 * u * u + 0.9375) + b;
  }
  u -= 2.625 / 2.75;
  return c * (7.5625 * u * u + 0.984375) + b;
}

}  // namespace

double Ease(int kind, double t, double b, double c, double d) {
  double u;
  switch (kind) {
    case kEaseInQuad: u = t / d; return c * u * u + b;
    case kEaseOutQuad: u = t / d; return -c * u * (u - 2) + b;
    case kEaseInOutQuad:
      u = t / (d / 2);
      if (u < 1) return c / 2 * u * u + b;
      u -= 1;
      return -c / 2 * (u * (u - 2) - 1) + b;
    case kEaseInCubic: u = t / d; return c * u * u * u + b;
    case kEaseOutCubic: u = t / d - 1; return c * (u * u * u + 1) + b;
    case kEaseInOutCubic:
      u = t / (d / 2);
      if (u < 1) return c / 2 * u * u * u + b;
      u -= 2;
      return c / 2 * (u * u * u + 2) + b;
    case kEaseInQuart: u = t / d; return c * u * u * u * u + b;
    case kEaseOutQuart: u = t / d - 1; return -c * (u * u * u * u - 1) + b;
    case kEaseInOutQuart:
      u = t / (d / 2);
      if (u < 1) return c / 2 * u * u * u * u + b;
      u -= 2;
      return -c / 2 * (u * u * u * u - 2) + b;
    case kEaseInQuint: u = t / d; return c * u * u * u * u * u + b;
    case kEaseOutQuint: u = t / d - 1; return c * (u * u * u * u * u + 1) + b;
    case kEaseInOutQuint:
      u = t / (d / 2);
      if (u < 1) return c / 2 * u * u * u * u * u + b;
      u -= 2;
      return c / 2 * (u * u * u * u * u + 2) + b;
    case kEaseInExpo: return t == 0 ? b : c * std::pow(2.0, 10 * (t / d - 1)) + b;
    case kEaseOutExpo: return t == d ? b + c : c * (1 - std::pow(2.0, -10 * t / d)) + b;
    case kEaseInOutExpo:
      if (t == 0) return b;
      if (t == d) return b + c;
      u = t / (d / 2);
      if (u < 1) return c / 2 * std::pow(2.0, 10 * (u - 1)) + b;
      return c / 2 * (2 - std::pow(2.0, -10 * (u - 1))) + b;
    case kEaseInCirc: u = t / d; return -c * (std::sqrt(1 - u * u) - 1) + b;
    case kEaseOutCirc: u = t / d - 1; return c * std::sqrt(1 - u * u) + b;
    case kEaseInOutCirc:
      u = t / (d / 2);
      if (u < 1) return -c / 2 * (std::sqrt(1 - u * u) - 1) + b;
      u -= 2;
      return c / 2 * (std::sqrt(1 - u * u) + 1) + b;
    case kEaseInSine: return -c * std::cos(t / d * kHalfPi) + c + b;
    case kEaseOutSine: return c * std::sin(t / d * kHalfPi) + b;
    case kEaseInOutSine: return -c / 2 * (std::cos(kPi * t / d) - 1) + b;
    case kEaseInBack: u = t / d; return c * u * u * ((kBack + 1) * u - kBack) + b;
    case kEaseOutBack: u = t / d - 1; return c * (u * u * ((kBack + 1) * u + kBack) + 1) + b;
    case kEaseInOutBack: {
      const double s = kBack * kBackInOut;
      u = t / (d / 2);
      if (u < 1) return c / 2 * (u * u * ((s + 1) * u - s)) + b;
      u -= 2;
      return c / 2 * (u * u * ((s + 1) * u + s) + 2) + b;
    }
    case kEaseInElastic: {
      if (t == 0) return b;
      if (t == d) return b + c;
      const double p = kElasticPeriod * d, a = c, q = p / 4;
      u = t / d - 1;
      return -(a * std::pow(2.0, 10 * u) * std::sin((u * d - q) * kTwoPi / p)) + b;
    }
    case kEaseOutElastic: {
      if (t == 0) return b;
      if (t == d) return b + c;
      const double p = kElasticPeriod * d, a = c, q = p / 4;
      u = t / d;
      return a * std::pow(2.0, -10 * u) * std::sin((u * d - q) * kTwoPi / p) + c + b;
    }
    case kEaseInOutElastic: {
      if (t == 0) return b;
      u = t / (d / 2);
      if (u == 2) return b + c;
      const double p = kElasticPeriodInOut * d, a = c, q = p / 4;
      const double w = u - 1;
      if (u < 1) return -0.5 * a * std::pow(2.0, 10 * w) * std::sin((w * d - q) * kTwoPi / p) + b;
      return 0.5 * a * std::pow(2.0, -10 * w) * std::sin((w * d - q) * kTwoPi / p) + c + b;
    }
    case kEaseInBounce: return c - Bounce(d - t, 0, c, d) + b;
    case kEaseOutBounce: return Bounce(t, b, c, d);
    case kEaseInOutBounce:
      if (t < d / 2) return 0.5 * (c - Bounce(d - 2 * t, 0, c, d)) + b;
      return 0.5 * Bounce(2 * t - d, 0, c, d) + 0.5 * c + b;
    default: return c * t / d + b;
  }
}

const char* EaseName(int kind) { return kind >= 0 && kind < kEaseKindCount ? kNames[kind] : kNames[0]; }

bool EaseKindFromName(const std::string& name, int& kind) {
  for (int k = 0; k < kEaseKindCount; ++k)
    if (name == kNames[k]) {
      kind = k;
      return true;
    }
  return false;
}
