#include "platform/net/BoundedReply.h"

#include <QIODevice>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

#include <utility>

namespace corvane {

const QString BoundedReply::tooLargeText = QStringLiteral("The reply is too large.");
const QString BoundedReply::tooSlowText = QStringLiteral("The server took too long.");

namespace {

constexpr qint64 readBufferBytes = 1 << 20;

} // namespace

BoundedReply::BoundedReply(QNetworkReply *reply, qint64 maximumBodySize,
                           std::chrono::milliseconds deadline, QIODevice *sink)
    : QObject(reply), m_reply(reply), m_maximumBodySize(maximumBodySize), m_sink(sink)
{
    // Without a read buffer the manager's own thread reads on as fast as the
    // server sends, queueing far more than the bound before we see any of it.
    // Set before the request starts, which the manager does later.
    reply->setReadBufferSize(readBufferBytes);
    connect(reply, &QNetworkReply::readyRead, this, &BoundedReply::read);
    // A declared length past the bound is refused before any of it comes.
    connect(reply, &QNetworkReply::metaDataChanged, this, [this] {
        const QVariant length = m_reply->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid() && length.toLongLong() > m_maximumBodySize)
            fail(Failure::tooLarge);
    });
    QTimer::singleShot(deadline, this, [this] { fail(Failure::tooSlow); });
}

QString BoundedReply::failureText() const
{
    switch (m_failure) {
    case Failure::none: return {};
    case Failure::tooLarge: return tooLargeText;
    case Failure::tooSlow: return tooSlowText;
    case Failure::notWritten: return m_sinkError;
    }
    return {};
}

QByteArray BoundedReply::takeBody()
{
    read();
    return std::exchange(m_body, {});
}

void BoundedReply::read()
{
    if (!m_reply || m_failure != Failure::none)
        return;
    const QByteArray chunk = m_reply->readAll();
    if (chunk.isEmpty())
        return;
    m_received += chunk.size();
    if (m_received > m_maximumBodySize) {
        fail(Failure::tooLarge);
    } else if (!m_sink) {
        m_body += chunk;
    } else if (m_sink->write(chunk) != chunk.size()) {
        fail(Failure::notWritten, m_sink->errorString());
    }
}

void BoundedReply::fail(Failure failure, const QString &text)
{
    if (!m_reply || m_reply->isFinished() || m_failure != Failure::none)
        return;
    m_failure = failure;
    m_sinkError = text;
    m_body.clear();
    m_reply->abort();
}

} // namespace corvane
