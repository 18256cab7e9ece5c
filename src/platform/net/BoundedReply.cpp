#include "platform/net/BoundedReply.h"

#include "platform/net/BoundedTransfer.h"

#include <QIODevice>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

#include <sys/mman.h>

#include <algorithm>
#include <new>
#include <utility>

namespace corvane {

const QString BoundedReply::tooLargeText = QStringLiteral("The reply is too large.");
const QString BoundedReply::tooSlowText = QStringLiteral("The server took too long.");

namespace {

constexpr qint64 readBufferBytes = 1 << 20;

// Room for a body of known size. A large one is laid on huge pages where the
// system offers them: filling fresh memory a page of 4 KiB at a time costs
// several times what the transfer itself does.
void reserve(QByteArray &body, qint64 size)
{
    // A length the server only claims: where the room cannot be had, the body
    // grows as it comes, and reading it is what fails.
    try {
        body.reserve(qsizetype(size));
    } catch (const std::bad_alloc &) {
        return;
    }
    constexpr quintptr hugePage = 2 << 20;
    if (size < 4 * qint64(hugePage))
        return;
    const quintptr start = (quintptr(body.data()) + hugePage - 1) & ~(hugePage - 1);
    const quintptr end = (quintptr(body.data()) + quintptr(size)) & ~(hugePage - 1);
    if (end > start)
        madvise(reinterpret_cast<void *>(start), end - start, MADV_HUGEPAGE);
}

} // namespace

BoundedReply::BoundedReply(QNetworkReply *reply, qint64 maximumBodySize,
                           std::chrono::milliseconds deadline, QIODevice *sink)
    : QObject(reply), m_reply(reply), m_maximumBodySize(maximumBodySize), m_sink(sink),
      m_transfer(dynamic_cast<BoundedTransfer *>(reply))
{
    if (m_transfer)
        m_transfer->holdTo(maximumBodySize, std::chrono::steady_clock::now() + deadline);
    // Without a read buffer the manager's own thread reads on as fast as the
    // server sends, queueing far more than the bound before we see any of it.
    // Set before the request starts, which the manager does later.
    reply->setReadBufferSize(readBufferBytes);
    connect(reply, &QNetworkReply::readyRead, this, &BoundedReply::read);
    // A declared length past the bound is refused before any of it comes;
    // one within it is room made at once.
    connect(reply, &QNetworkReply::metaDataChanged, this, [this] {
        const QVariant length = m_reply->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid() && length.toLongLong() > m_maximumBodySize)
            fail(Failure::tooLarge);
        else if (length.isValid() && !m_sink && m_body.isEmpty())
            reserve(m_body, length.toLongLong());
    });
    // The transport ended the reply for a bound it keeps itself.
    connect(reply, &QNetworkReply::finished, this, [this] {
        if (!m_transfer || m_failure != Failure::none)
            return;
        switch (m_transfer->overrun()) {
        case BoundedTransfer::Overrun::none: return;
        case BoundedTransfer::Overrun::tooLarge: m_failure = Failure::tooLarge; break;
        case BoundedTransfer::Overrun::tooSlow: m_failure = Failure::tooSlow; break;
        }
        m_body.clear();
    });
    // Precise: a coarse timer, the default from two seconds on, may fire 5%
    // before the deadline.
    QTimer::singleShot(deadline, Qt::PreciseTimer, this, [this] { fail(Failure::tooSlow); });
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
    // Read in place, without a copy per read.
    const qint64 available = m_reply->bytesAvailable();
    if (available <= 0)
        return;
    if (m_received + available > m_maximumBodySize) {
        fail(Failure::tooLarge);
        return;
    }
    QByteArray &into = m_sink ? m_chunk : m_body;
    const qsizetype start = m_sink ? 0 : into.size();
    try {
        // Grown by doubling, but never past the bound: a body near it would
        // otherwise take twice the room it may ever fill.
        if (const qint64 needed = start + available; !m_sink && needed > into.capacity())
            into.reserve(qsizetype(std::min(std::max(needed, 2 * qint64(into.capacity())),
                                            std::max(needed, m_maximumBodySize))));
        into.resize(start + qsizetype(available));
    } catch (const std::bad_alloc &) {
        // Within the bound, but more than this machine can hold now.
        fail(Failure::tooLarge);
        return;
    }
    const qint64 count = m_reply->read(into.data() + start, available);
    into.resize(start + qsizetype(std::max<qint64>(count, 0)));
    if (count <= 0)
        return;
    m_received += count;
    if (m_sink && m_sink->write(m_chunk.constData(), count) != count)
        fail(Failure::notWritten, m_sink->errorString());
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
