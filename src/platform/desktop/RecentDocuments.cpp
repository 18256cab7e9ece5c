#include "platform/desktop/RecentDocuments.h"

#include "platform/files/AtomicFile.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QUrl>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <mutex>

namespace corvane {

namespace {

constexpr auto bookmarkNamespace = "http://www.freedesktop.org/standards/desktop-bookmarks";
constexpr auto mimeNamespace = "http://www.freedesktop.org/standards/shared-mime-info";

std::mutex &fileMutex()
{
    static std::mutex mutex;
    return mutex;
}

QString stamp(const QDateTime &time)
{
    return time.toUTC().toString(Qt::ISODateWithMs);
}

void writeApplication(QXmlStreamWriter &out, const RecentDocuments::Application &application,
                      const QString &now, int count)
{
    out.writeEmptyElement(bookmarkNamespace, QStringLiteral("application"));
    out.writeAttribute(QStringLiteral("name"), application.name);
    out.writeAttribute(QStringLiteral("exec"), application.exec);
    out.writeAttribute(QStringLiteral("modified"), now);
    out.writeAttribute(QStringLiteral("count"), QString::number(count));
}

void writeBookmark(QXmlStreamWriter &out, const QString &href, const QString &mimeType,
                   const RecentDocuments::Application &application, const QString &now)
{
    out.writeStartElement(QStringLiteral("bookmark"));
    out.writeAttribute(QStringLiteral("href"), href);
    out.writeAttribute(QStringLiteral("added"), now);
    out.writeAttribute(QStringLiteral("modified"), now);
    out.writeAttribute(QStringLiteral("visited"), now);
    out.writeStartElement(QStringLiteral("info"));
    out.writeStartElement(QStringLiteral("metadata"));
    out.writeAttribute(QStringLiteral("owner"), QStringLiteral("http://freedesktop.org"));
    out.writeEmptyElement(mimeNamespace, QStringLiteral("mime-type"));
    out.writeAttribute(QStringLiteral("type"), mimeType);
    out.writeStartElement(bookmarkNamespace, QStringLiteral("applications"));
    writeApplication(out, application, now, 1);
    out.writeEndElement();
    out.writeEndElement();
    out.writeEndElement();
    out.writeEndElement();
}

// Copies the list, marking the file's entry used (or adding one at the end).
// Empty when the old list does not parse.
QByteArray merged(const QByteArray &old, const QString &href, const QString &mimeType,
                  const RecentDocuments::Application &application, const QString &now)
{
    QByteArray result;
    QXmlStreamWriter out(&result);
    if (old.trimmed().isEmpty()) {
        out.setAutoFormatting(true);
        out.writeStartDocument();
        out.writeStartElement(QStringLiteral("xbel"));
        out.writeNamespace(bookmarkNamespace, QStringLiteral("bookmark"));
        out.writeNamespace(mimeNamespace, QStringLiteral("mime"));
        out.writeAttribute(QStringLiteral("version"), QStringLiteral("1.0"));
        writeBookmark(out, href, mimeType, application, now);
        out.writeEndElement();
        out.writeEndDocument();
        return result;
    }

    QXmlStreamReader in(old);
    int depth = 0;
    bool inOurs = false;
    bool found = false;
    bool applicationSeen = false;
    while (!in.atEnd()) {
        const auto token = in.readNext();
        if (token == QXmlStreamReader::Invalid)
            break;
        if (token == QXmlStreamReader::StartElement) {
            ++depth;
            const auto name = in.name();
            if (depth == 2 && name == QLatin1String("bookmark") &&
                in.attributes().value(QLatin1String("href")) == href) {
                inOurs = found = true;
                out.writeStartElement(QStringLiteral("bookmark"));
                for (const auto &attribute : in.attributes()) {
                    const bool refreshed = attribute.name() == QLatin1String("modified") ||
                                           attribute.name() == QLatin1String("visited");
                    out.writeAttribute(attribute.qualifiedName().toString(),
                                       refreshed ? now : attribute.value().toString());
                }
                continue;
            }
            if (inOurs && name == QLatin1String("application") &&
                in.namespaceUri() == QLatin1String(bookmarkNamespace) &&
                in.attributes().value(QLatin1String("name")) == application.name) {
                applicationSeen = true;
                const int count = in.attributes().value(QLatin1String("count")).toInt();
                writeApplication(out, application, now, std::max(count, 0) + 1);
                in.skipCurrentElement();
                --depth;
                continue;
            }
        } else if (token == QXmlStreamReader::EndElement) {
            if (inOurs && in.name() == QLatin1String("applications") && !applicationSeen) {
                writeApplication(out, application, now, 1);
                applicationSeen = true;
            }
            if (depth == 2 && inOurs)
                inOurs = false;
            if (depth == 1 && !found) {
                writeBookmark(out, href, mimeType, application, now);
                found = true;
            }
            --depth;
        }
        out.writeCurrentToken(in);
    }
    if (in.hasError())
        return {};
    return result;
}

} // namespace

QString RecentDocuments::filePath()
{
    QString dataHome = qEnvironmentVariable("XDG_DATA_HOME");
    if (dataHome.isEmpty() || !QDir::isAbsolutePath(dataHome))
        dataHome = QDir::homePath() + QStringLiteral("/.local/share");
    return dataHome + QStringLiteral("/recently-used.xbel");
}

bool RecentDocuments::add(const QString &path, const QString &mimeType,
                          const Application &application, const QDateTime &now)
{
    const QString file = filePath();
    const QString href = QString::fromUtf8(QUrl::fromLocalFile(path).toEncoded());
    std::lock_guard lock(fileMutex());
    QByteArray old;
    QFile current(file);
    if (current.exists()) {
        if (!current.open(QIODevice::ReadOnly))
            return false;
        old = current.readAll();
        current.close();
    }
    const QByteArray text = merged(old, href, mimeType, application, stamp(now));
    if (text.isEmpty())
        return false;
    QDir().mkpath(QFileInfo(file).absolutePath());
    return AtomicFile::save(file, text);
}

QStringList RecentDocuments::paths()
{
    QFile file(filePath());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList result;
    QXmlStreamReader in(&file);
    while (!in.atEnd()) {
        if (in.readNext() == QXmlStreamReader::StartElement &&
            in.name() == QLatin1String("bookmark")) {
            const QUrl url(in.attributes().value(QLatin1String("href")).toString());
            if (url.isLocalFile())
                result.append(url.toLocalFile());
        }
    }
    return result;
}

} // namespace corvane
