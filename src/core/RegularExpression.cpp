#include "core/RegularExpression.h"

namespace corvane {

RegularExpression::RegularExpression(QString pattern, Options options)
    : m_pattern(std::move(pattern)), m_options(options)
{
    compile();
}

void RegularExpression::setPattern(const QString &pattern)
{
    m_pattern = pattern;
    compile();
}

void RegularExpression::setOptions(Options options)
{
    m_options = options;
    compile();
}

void RegularExpression::compile()
{
    // Unicode properties make \w, \d, \s and \b cover more than ASCII, as
    // the platform engine's do.
    QRegularExpression::PatternOptions qtOptions = QRegularExpression::UseUnicodePropertiesOption;
    if (m_options & CaseInsensitive)
        qtOptions |= QRegularExpression::CaseInsensitiveOption;
    if (m_options & AllowCommentsAndWhitespace)
        qtOptions |= QRegularExpression::ExtendedPatternSyntaxOption;
    if (m_options & DotMatchesLineSeparators)
        qtOptions |= QRegularExpression::DotMatchesEverythingOption;
    if (m_options & AnchorsMatchLines)
        qtOptions |= QRegularExpression::MultilineOption;
    const QString text =
        m_options & IgnoreMetacharacters ? QRegularExpression::escape(m_pattern) : m_pattern;
    QRegularExpression expression(text, qtOptions);
    if (expression.isValid()) {
        expression.optimize();
        m_compiled = std::move(expression);
    } else {
        m_compiled.reset();
    }
}

std::optional<RegularExpression::Match> RegularExpression::firstMatch(const QString &string) const
{
    if (!m_compiled)
        return std::nullopt;
    auto result = m_compiled->match(string);
    if (!result.hasMatch())
        return std::nullopt;
    return Match(string, std::move(result));
}

std::vector<RegularExpression::Match> RegularExpression::matches(const QString &string) const
{
    std::vector<Match> result;
    if (!m_compiled)
        return result;
    auto iterator = m_compiled->globalMatch(string);
    while (iterator.hasNext())
        result.push_back(Match(string, iterator.next()));
    return result;
}

RegularExpression::Match::Match(QString searched, QRegularExpressionMatch result)
    : m_searched(std::move(searched)), m_result(std::move(result)), m_string(m_result.captured(0))
{
}

RegularExpression::Range RegularExpression::Match::range() const
{
    return {m_result.capturedStart(0), m_result.capturedLength(0)};
}

int RegularExpression::Match::numberOfRanges() const
{
    return m_result.lastCapturedIndex() < 0 ? 0 : m_result.regularExpression().captureCount() + 1;
}

std::optional<QString> RegularExpression::Match::group(int index) const
{
    if (index < 0 || index >= numberOfRanges() || !m_result.hasCaptured(index))
        return std::nullopt;
    return m_searched.mid(m_result.capturedStart(index), m_result.capturedLength(index));
}

std::optional<RegularExpression::Range> RegularExpression::Match::groupRange(int index) const
{
    if (index < 0 || index >= numberOfRanges() || !m_result.hasCaptured(index))
        return std::nullopt;
    return Range{m_result.capturedStart(index) - m_result.capturedStart(0),
                 m_result.capturedLength(index)};
}

} // namespace corvane
