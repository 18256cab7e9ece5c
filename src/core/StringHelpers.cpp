#include "core/StringHelpers.h"

#include <QTextBoundaryFinder>

#include <cmath>
#include <filesystem>
#include <vector>

namespace corvane {

namespace {

// Start offsets of each grapheme cluster, plus the end.
std::vector<qsizetype> graphemeBoundaries(const QString &text)
{
    std::vector<qsizetype> boundaries;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    for (qsizetype position = 0; position != -1; position = finder.toNextBoundary())
        boundaries.push_back(position);
    if (boundaries.empty() || boundaries.back() != text.size())
        boundaries.push_back(text.size());
    return boundaries;
}

} // namespace

QString truncateString(int width, TruncationPosition position, const QString &filler,
                       const QString &text)
{
    const auto boundaries = graphemeBoundaries(text);
    const int length = int(boundaries.size()) - 1;
    if (length <= width)
        return text;
    const auto first = [&](int count) { return text.left(boundaries[size_t(std::max(0, count))]); };
    const auto last = [&](int count) {
        return text.mid(boundaries[size_t(length - std::max(0, count))]);
    };
    switch (position) {
    case TruncationPosition::head: return filler + last(width);
    case TruncationPosition::tail: return first(width) + filler;
    case TruncationPosition::middle: {
        const int fillerLength = int(graphemeBoundaries(filler).size()) - 1;
        const int n = width - fillerLength;
        // A width below the filler's own length leaves no room around it.
        if (n < 0)
            return first(width);
        const float half = float(n) / 2.0f;
        return first(int(std::ceil(half))) + filler + last(int(std::floor(half)));
    }
    }
    return text;
}

void ignoringFileNotFound(const std::function<void()> &operation)
{
    try {
        operation();
    } catch (const std::filesystem::filesystem_error &error) {
        if (error.code() == std::errc::no_such_file_or_directory)
            return;
        throw;
    }
}

} // namespace corvane
