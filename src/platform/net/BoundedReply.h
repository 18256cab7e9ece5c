#pragma once

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>

#include <chrono>

class QIODevice;
class QNetworkReply;

namespace corvane {

class BoundedTransfer;

// Holds one network reply to a body size and a whole-transfer deadline, so a
// server that sends without end, or slowly enough to dodge the inactivity
// timeout, can neither fill the memory nor keep the request for ever. The
// body is read as it arrives, into memory or into `sink`. Going past a bound,
// or a sink that cannot be written, aborts the reply (its `finished` follows
// at once) and failure() says why. A reply of BoundedNetworkAccessManager is
// also told the bounds, which its transport keeps where this object's timer
// cannot run. A child of the reply, made before anyone else connects to its
// `finished`: it goes with it, and knows why it ended first.
class BoundedReply : public QObject {
public:
    enum class Failure { none, tooLarge, tooSlow, notWritten };

    static const QString tooLargeText; // "The reply is too large."
    static const QString tooSlowText;  // "The server took too long."

    BoundedReply(QNetworkReply *reply, qint64 maximumBodySize, std::chrono::milliseconds deadline,
                 QIODevice *sink = nullptr);

    Failure failure() const { return m_failure; }
    // Why the reply was ended; empty when it was not.
    QString failureText() const;
    // The body received (empty when it went to the sink); reads what is
    // still waiting first.
    QByteArray takeBody();

private:
    void read();
    void fail(Failure failure, const QString &text = {});

    QPointer<QNetworkReply> m_reply;
    const qint64 m_maximumBodySize;
    QIODevice *const m_sink;
    // The reply's own transport, where it keeps the bounds too.
    BoundedTransfer *const m_transfer;
    QByteArray m_body;
    // What was read last on its way to the sink.
    QByteArray m_chunk;
    qint64 m_received = 0;
    Failure m_failure = Failure::none;
    QString m_sinkError;
};

} // namespace corvane
