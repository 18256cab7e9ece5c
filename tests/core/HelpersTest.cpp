#include "core/CorvaneError.h"
#include "core/StringCompare.h"
#include "core/StringHelpers.h"
#include "core/Uuid.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>

using namespace corvane;
using namespace Qt::StringLiterals;
namespace fs = std::filesystem;

TEST(StringCompare, DigitRunsCompareByValue)
{
    EXPECT_EQ(numericCompare(u"15.10", u"15.9"), ComparisonResult::Descending);
    EXPECT_EQ(numericCompare(u"11.3", u"11.4"), ComparisonResult::Ascending);
    EXPECT_EQ(numericCompare(u"11.10", u"11.4"), ComparisonResult::Descending);
    EXPECT_EQ(numericCompare(u"15.3", u"15.3"), ComparisonResult::Same);
    EXPECT_EQ(numericCompare(u"a", u"B"), ComparisonResult::Descending);
    EXPECT_EQ(standardCompare(u"App 2", u"App 10"), ComparisonResult::Ascending);
    EXPECT_EQ(standardCompare(u"app 2", u"APP 2"), ComparisonResult::Same);
    EXPECT_EQ(standardCompare(u"17.01", u"17.1"), ComparisonResult::Same);
    EXPECT_EQ(standardCompare(u"iPhone", u"iPhone 15"), ComparisonResult::Ascending);
    EXPECT_EQ(standardCompare(u"b", u"A"), ComparisonResult::Descending);
}

TEST(StringCompare, TitlesFollowTheLocalesOrder)
{
    EXPECT_EQ(standardCompare(u"Elle", u"Émile"), ComparisonResult::Ascending);
    EXPECT_EQ(standardCompare(u"Émile", u"Zed"), ComparisonResult::Ascending);
    EXPECT_EQ(standardCompare(u"App 10", u"App 2"), ComparisonResult::Descending);
}

// Names mixing ASCII, Arabic-Indic and fullwidth digits once broke the order
// ("0" < "z" < "٠" while "0" == "٠"); sorting must see a strict weak order.
TEST(StringCompare, BothOrdersAreStrictWeakOrdersOverMixedDigits)
{
    const QStringList pieces{
        "0",         "1",         "2",         "9", "10", u"\u0660"_s, u"\u0661"_s, u"\u0669"_s,
        u"\uFF10"_s, u"\uFF11"_s, u"\uFF19"_s, "a", "z",  "A",         " ",         "É"};
    std::mt19937 random(20);
    QStringList names;
    for (int i = 0; i < 1500; ++i) {
        QString name;
        for (int length = 1 + int(random() % 4); length > 0; --length)
            name += pieces.at(int(random() % pieces.size()));
        names << name;
    }
    for (const auto compare : {&numericCompare, &standardCompare}) {
        QStringList sorted = names;
        std::stable_sort(sorted.begin(), sorted.end(), [&](const QString &a, const QString &b) {
            return compare(a, b) == ComparisonResult::Ascending;
        });
        // Sorted by a strict weak order: nothing later is smaller, and each
        // class of equal names is one run.
        for (qsizetype i = 0; i < sorted.size(); ++i) {
            ASSERT_EQ(compare(sorted[i], sorted[i]), ComparisonResult::Same);
            for (qsizetype j = i + 1; j < sorted.size(); ++j) {
                const ComparisonResult result = compare(sorted[i], sorted[j]);
                ASSERT_NE(result, ComparisonResult::Descending)
                    << sorted[i].toStdString() << " / " << sorted[j].toStdString();
                ASSERT_EQ(compare(sorted[j], sorted[i]), result == ComparisonResult::Same
                                                             ? ComparisonResult::Same
                                                             : ComparisonResult::Descending);
                if (result == ComparisonResult::Same)
                    ASSERT_EQ(compare(sorted[i], sorted[j - 1]), ComparisonResult::Same)
                        << sorted[i].toStdString() << " / " << sorted[j].toStdString();
            }
        }
    }
}

TEST(TruncateString, CountsGraphemesAndKeepsBothEnds)
{
    const QString url = "https://example.com/some/long/path/abcde";
    ASSERT_EQ(url.size(), 40);
    const QString shortened = truncateString(30, TruncationPosition::middle, "…", url);
    EXPECT_EQ(shortened, url.left(15) + "…" + url.right(14));
    EXPECT_EQ(truncateString(40, TruncationPosition::middle, "…", url), url);
    EXPECT_EQ(truncateString(3, TruncationPosition::tail, "…", "abcdef"), "abc…");
    EXPECT_EQ(truncateString(3, TruncationPosition::head, "…", "abcdef"), "…def");
    // Narrower than the filler: the text's first characters, never a failure.
    EXPECT_EQ(truncateString(2, TruncationPosition::middle, "...", "abcdef"), "ab");

    const QString family = QString::fromUtf8("\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80"
                                             "\x8D\xF0\x9F\x91\xA7");
    EXPECT_EQ(truncateString(1, TruncationPosition::middle, "", family + "x"), family);
    EXPECT_EQ(truncateString(2, TruncationPosition::tail, "…", family + "ab"), family + "a…");
}

TEST(IgnoringFileNotFound, SwallowsOnlyAMissingFile)
{
    QTemporaryDir dir;
    const fs::path missing = fs::path(dir.path().toStdString()) / "missing";
    EXPECT_NO_THROW(ignoringFileNotFound([&] {
        fs::remove_all(missing / "a");
        (void)fs::last_write_time(missing);
    }));
    const fs::path file = fs::path(dir.path().toStdString()) / "file";
    std::ofstream(file) << "x";
    EXPECT_THROW(ignoringFileNotFound([&] { fs::create_directory(file / "sub"); }),
                 fs::filesystem_error);
    EXPECT_THROW(ignoringFileNotFound([] { throw CorvaneError("other"); }), CorvaneError);
}

TEST(Uuid, WritesUpperCaseAndParsesOnlyTheHyphenatedForm)
{
    const QString text = newUuidString();
    EXPECT_EQ(text.size(), 36);
    EXPECT_EQ(text, text.toUpper());
    const auto parsed = parseUuid(u"5a1b2c3d-0000-4000-8000-00000000abcd");
    ASSERT_TRUE(parsed);
    EXPECT_EQ(uuidString(*parsed), "5A1B2C3D-0000-4000-8000-00000000ABCD");
    EXPECT_FALSE(parseUuid(u"{5a1b2c3d-0000-4000-8000-00000000abcd}"));
    EXPECT_FALSE(parseUuid(u"5a1b2c3d000040008000000000000abcd"));
    EXPECT_FALSE(parseUuid(u"NOT-A-UUID"));
}
