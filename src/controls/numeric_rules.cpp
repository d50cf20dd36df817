#include "controls/numeric_rules.h"

#include <cctype>
#include <climits>
#include <cstdint>
#include <cstdio>

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
// Dropping leading digits keeps at most as many as an int maximum has: ten. A number of
// any length is known by its last ten digits for that, which stay exact.
constexpr std::uint64_t kLastDigitsModulus = 10000000000ull;

// a x b mod m, for a, b below m <= 10^10: by doubling, as a x b itself may not fit 64 bits.
std::uint64_t MulMod(std::uint64_t a, std::uint64_t b, std::uint64_t m) {
  std::uint64_t result = 0;
  for (a %= m; b != 0; b >>= 1) {
    if (b & 1) result = (result + a) % m;
    a = (a + a) % m;
  }
  return result;
}

std::uint64_t PowMod(std::uint64_t base, long long exponent, std::uint64_t m) {
  std::uint64_t result = 1 % m;
  for (base %= m; exponent > 0; exponent >>= 1) {
    if (exponent & 1) result = MulMod(result, base, m);
    base = MulMod(base, base, m);
  }
  return result;
}

// A positive number above `maximum` (or the last ten digits of a longer one) with its
// leading digits dropped: first down to the maximum's digit count, then one fewer if it is
// still above. A maximum below 1 has no digit count to keep; it is then the result.
int DropLeadingDigits(std::uint64_t digits, int maximum) {
  if (maximum < 1) return maximum;
  const int count = DigitCount(maximum);
  std::uint64_t reduced = digits % static_cast<std::uint64_t>(PowerOfTen(count));
  if (reduced > static_cast<std::uint64_t>(maximum)) reduced %= static_cast<std::uint64_t>(PowerOfTen(count - 1));
  return static_cast<int>(reduced);
}

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

// The magnitude of a typed number times the scale, truncated: saturated at kPastIntRange
// for the int result, and its last ten digits, exact whatever its length, for the rule
// that drops leading digits.
struct ScaledNumber {
  bool negative = false;
  std::uint64_t magnitude = 0;
  std::uint64_t lastDigits = 0;
};

// trunc(fraction of run x scale) for scale >= 1, exactly: multiplied from the last digit
// upwards, as on paper, so the carry out of the first fraction digit is the fraction's
// share. Every intermediate stays below base x scale; the result is below the scale.
std::uint64_t ScaledFraction(const DigitRun& run, int scale) {
  // A fraction below base^-64 times any int scale stays below 1.
  if (run.point <= -64) return 0;
  const std::uint64_t base = static_cast<std::uint64_t>(run.base);
  std::uint64_t carry = 0;
  const long long firstFractionDigit = run.point > 0 ? run.point : 0;
  for (long long i = run.count() - 1; i >= firstFractionDigit; --i) {
    carry = (static_cast<std::uint64_t>(run.At(i)) * static_cast<std::uint64_t>(scale) + carry) / base;
  }
  for (long long i = run.point; i < 0; ++i) carry /= base;  // zeros between the point and the digits
  return carry;
}

// trunc(run x scale) for scale >= 1 as a ScaledNumber: the integer part times the scale
// plus the fraction's share, taken once saturating and once modulo 10^10.
ScaledNumber ScaleTruncated(const DigitRun& run, int scale) {
  const long long count = run.count();
  const std::uint64_t base = static_cast<std::uint64_t>(run.base);
  const std::uint64_t m = kLastDigitsModulus;
  std::uint64_t whole = 0;
  std::uint64_t wholeDigits = 0;  // the integer part modulo 10^10
  for (long long i = 0; i < run.point && i < count; ++i) {
    const std::uint64_t digit = static_cast<std::uint64_t>(run.At(i));
    if (whole < kPastIntRange) whole = whole * base + digit;
    wholeDigits = (wholeDigits * base + digit) % m;
  }
  // Zeros between the digits and the point: a few of them take any digit past the range.
  if (run.point > count) {
    for (long long i = count; i < run.point && whole != 0 && whole < kPastIntRange; ++i) whole *= base;
    wholeDigits = MulMod(wholeDigits, PowMod(base, run.point - count, m), m);
  }
  const std::uint64_t fraction = ScaledFraction(run, scale);
  ScaledNumber number;
  number.lastDigits = (MulMod(wholeDigits, static_cast<std::uint64_t>(scale), m) + fraction) % m;
  if (whole >= kPastIntRange || whole * static_cast<std::uint64_t>(scale) >= kPastIntRange) {
    number.magnitude = kPastIntRange;
  } else {
    number.magnitude = whole * static_cast<std::uint64_t>(scale) + fraction;
  }
  return number;
}

