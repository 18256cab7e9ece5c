#pragma once

#include <QByteArray>
#include <QString>

#include <memory>
#include <optional>
#include <vector>

namespace corvane {

// Inflates a body of the codings its Content-Encoding names (deflate, zlib
// wrapped or raw, gzip, br, zstd), and only as far as its reader has room:
// what came in and is not inflated yet stays as it came, so a compression
// bomb costs no more than the room its reader has.
class BodyInflater {
public:
    // libcurl's bound too: a reply coded more often is refused.
    static constexpr int maximumCodings = 5;
    // What Accept-Encoding asks for: the codings inflated here.
    static const QByteArray acceptedCodings;

    static const QString malformedText;
    static const QString unknownCodingText;
    static const QString tooManyCodingsText;

    // Nothing when the field names no coding but identity; an inflater that
    // refuses its first byte, with `failure()` saying why, when it names one
    // not known here or too many: a reply without a body still arrives.
    static std::unique_ptr<BodyInflater> forCodings(const QByteArray &contentEncoding);

    ~BodyInflater();
    BodyInflater(const BodyInflater &) = delete;
    BodyInflater &operator=(const BodyInflater &) = delete;

    // The next bytes of the body as they came; held until inflated.
    void take(const char *data, qsizetype size);
    // Appends what the held bytes inflate to onto `out`, no more than `room`
    // bytes; false when the body cannot be inflated (`failure()` says why).
    bool inflate(QByteArray &out, qint64 room);
    // Bytes taken and not all inflated: the reader's room ran out.
    bool holdsInput() const;
    // Whether any byte of the body came.
    bool tookAny() const { return m_tookAny; }
    // Whether every coding's stream has come to its end.
    bool ended() const;
    const QString &failure() const { return m_failure; }

    // One coding's decoder.
    class Decoder;

private:
    struct Stage;
    BodyInflater();

    std::vector<Stage> m_stages;
    QString m_failure;
    bool m_tookAny = false;
};

} // namespace corvane
