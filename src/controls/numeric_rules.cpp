#include "controls/numeric_rules.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdint>
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

// Magnitudes from here on are past every int; kept there so that nothing overflows.
constexpr std::uint64_t kPastIntRange = std::uint64_t{1} << 32;

// The significant digits of a number as strtod reads it, one digit at a time in base 10
// (decimal text) or base 2 (hexadecimal text, four digits to a character), and where its
// point stands: value = 0.d[0] d[1] ... d[count-1] x base^point.
struct DigitRun {
  const char* first = nullptr;  // first mantissa character
  long long chars = 0;          // mantissa digit characters, without the point
  long long charsBeforePoint = 0;
  bool hasPoint = false;
  int base = 10;
  long long point = 0;

  int DigitsPerChar() const { return base == 2 ? 4 : 1; }
  long long count() const { return chars * DigitsPerChar(); }
  int At(long long i) const {
    const long long c = i / DigitsPerChar();
    const char ch = first[c + (hasPoint && c >= charsBeforePoint ? 1 : 0)];
    if (base == 10) return ch - '0';
    const int nibble = HexValue(ch);
    return (nibble >> (3 - i % 4)) & 1;
  }
  static int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  }
};

bool IsDigitOf(char c, int base) { return base == 2 ? DigitRun::HexValue(c) >= 0 : c >= '0' && c <= '9'; }

// strtod's case-insensitive words.
bool StartsWithWord(const char* text, const char* word) {
  for (; *word != '\0'; ++text, ++word) {
    if (std::tolower(static_cast<unsigned char>(*text)) != *word) return false;
  }
  return true;
}

// Reads digits [point] digits at `p` (at least one digit); false when there are none.
bool ReadMantissa(const char* p, int base, DigitRun* run, const char** end) {
  run->first = p;
  run->base = base;
  while (IsDigitOf(*p, base)) ++p;
  run->charsBeforePoint = p - run->first;
  if (*p == '.') {
    run->hasPoint = true;
    ++p;
    while (IsDigitOf(*p, base)) ++p;
  }
  run->chars = (p - run->first) - (run->hasPoint ? 1 : 0);
  *end = p;
  return run->chars > 0;
}

// An optional exponent after the mantissa: the marker, a sign, then at least one decimal
// digit; anything less is not part of the number (as with strtod). Saturates far beyond
// every exponent that still gives an int.
long long ReadExponent(const char* p, char marker) {
  if (std::tolower(static_cast<unsigned char>(*p)) != marker) return 0;
  ++p;
  const bool negative = *p == '-';
  if (*p == '+' || *p == '-') ++p;
  long long exponent = 0;
  if (*p < '0' || *p > '9') return 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    if (exponent < 1000000000) exponent = exponent * 10 + (*p - '0');
  }
  return negative ? -exponent : exponent;
}

// trunc(run x scale) for scale >= 1, exactly, saturating at kPastIntRange. The integer
// part is taken digit by digit; the fraction times the scale is multiplied from its last
// digit upwards, as on paper, so the carry out of its first digit is the fraction's exact
// share. Every intermediate stays below base x scale.
std::uint64_t ScaleTruncated(const DigitRun& run, int scale) {
  const long long count = run.count();
  const std::uint64_t base = static_cast<std::uint64_t>(run.base);
  std::uint64_t whole = 0;
  for (long long i = 0; i < run.point && i < count && whole < kPastIntRange; ++i) {
    whole = whole * base + static_cast<std::uint64_t>(run.At(i));
  }
  // Zeros between the digits and the point: a few of them take any digit past the range.
  for (long long i = count; i < run.point && whole != 0 && whole < kPastIntRange; ++i) whole *= base;
  if (whole >= kPastIntRange) return kPastIntRange;
  whole *= static_cast<std::uint64_t>(scale);
  if (whole >= kPastIntRange) return kPastIntRange;
  // A fraction below base^-64 times any int scale stays below 1.
  if (run.point <= -64) return whole;
  std::uint64_t carry = 0;
  const long long firstFractionDigit = run.point > 0 ? run.point : 0;
  for (long long i = count - 1; i >= firstFractionDigit; --i) {
    carry = (static_cast<std::uint64_t>(run.At(i)) * static_cast<std::uint64_t>(scale) + carry) / base;
  }
  for (long long i = run.point; i < 0; ++i) carry /= base;  // zeros between the point and the digits
  return whole + carry;
}

int SignedIntRange(std::uint64_t magnitude, bool negative) {
  if (negative) {
    const std::uint64_t limit = static_cast<std::uint64_t>(INT_MAX) + 1;
    return magnitude >= limit ? INT_MIN : -static_cast<int>(magnitude);
  }
  return magnitude > static_cast<std::uint64_t>(INT_MAX) ? INT_MAX : static_cast<int>(magnitude);
}

// The scaled value of text as strtod reads it (blanks, sign, decimal or hexadecimal
// mantissa, exponent, "inf", "infinity", "nan"), in integer arithmetic: no binary
// floating point, so every build, x87 included, gives the same exact result.
int ParseScaled(const char* text, int scale) {
  const char* p = text;
  while (std::isspace(static_cast<unsigned char>(*p))) ++p;
  const bool negative = *p == '-';
  if (*p == '+' || *p == '-') ++p;
  if (StartsWithWord(p, "inf")) return SignedIntRange(kPastIntRange, negative);
  if (StartsWithWord(p, "nan")) return 0;
  DigitRun run;
  const char* end = nullptr;
  if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && ReadMantissa(p + 2, 2, &run, &end)) {
    run.point = run.charsBeforePoint * 4 + ReadExponent(end, 'p');
  } else if (ReadMantissa(p, 10, &run, &end)) {
    run.point = run.charsBeforePoint + ReadExponent(end, 'e');
  } else {
    return 0;  // no number at all
  }
  return SignedIntRange(ScaleTruncated(run, scale), negative);
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
  return ParseScaled(text, scale);
}

int ParseLimitedValue(const char* text, int scale, int minimum, int maximum) {
  const int value = ParseNumericText(text, scale);
  if (minimum == -1 && maximum == -1) return value;
  return ClampTypedValue(value, minimum, maximum);
}

}  // namespace zelvo
