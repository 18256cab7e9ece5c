#include "core/UrlHelpers.h"

#include <QDir>

namespace corvane {

namespace {

// Foundation's URL-query-allowed set: unreserved characters plus the
// sub-delimiters, ":", "@", "/" and "?".
const QByteArray queryAllowedExtras = "!$&'()*+,/:;=?@";

QString encodeQueryPart(const QString &text)
{
    return QString::fromLatin1(text.toUtf8().toPercentEncoding(queryAllowedExtras));
}

QString standardizedPath(const QUrl &url)
{
    QString path = url.path(QUrl::FullyDecoded);
    const bool directory = path.endsWith('/');
    path = QDir::cleanPath(path);
    if (directory && !path.endsWith('/'))
        path += '/';
    return path;
}

} // namespace

std::optional<QString> relativePath(const QUrl &url, const QUrl &base)
{
    if (url.scheme() != base.scheme() || url.authority() != base.authority())
        return std::nullopt;
    const QString path = standardizedPath(url);
    QString basePath = standardizedPath(base);
    if (!basePath.endsWith('/'))
        basePath += '/';
    if (path == basePath || path + '/' == basePath)
        return QString();
    if (!path.startsWith(basePath))
        return std::nullopt;
    return path.mid(basePath.size());
}

std::optional<QUrl> urlWithQuery(const QString &string, const std::map<QString, QString> &query,
                                 const std::optional<QUrl> &base)
{
    QString text = string;
    if (!query.empty() && !text.endsWith('?'))
        text += '?';
    for (const auto &[key, value] : query) {
        if (!text.endsWith('?'))
            text += '&';
        text += encodeQueryPart(key) + '=' + encodeQueryPart(value);
    }
    QUrl url(text, QUrl::StrictMode);
    if (!url.isValid())
        return std::nullopt;
    if (base) {
        url = base->resolved(url);
        if (!url.isValid())
            return std::nullopt;
    }
    return url;
}

} // namespace corvane
