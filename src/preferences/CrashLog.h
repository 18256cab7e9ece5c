#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <optional>

namespace corvane {

// The MD5 digest of the text's UTF-8 bytes as 32 lower-case hexadecimal digits.
QString md5Text(const QString &text);

// Text by its byte-order mark (UTF-8, UTF-16 or UTF-32), else UTF-8; nothing
// when the bytes are not valid in that encoding.
std::optional<QString> decodeText(const QByteArray &bytes);

// One crash log file read as text.
struct CrashLog {
    // Real logs are a few hundred kilobytes; a larger file is not read.
    static constexpr qint64 maxBytes = 8 * 1024 * 1024;

    QString url;
    QDateTime modificationDate;
    QString content;
    QString contentHash;

    // Nothing when the file is no regular file, is larger than maxBytes,
    // cannot be read or is not text.
    static std::optional<CrashLog> make(const QString &url, const QDateTime &modificationDate);
};

} // namespace corvane
