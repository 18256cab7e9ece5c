#include "core/NumberParsing.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

using namespace corvane;
using namespace std::string_literals;
using namespace std::string_view_literals;

TEST(ParseCDouble, ReadsEveryFormOfTheCSyntax)
{
    EXPECT_EQ(parseCDouble("1.5"), 1.5);
    EXPECT_EQ(parseCDouble("-0.25"), -0.25);
    EXPECT_EQ(parseCDouble("+2"), 2.0);
    EXPECT_EQ(parseCDouble(".5"), 0.5);
    EXPECT_EQ(parseCDouble("5."), 5.0);
    EXPECT_EQ(parseCDouble("1E-3"), 1e-3);
    EXPECT_EQ(parseCDouble("0x1p3"), 8.0);
    EXPECT_EQ(parseCDouble("-0X1.8P1"), -3.0);
    EXPECT_EQ(parseCDouble("inf"), std::numeric_limits<double>::infinity());
    EXPECT_EQ(parseCDouble("-Infinity"), -std::numeric_limits<double>::infinity());
    ASSERT_TRUE(parseCDouble("NaN"));
    EXPECT_TRUE(std::isnan(*parseCDouble("NaN")));
    // Out of range reads as strtod reads it, not as a failure.
    EXPECT_EQ(parseCDouble("1e400"), std::numeric_limits<double>::infinity());
    EXPECT_EQ(parseCDouble("1e-400"), 0.0);
    // Longer than any usual number: the copy for the terminator is exact.
    const std::string longNumber = "0." + std::string(100, '0') + "1";
    EXPECT_EQ(parseCDouble(longNumber), 1e-101);
    EXPECT_FALSE(parseCDouble(longNumber + " "));
    EXPECT_FALSE(parseCDouble(longNumber + "\0"s));
}

TEST(ParseCDouble, RefusesAnythingButExactlyOneNumber)
{
    for (const std::string_view text :
         {""sv,      " 1"sv, "\t1"sv, "\n1"sv,    "\v1"sv,  "\f1"sv,          "\r1"sv,
          "\0001"sv, "1 "sv, "1\0"sv, "1\0002"sv, "1,5"sv,  "1.5.2"sv,        "e5"sv,
          "--1"sv,   "1e"sv, "0x"sv,  "inf x"sv,  "nanx"sv, "\xEF\xBC\x91"sv, "12abc"sv}) {
        EXPECT_FALSE(parseCDouble(text)) << '"' << std::string(text) << '"';
    }
}
