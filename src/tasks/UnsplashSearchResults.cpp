#include "tasks/UnsplashSearchResults.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

#include <stdexcept>

namespace corvane {

namespace {

struct DecodingFailure : std::runtime_error {
    DecodingFailure(const QString &path, const char *what)
        : std::runtime_error((path + ": " + what).toStdString())
    {
    }
};

// Reads the members of one JSON object; `path` names it in failures.
class Members {
public:
    Members(const QJsonValue &value, QString path) : m_path(std::move(path))
    {
        if (!value.isObject())
            throw DecodingFailure(m_path, "not an object");
        m_object = value.toObject();
    }

    QJsonValue value(const char *key) const
    {
        const auto it = m_object.constFind(QLatin1String(key));
        if (it == m_object.constEnd())
            throw DecodingFailure(pathOf(key), "missing");
        return *it;
    }

    QString string(const char *key) const
    {
        const QJsonValue member = value(key);
        if (!member.isString())
            throw DecodingFailure(pathOf(key), "not a string");
        return member.toString();
    }

    std::int64_t integer(const char *key) const
    {
        const QJsonValue member = value(key);
        // Read as an integer, not through a double: above 2^53 a double
        // rounds. A fraction or a value out of range gives either fallback.
        const qint64 number = member.toInteger(0);
        if (!member.isDouble() || number != member.toInteger(1))
            throw DecodingFailure(pathOf(key), "not an integer");
        return number;
    }

    QUrl url(const char *key) const
    {
        const QUrl url(string(key), QUrl::StrictMode);
        if (!url.isValid() || url.isRelative())
            throw DecodingFailure(pathOf(key), "not an absolute URL");
        return url;
    }

    Members object(const char *key) const { return Members(value(key), pathOf(key)); }

    QString pathOf(const char *key) const
    {
        return m_path.isEmpty() ? QString::fromLatin1(key) : m_path + '.' + QLatin1String(key);
    }

private:
    QJsonObject m_object;
    QString m_path;
};

UnsplashSearchResultsUser decodeUser(const Members &user)
{
    return {user.string("name"),
            user.string("username"),
            user.string("id"),
            {user.object("links").url("html")}};
}

UnsplashSearchResultsImage decodeImage(const Members &image)
{
    const Members urls = image.object("urls");
    const Members links = image.object("links");
    return {image.string("id"),
            image.integer("width"),
            image.integer("height"),
            image.string("color"),
            decodeUser(image.object("user")),
            {urls.url("raw"), urls.url("full"), urls.url("regular"), urls.url("small"),
             urls.url("thumb")},
            {links.url("html"), links.url("download_location")}};
}

} // namespace

std::optional<UnsplashSearchResults> UnsplashSearchResults::decode(const QByteArray &json,
                                                                   QString *error)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        if (error)
            *error = parseError.errorString();
        return std::nullopt;
    }
    try {
        if (!document.isObject())
            throw DecodingFailure("reply", "not an object");
        const Members reply(document.object(), QString());
        UnsplashSearchResults results;
        results.total = reply.integer("total");
        const QJsonValue list = reply.value("results");
        if (!list.isArray())
            throw DecodingFailure("results", "not an array");
        const QJsonArray array = list.toArray();
        results.results.reserve(std::size_t(array.size()));
        for (qsizetype i = 0; i < array.size(); ++i)
            results.results.push_back(
                decodeImage(Members(array.at(i), QString("results[%1]").arg(i))));
        return results;
    } catch (const DecodingFailure &failure) {
        if (error)
            *error = QString::fromStdString(failure.what());
        return std::nullopt;
    }
}

} // namespace corvane
