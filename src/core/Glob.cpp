#include "core/Glob.h"

#include <QFile>

namespace corvane {

Glob::Glob(const QString &pattern, int flags) : m_globalFlags(flags)
{
    const QByteArray encoded = QFile::encodeName(pattern);
    glob_t result{};
    if (::glob(encoded.constData(), flags, nullptr, &result) == 0) {
        m_paths.reserve(result.gl_pathc);
        for (size_t i = 0; i < result.gl_pathc; ++i) {
            if (const char *path = result.gl_pathv[i])
                m_paths.push_back(QUrl::fromLocalFile(QFile::decodeName(path)));
        }
    }
    globfree(&result);
}

QString Glob::escape(const QString &text)
{
    QString escaped;
    escaped.reserve(text.size() + 8);
    for (const QChar c : text) {
        switch (c.unicode()) {
        case '[':
        case ']':
        case '*':
        case '?':
        case '{':
        case '}':
        case '\\': escaped += '\\'; break;
        default: break;
        }
        escaped += c;
    }
    return escaped;
}

} // namespace corvane