int SignedIntRange(std::uint64_t magnitude, bool negative) {
  if (negative) {
    const std::uint64_t limit = static_cast<std::uint64_t>(INT_MAX) + 1;
    return magnitude >= limit ? INT_MIN : -static_cast<int>(magnitude);
  }
  return magnitude > static_cast<std::uint64_t>(INT_MAX) ? INT_MAX : static_cast<int>(magnitude);
}

// The scaled value of typed text, in integer arithmetic: no binary floating point, so
// every build, x87 included, gives the same exact result. At a scale above 0 the number
// as strtod reads it (blanks, sign, decimal or hexadecimal mantissa, exponent, "inf",
// "infinity", "nan"); at 0 the leading integer as atoi reads it.
ScaledNumber ReadScaledNumber(const char* text, int scale) {
  ScaledNumber none;
  if (text == nullptr) return none;
  const char* p = text;
  while (std::isspace(static_cast<unsigned char>(*p))) ++p;
  const bool negative = *p == '-';
  if (*p == '+' || *p == '-') ++p;
  DigitRun run;
  const char* end = nullptr;
  if (scale <= 0) {
    if (!ReadMantissa(p, 10, &run, &end)) return none;
    run.point = run.charsBeforePoint;  // digits only: the point ends the number
    scale = 1;
  } else if (StartsWithWord(p, "inf")) {
    // No digits to keep: the largest int stands in for it.
    ScaledNumber infinite;
    infinite.negative = negative;
    infinite.magnitude = kPastIntRange;
    infinite.lastDigits = static_cast<std::uint64_t>(INT_MAX);
    return infinite;
  } else if (StartsWithWord(p, "nan")) {
    return none;
  } else if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && ReadMantissa(p + 2, 2, &run, &end)) {
    run.point = run.charsBeforePoint * 4 + ReadExponent(end, 'p');
  } else if (ReadMantissa(p, 10, &run, &end)) {
    run.point = run.charsBeforePoint + ReadExponent(end, 'e');
  } else {
    return none;  // no number at all
  }
  ScaledNumber number = ScaleTruncated(run, scale);
  number.negative = negative && number.magnitude != 0;
  return number;
}

}  // namespace

int ClampTypedValue(int value, int minimum, int maximum) {
  if (value > maximum) value = value <= 0 ? maximum : DropLeadingDigits(static_cast<std::uint64_t>(value), maximum);
  if (value < minimum) value = minimum;
  return value;
}

int ClampTypedText(const char* text, int scale, int minimum, int maximum) {
  const ScaledNumber number = ReadScaledNumber(text, scale);
  if (number.negative || number.magnitude <= static_cast<std::uint64_t>(INT_MAX)) {
    return ClampTypedValue(SignedIntRange(number.magnitude, number.negative), minimum, maximum);
  }
  // Above every int maximum: the rule for values above the maximum, on the digits typed.
  const int value = DropLeadingDigits(number.lastDigits, maximum);
  return value < minimum ? minimum : value;
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
  const ScaledNumber number = ReadScaledNumber(text, scale);
  return SignedIntRange(number.magnitude, number.negative);
}

int ParseLimitedValue(const char* text, int scale, int minimum, int maximum) {
  if (minimum == -1 && maximum == -1) return ParseNumericText(text, scale);
  return ClampTypedText(text, scale, minimum, maximum);
}

}  // namespace zelvo
