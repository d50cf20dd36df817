#pragma once
// The pure rules behind a number shown both by a scroll bar and by an edit box: how a
// typed value is brought into its limits, how a stored value reads as text, and how
// typed text becomes a stored value. Used by the dialog's number pairs; kept free of
// Windows so that the native and the 32-bit Linux tests check them too. (The command-line
// program reads its --rate option by rules of its own.)
#include <string>

namespace zelvo {

// Brings a typed value into minimum..maximum. A value above the maximum loses leading
// digits rather than being cut to the maximum, so that typing one digit too many keeps
// the digits typed last: with the limits 1..120000, 150000 becomes 50000; with 8..120,
// 1234 becomes 34. A non-positive value above the maximum, and any value above a maximum
// below 1 (whose digit count means nothing), becomes the maximum. Finally a value below
// the minimum becomes the minimum. Defined for every int.
int ClampTypedValue(int value, int minimum, int maximum);

// The text a value shows in its edit box. `scale` 0 (or below): a signed integer.
// Otherwise value / scale with 1 decimal for scales up to 10, 2 up to 100, 3 above.
// With `showSign`, a positive value gets a leading '+'.
std::string FormatNumericText(int value, int scale, bool showSign);

// The stored value of typed text. `scale` 0 (or below): the leading integer of the text
// as atoi reads it. Otherwise the leading number as strtod reads it (blanks, sign,
// decimals, exponent, hexadecimal, "inf"), times `scale`, truncated toward zero, computed
// exactly in integers so that every build agrees ("29.97" at 1000 gives 29970, and every
// text FormatNumericText shows reads back as its value). Text that is not a number, and
// "nan", give 0; numbers beyond the int range give INT_MIN or INT_MAX.
int ParseNumericText(const char* text, int scale);

// ClampTypedValue on the exact number typed, before ParseNumericText would bring it into the
// int range: a number of any length loses its leading digits as a short one does.
// "99999999999999" at scale 1000 within 1..120000 is 99999999999999000, which keeps 99000
// (99.000), and "99999999999" within 8..120 keeps 99. A number below the int range is
// below every minimum; "inf" counts as the largest int.
int ClampTypedText(const char* text, int scale, int minimum, int maximum);

// ParseNumericText when both limits are -1 (which means none), else ClampTypedText.
int ParseLimitedValue(const char* text, int scale, int minimum, int maximum);

}  // namespace zelvo
