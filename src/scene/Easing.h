// Easing curves: 31 kinds moving a value from b by c over the duration d,
// evaluated at time t. Arithmetic is double precision; the named constants
// are the single-precision values the curves were tuned with, so results
// match to the last bit wherever a value is truncated to an integer.
#pragma once

#include <string>

enum EaseKind : int {
  kEaseNone = 0,
  kEaseInQuad,
  kEaseOutQuad,
  kEaseInOutQuad,
  kEaseInCubic,
  kEaseOutCubic,
  kEaseInOutCubic,
  kEaseInQuart,
  kEaseOutQuart,
  kEaseInOutQuart,
  kEaseInQuint,
  kEaseOutQuint,
  kEaseInOutQuint,
  kEaseInExpo,
  kEaseOutExpo,
  kEaseInOutExpo,
  kEaseInCirc,
  kEaseOutCirc,
  kEaseInOutCirc,
  kEaseInSine,
  kEaseOutSine,
  kEaseInOutSine,
  kEaseInBack,
  kEaseOutBack,
  kEaseInOutBack,
  kEaseInElastic,
  kEaseOutElastic,
  kEaseInOutElastic,
  kEaseInBounce,
  kEaseOutBounce,
  kEaseInOutBounce,
  kEaseKindCount
};

// Value at time t of the curve of the given kind; any kind outside 1..30 is
// linear.
double Ease(int kind, double t, double b, double c, double d);

// The script name of a kind ("none", "easein_quad", ...); "none" for kinds
// outside 0..30.
const char* EaseName(int kind);

// The kind of a script name; false (kind untouched) for an unknown name.
bool EaseKindFromName(const std::string& name, int& kind);
