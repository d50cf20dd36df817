#include "controls/numeric_rules.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace zelvo {

namespace {

int DigitCount(long long n) {
  int digits = 1;
  while (n >= 10) {
    n /= 10;
    ++digits;
  }
  return digits;
}

long long PowerOfTen(int exponent) {
  long long result = 1;
  for (int i = 0; i < exponent; ++i) result *= 10;
  return result;
}

int ToIntRange(double value) {
  if (std::isnan(value)) return 0;
  if (value >= static_cast<double>(INT_MAX)) return INT_MAX;
  if (value <= static_cast<double>(INT_MIN)) return INT_MIN;
  return static_cast<int>(value);  // truncates toward zero
}

}  // namespace

int ClampTypedValue(int value, int minimum, int maximum) {
  if (value > maximum) {
    if (value <= 0 || maximum < 1) {
      // Dropping digits needs the maximum's digit count, which a maximum below 1 lacks
      // (no run found, or a run ending at 0); the maximum itself is the nearest value.
      value = maximum;
    } else {
      // At most ten digits for an int: the powers of ten are taken in 64 bits.
      const int digits = DigitCount(maximum);
      long long reduced = value % PowerOfTen(digits);
      if (reduced > maximum) reduced %= PowerOfTen(digits - 1);
      value = static_cast<int>(reduced);
    }
  }
  if (value < minimum) value = minimum;
  return value;
}

std::string FormatNumericText(int value, int scale, bool showSign) {
  const char* sign = (showSign && value > 0) ? "+" : "";
  char text[64];
  if (scale <= 0) {
    std::snprintf(text, sizeof text, "%s%d", sign, value);
  } else {
    const double quotient = static_cast<double>(value) / scale;
    const char* format = scale <= 10 ? "%s%3.1f" : scale <= 100 ? "%s%3.2f" : "%s%3.3f";
    std::snprintf(text, sizeof text, format, sign, quotient);
  }
  return text;
}

int ParseNumericText(const char* text, int scale) {
  if (text == nullptr) return 0;
  if (scale <= 0) {
    // strtol instead of atoi: the same digits, but a defined result past the int range.
    errno = 0;
    const long long parsed = std::strtoll(text, nullptr, 10);
    if (parsed > INT_MAX) return INT_MAX;
    if (parsed < INT_MIN) return INT_MIN;
    return static_cast<int>(parsed);
  }
  const double parsed = std::strtod(text, nullptr);
  return ToIntRange(parsed * static_cast<double>(scale));
}

int ParseLimitedValue(const char* text, int scale, int minimum, int maximum) {
  const int value = ParseNumericText(text, scale);
  if (minimum == -1 && maximum == -1) return value;
  return ClampTypedValue(value, minimum, maximum);
}

}  // namespace zelvo
