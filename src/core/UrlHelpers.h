#pragma once

#include <QString>
#include <QUrl>

#include <map>
#include <optional>

namespace corvane {

// The path of `url` below `base`, compared by whole path components: the
// result never begins with "/", keeps a directory URL's trailing "/", and is
// "" for the base itself. Nothing when `url` is not below `base`.
std::optional<QString> relativePath(const QUrl &url, const QUrl &base);

// `string` with the pairs appended as a query in key order, each key and
// value percent-encoded for a query, resolved against `base` when given.
// Nothing when the result is no valid URL.
std::optional<QUrl> urlWithQuery(const QString &string, const std::map<QString, QString> &query,
                                 const std::optional<QUrl> &base = std::nullopt);

} // namespace corvane
