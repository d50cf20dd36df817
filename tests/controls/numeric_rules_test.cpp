#include "controls/numeric_rules.h"

#include <climits>
#include <string>

#include <gtest/gtest.h>

namespace zelvo {
namespace {

struct ClampCase {
  int value;
  int minimum;
  int maximum;
  int expected;
};

TEST(NumericRules, ClampDropsLeadingDigitsAboveTheMaximum) {
  const ClampCase cases[] = {
      // The frame rate in thousandths (1..120000).
      {150000, 1, 120000, 50000},   // 150 typed: six digits still too many, then five
      {1000000, 1, 120000, 1},      // 1000 typed: nothing left, raised to the minimum
      {999000, 1, 120000, 99000},   // 999 typed
      {120000, 1, 120000, 120000},  // the maximum itself is kept
      {120001, 1, 120000, 120001 % 100000},
      {0, 1, 120000, 1},
      {-5000, 1, 120000, 1},
      {15000, 1, 120000, 15000},
      // A run of frames 8..120.
      {150, 8, 120, 50},
      {1234, 8, 120, 34},  // 234 is still above, then 34
      {5, 8, 120, 8},
      {121, 8, 120, 21},
      {100, 8, 120, 100},
      {900, 8, 120, 8},  // 900 mod 1000 is 900, mod 100 is 0, raised to 8
      // Extremes of int.
      {INT_MAX, 1, 120000, INT_MAX % 100000},
      {INT_MAX, 0, INT_MAX, INT_MAX},
      {INT_MIN, 1, 120000, 1},
  };
  for (const ClampCase& c : cases) {
    EXPECT_EQ(ClampTypedValue(c.value, c.minimum, c.maximum), c.expected)
        << c.value << " in " << c.minimum << ".." << c.maximum;
  }
}

TEST(NumericRules, ClampWithMaximumBelowOneGivesTheMaximumThenTheMinimum) {
  const ClampCase cases[] = {
      {5, -1, -1, -1},       // no run found: typing 5 stays defined
      {99999, -1, -1, -1},
      {INT_MAX, -1, -1, -1},
      {7, 0, 0, 0},          // a run that ends at 0
      {12, 0, 0, 0},
      {3, 2, 0, 2},          // inverted limits: the minimum rule comes last
      {-3, -10, -5, -5},     // a negative value above the maximum
      {-7, -10, -5, -7},
  };
  for (const ClampCase& c : cases) {
    EXPECT_EQ(ClampTypedValue(c.value, c.minimum, c.maximum), c.expected)
        << c.value << " in " << c.minimum << ".." << c.maximum;
  }
}

TEST(NumericRules, TextFormFollowsTheScaleAndTheSignOption) {
  struct Case {
    int value;
    int scale;
    bool showSign;
    const char* expected;
  } cases[] = {
      {15000, 1000, false, "15.000"},
      {29970, 1000, false, "29.970"},
      {1, 1000, false, "0.001"},
      {120000, 1000, false, "120.000"},
      {120000, 1000, true, "+120.000"},
      {0, 1000, true, "0.000"},
      {-1500, 1000, true, "-1.500"},
      {12345, 10, false, "1234.5"},
      {5, 1, false, "5.0"},
      {12345, 11, false, "1122.27"},
      {12345, 100, false, "123.45"},
      {12345, 101, false, "122.228"},
      {7, 100, true, "+0.07"},
      {8, 0, false, "8"},
      {8, 0, true, "+8"},
      {0, 0, true, "0"},
      {-1, 0, true, "-1"},
      {-1, 0, false, "-1"},
      {INT_MIN, 0, false, "-2147483648"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FormatNumericText(c.value, c.scale, c.showSign), c.expected)
        << c.value << " at scale " << c.scale;
  }
}

TEST(NumericRules, TypedTextReadsAsScaledValueTruncatedTowardZero) {
  struct Case {
    const char* text;
    int scale;
    int expected;
  } cases[] = {
      {"29.97", 1000, 29970},
      {"12.3456", 1000, 12345},
      {"-12.3456", 1000, -12345},
      {"15", 1000, 15000},
      {"150", 1000, 150000},
      {"0.001", 1000, 1},
      {"abc", 1000, 0},
      {"", 1000, 0},
      {" 7.5x", 10, 75},
      {"1e400", 1000, INT_MAX},
      {"-1e400", 1000, INT_MIN},
      {"99999999999", 1000, INT_MAX},
      {"nan", 1000, 0},
      // Decimals that binary floating point misses by a hair (x87: 29969, 59939, ...).
      {"59.94", 1000, 59940},
      {"23.976", 1000, 23976},
      {"0.3", 1000, 300},
      {"1.005", 1000, 1005},
      {"29.9699999999999999999", 1000, 29969},
      {"0.33333333333333333334", 3, 1},
      {"0.3333333333333333333", 3, 0},
      // strtod's forms: blanks, signs, exponents, hexadecimal, words, junk after.
      {"\t\n +7", 1000, 7000},
      {"-0.0019", 1000, -1},
      {"-0", 1000, 0},
      {".5", 1000, 500},
      {"5.", 1000, 5000},
      {".", 1000, 0},
      {"+-5", 1000, 0},
      {"1e2", 1000, 100000},
      {"2.5E-1", 1000, 250},
      {"25e-3x", 1000, 25},
      {"1e", 1000, 1000},
      {"1e+", 1000, 1000},
      {"e5", 1000, 0},
      {"0e999999999999", 1000, 0},
      {"1e-999999999999", 1000, 0},
      {"0.000000000000000000000000000000000000001e39", 1000, 1000},
      {"0x10", 1000, 16000},
      {"0x1.8p1", 1000, 3000},
      {"-0X.8", 10, -5},
      {"0x", 1000, 0},
      {"0x1p-3", 1000, 125},
      {"inf", 1000, INT_MAX},
      {"-Infinity", 1000, INT_MIN},
      {"-nan(1)", 1000, 0},
      // The int range: its ends exactly, one past them clamped.
      {"2147483.647", 1000, INT_MAX},
      {"2147483.6479", 1000, INT_MAX},
      {"2147483.646", 1000, 2147483646},
      {"-2147483.648", 1000, INT_MIN},
      {"-2147483.647", 1000, -2147483647},
      {"4294967296", 1, INT_MAX},
      {"2147483647", 2147483647, INT_MAX},
      {"0.5", 2147483647, 1073741823},
      {"120", 0, 120},
      {"0120", 0, 120},
      {"12.9", 0, 12},
      {"-4", 0, -4},
      {"x5", 0, 0},
      {"", 0, 0},
      {"99999999999999999999", 0, INT_MAX},
      {"-99999999999999999999", 0, INT_MIN},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ParseNumericText(c.text, c.scale), c.expected)
        << '"' << c.text << "\" at scale " << c.scale;
  }
  EXPECT_EQ(ParseNumericText(nullptr, 1000), 0);
}

// Every rate the dialog can show, with and without the sign, reads back as itself.
TEST(NumericRules, EveryShownRateReadsBackAsItself) {
  int differing = 0, first = 0;
  for (int value = 1; value <= 120000; ++value) {
    for (bool sign : {false, true}) {
      if (ParseNumericText(FormatNumericText(value, 1000, sign).c_str(), 1000) != value) {
        if (differing++ == 0) first = value;
      }
    }
  }
  EXPECT_EQ(differing, 0) << "first: " << FormatNumericText(first, 1000, false);
}

TEST(NumericRules, LimitedReadClampsUnlessBothLimitsAreMinusOne) {
  struct Case {
    const char* text;
    int scale;
    int minimum;
    int maximum;
    int expected;
  } cases[] = {
      {"150", 1000, 1, 120000, 50000},
      {"", 1000, 1, 120000, 1},
      {"29.97", 1000, 1, 120000, 29970},
      {"150", 0, 8, 120, 50},
      {"150", 0, -1, -1, 150},  // no limits
      {"150", 0, -1, 50, 50},   // only both -1 mean none
      {"200", 1000, 1, 120000, 1},  // 200000: five digits left are 0, raised to the minimum
      // Numbers past the int range lose their leading digits as short ones do.
      {"99999999999999", 1000, 1, 120000, 99000},
      {"99999999999.5", 1000, 1, 120000, 99500},
      {"123456789012345678901234567890", 1000, 1, 120000, 90000},
      {"1e20", 1000, 1, 120000, 1},
      {"0x1p40", 1000, 1, 120000, 76000},  // 2^40 x 1000 = 1099511627776000
      {"12345678901.2345", 3, 1, 1000, 703},
      {"99999999999", 0, 8, 120, 99},
      {"4294967296", 0, 8, 120, 96},
      {"99999999999999", 1000, 0, 0, 0},  // a run ending at 0
      {"99999999999999", 0, -3, -1, -1},  // a maximum below 1 has no digits to keep
      {"-99999999999999", 1000, 1, 120000, 1},
      {"inf", 1000, 1, 120000, 83647},  // no digits: the largest int's
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ParseLimitedValue(c.text, c.scale, c.minimum, c.maximum), c.expected)
        << '"' << c.text << "\" in " << c.minimum << ".." << c.maximum;
  }
}

}  // namespace
}  // namespace zelvo
