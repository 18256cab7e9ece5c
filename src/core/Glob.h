#pragma once

#include <QString>
#include <QUrl>

#include <glob.h>

#include <cstddef>
#include <vector>

namespace corvane {

// The file URLs matching a shell pattern, in glob's sorted order. Directories
// come back with a trailing "/" under GLOB_MARK. A pattern that matches
// nothing, or fails, gives no paths.
class Glob {
public:
    static constexpr int defaultFlags = GLOB_TILDE | GLOB_BRACE | GLOB_MARK;

    explicit Glob(const QString &pattern, int flags = defaultFlags);

    // `text` with every glob metacharacter quoted, for the literal parts of a
    // pattern (a bundle named "My App [Beta].app", a home folder with "{").
    static QString escape(const QString &text);

    const std::vector<QUrl> &paths() const { return m_paths; }
    int globalFlags() const { return m_globalFlags; }

    std::size_t size() const { return m_paths.size(); }
    bool empty() const { return m_paths.empty(); }
    const QUrl &operator[](std::size_t index) const { return m_paths[index]; }
    auto begin() const { return m_paths.begin(); }
    auto end() const { return m_paths.end(); }

private:
    std::vector<QUrl> m_paths;
    int m_globalFlags;
};

} // namespace corvane
