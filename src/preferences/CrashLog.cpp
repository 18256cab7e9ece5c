#include "preferences/CrashLog.h"

#include "platform/Log.h"
#include "platform/files/RegularFile.h"

#include <QCryptographicHash>
#include <QStringDecoder>
#include <QStringEncoder>

namespace corvane {

QString md5Text(const QString &text)
{
    return QString::fromLatin1(
        QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Md5).toHex());
}

std::optional<QString> decodeText(const QByteArray &bytes)
{
    const auto marked = QStringConverter::encodingForData(bytes);
    const auto encoding = marked.value_or(QStringConverter::Utf8);
    qsizetype markLength = 0;
    if (marked)
        markLength =
            encoding == QStringConverter::Utf8                                                 ? 3
            : (encoding == QStringConverter::Utf32LE || encoding == QStringConverter::Utf32BE) ? 4
                                                                                               : 2;
    QStringDecoder decoder(encoding, QStringConverter::Flag::Stateless);
    const QString text = decoder.decode(bytes);
    // The decoder replaces bad sequences without always saying so; valid text
    // encodes back to the very bytes it came from, less the mark.
    QStringEncoder encoder(encoding, QStringConverter::Flag::Stateless);
    const QByteArray again = encoder.encode(text);
    if (again.size() != bytes.size() - markLength || !bytes.endsWith(again))
        return std::nullopt;
    return text;
}

std::optional<CrashLog> CrashLog::make(const QString &url, const QDateTime &modificationDate)
{
    RegularFile file(url);
    const auto bytes = file.readAll(maxBytes);
    if (!bytes) {
        Log::general().error("%{PUBLIC}@", file.errorDescription(url, maxBytes));
        return std::nullopt;
    }
    auto content = decodeText(*bytes);
    if (!content)
        return std::nullopt;
    return CrashLog{url, modificationDate, *content, md5Text(*content)};
}

} // namespace corvane
