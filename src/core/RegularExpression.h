#pragma once

#include <QFlags>
#include <QRegularExpression>
#include <QString>

#include <optional>
#include <vector>

namespace corvane {

// A pattern compiled once per change of pattern or options, searched over
// whole strings. A pattern that does not compile never throws: the value then
// finds nothing. Ranges count UTF-16 units, as QString positions do.
class RegularExpression {
public:
    enum Option {
        CaseInsensitive = 0x1,
        AllowCommentsAndWhitespace = 0x2,
        IgnoreMetacharacters = 0x4,
        DotMatchesLineSeparators = 0x8,
        AnchorsMatchLines = 0x10,
    };
    Q_DECLARE_FLAGS(Options, Option)

    struct Range {
        qsizetype location = 0;
        qsizetype length = 0;
        qsizetype end() const { return location + length; }
        bool operator==(const Range &) const = default;
    };

    class Match {
    public:
        // The text of the whole match.
        QString string() const { return m_string; }
        // The whole match within the searched string.
        Range range() const;
        // Number of groups in the pattern plus one.
        int numberOfRanges() const;
        // Group 0 is the whole match; nothing for a group that did not take
        // part in the match or that the pattern does not have.
        std::optional<QString> group(int index) const;
        // Relative to the match's own text.
        std::optional<Range> groupRange(int index) const;

    private:
        friend class RegularExpression;
        Match(QString searched, QRegularExpressionMatch result);

        QString m_searched;
        QRegularExpressionMatch m_result;
        QString m_string;
    };

    explicit RegularExpression(QString pattern = {}, Options options = {});

    QString pattern() const { return m_pattern; }
    void setPattern(const QString &pattern);
    Options options() const { return m_options; }
    void setOptions(Options options);

    bool isValid() const { return m_compiled.has_value(); }

    std::optional<Match> firstMatch(const QString &string) const;
    std::vector<Match> matches(const QString &string) const;

private:
    void compile();

    QString m_pattern;
    Options m_options;
    std::optional<QRegularExpression> m_compiled;
};

Q_DECLARE_OPERATORS_FOR_FLAGS(RegularExpression::Options)

} // namespace corvane
