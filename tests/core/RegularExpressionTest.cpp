#include "core/RegularExpression.h"

#include <gtest/gtest.h>

using namespace corvane;
using Range = RegularExpression::Range;

TEST(RegularExpression, GroupThatTookNoPartGivesNothing)
{
    const RegularExpression expression("(a)|(b)");
    const auto match = expression.firstMatch("xa");
    ASSERT_TRUE(match);
    EXPECT_EQ(match->string(), "a");
    EXPECT_EQ(match->range(), (Range{1, 1}));
    EXPECT_EQ(match->group(0), "a");
    EXPECT_EQ(match->group(1), "a");
    EXPECT_EQ(match->group(2), std::nullopt);
    EXPECT_EQ(match->groupRange(2), std::nullopt);
    // Beyond the pattern's groups: nothing rather than a crash.
    EXPECT_EQ(match->group(3), std::nullopt);
    EXPECT_EQ(match->group(-1), std::nullopt);

    // A group that took part with empty text is not "nothing".
    const auto empty = RegularExpression("x(y*)").firstMatch("x");
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->group(1), "");
    EXPECT_EQ(empty->groupRange(1), (Range{1, 0}));
}

TEST(RegularExpression, BadPatternFindsNothingUntilReplaced)
{
    RegularExpression expression("(unclosed");
    EXPECT_FALSE(expression.isValid());
    EXPECT_FALSE(expression.firstMatch("(unclosed"));
    EXPECT_TRUE(expression.matches("(unclosed").empty());

    expression.setPattern("(closed)");
    EXPECT_TRUE(expression.isValid());
    ASSERT_EQ(expression.matches("closed closed").size(), 2u);

    expression.setPattern("[");
    EXPECT_FALSE(expression.firstMatch("["));
}

TEST(RegularExpression, MatchesOnEmptyTextAndOptions)
{
    EXPECT_TRUE(RegularExpression("a").matches("").empty());
    EXPECT_EQ(RegularExpression("a*").matches("").size(), 1u);

    RegularExpression lines("^b$");
    EXPECT_FALSE(lines.firstMatch("a\nb\nc"));
    lines.setOptions(RegularExpression::AnchorsMatchLines);
    ASSERT_TRUE(lines.firstMatch("a\nb\nc"));
    EXPECT_EQ(lines.firstMatch("a\nb\nc")->range(), (Range{2, 1}));

    const RegularExpression literal("a.b", RegularExpression::IgnoreMetacharacters |
                                               RegularExpression::CaseInsensitive);
    EXPECT_FALSE(literal.firstMatch("axb"));
    EXPECT_TRUE(literal.firstMatch("A.B"));
}

TEST(RegularExpression, RangesCountUtf16UnitsPastAnAstralCharacter)
{
    // U+1F600 takes two UTF-16 units.
    const QString text = QString::fromUtf8("\xF0\x9F\x98\x80 iOS 17.2 and tvOS 17.0");
    const RegularExpression expression(R"((\w+) (\d+)\.(\d+))");
    const auto all = expression.matches(text);
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0].range(), (Range{3, 8}));
    EXPECT_EQ(all[0].group(1), "iOS");
    EXPECT_EQ(all[0].groupRange(2), (Range{4, 2}));
    EXPECT_EQ(all[0].groupRange(3), (Range{7, 1}));
    EXPECT_EQ(all[1].range(), (Range{16, 9}));
    EXPECT_EQ(all[1].string(), "tvOS 17.0");
    EXPECT_EQ(all[1].groupRange(1), (Range{0, 4}));
    EXPECT_EQ(text.mid(all[1].range().location, all[1].range().length), "tvOS 17.0");
}
