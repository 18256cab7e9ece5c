#include "platform/net/BoundedNetworkAccessManager.h"

#include <QNetworkReply>
#include <QPointer>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <cstring>
#include <utility>

namespace corvane {

namespace {

// What the socket holds before it stops reading and lets the server wait.
constexpr qint64 socketBufferBytes = 64 * 1024;
// The most taken from the socket at once.
constexpr qint64 readPieceBytes = 64 * 1024;
// A chunk's size line, extensions included.
constexpr qsizetype maximumChunkLineBytes = 1024;

// As Qt's own transport reports error statuses.
QNetworkReply::NetworkError errorForStatus(int status)
{
    switch (status) {
    case 400: return QNetworkReply::ProtocolInvalidOperationError;
    case 401: return QNetworkReply::AuthenticationRequiredError;
    case 403: return QNetworkReply::ContentAccessDenied;
    case 404: return QNetworkReply::ContentNotFoundError;
    case 405: return QNetworkReply::ContentOperationNotPermittedError;
    case 407: return QNetworkReply::ProxyAuthenticationRequiredError;
    case 409: return QNetworkReply::ContentConflictError;
    case 410: return QNetworkReply::ContentGoneError;
    case 418: return QNetworkReply::ProtocolInvalidOperationError;
    case 500: return QNetworkReply::InternalServerError;
    case 501: return QNetworkReply::OperationNotImplementedError;
    case 503: return QNetworkReply::ServiceUnavailableError;
    default:
        return status > 500 ? QNetworkReply::UnknownServerError
                            : QNetworkReply::UnknownContentError;
    }
}

QNetworkReply::NetworkError errorForSocket(QAbstractSocket::SocketError error)
{
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError: return QNetworkReply::ConnectionRefusedError;
    case QAbstractSocket::RemoteHostClosedError: return QNetworkReply::RemoteHostClosedError;
    case QAbstractSocket::HostNotFoundError: return QNetworkReply::HostNotFoundError;
    case QAbstractSocket::SocketTimeoutError: return QNetworkReply::TimeoutError;
    case QAbstractSocket::SslHandshakeFailedError: return QNetworkReply::SslHandshakeFailedError;
    case QAbstractSocket::NetworkError: return QNetworkReply::TemporaryNetworkFailureError;
    default: return QNetworkReply::UnknownNetworkError;
    }
}

bool isRedirect(int status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// Headers the transport writes itself.
bool isFramingHeader(const QByteArray &name)
{
    const QByteArray lower = name.toLower();
    return lower == "host" || lower == "connection" || lower == "content-length" ||
           lower == "transfer-encoding";
}

class HttpReply final : public QNetworkReply {
public:
    HttpReply(QNetworkAccessManager *manager, QNetworkAccessManager::Operation operation,
              const QNetworkRequest &request, QByteArray verb, QByteArray body)
        : QNetworkReply(manager), m_manager(manager), m_verb(std::move(verb)),
          m_body(std::move(body)), m_location(request.url())
    {
        setRequest(request);
        setUrl(request.url());
        setOperation(operation);
        QIODevice::open(QIODevice::ReadOnly);
        m_stall.setSingleShot(true);
        connect(&m_stall, &QTimer::timeout, this,
                [this] { fail(OperationCanceledError, QStringLiteral("Operation canceled")); });
        // Started from the event loop, as Qt's replies are, so that the
        // caller can connect to it and set its read buffer first.
        QMetaObject::invokeMethod(
            this, [this] { start(); }, Qt::QueuedConnection);
    }

    // The socket goes first, and tells this reply nothing more.
    ~HttpReply() override { dropSocket(); }

    void abort() override
    {
        if (isFinished())
            return;
        fail(OperationCanceledError, QStringLiteral("Operation canceled"));
    }

    void close() override
    {
        abort();
        QNetworkReply::close();
    }

    bool isSequential() const override { return true; }

    qint64 bytesAvailable() const override { return QNetworkReply::bytesAvailable() + pending(); }

    void setReadBufferSize(qint64 size) override
    {
        QNetworkReply::setReadBufferSize(size);
        scheduleRead();
    }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        const qint64 count = std::min(maxSize, pending());
        if (count > 0) {
            std::memcpy(data, m_delivered.constData() + m_deliveredStart, size_t(count));
            m_deliveredStart += count;
            if (m_deliveredStart == m_delivered.size()) {
                m_delivered.clear();
                m_deliveredStart = 0;
            }
            // Room again: what waits in the socket may come.
            scheduleRead();
            return count;
        }
        return isFinished() ? -1 : 0;
    }

private:
    enum class Phase {
        idle,
        status,
        headers,
        fixed,
        chunkSize,
        chunkData,
        chunkEnd,
        trailers,
        untilClose,
        done
    };

    qint64 pending() const { return m_delivered.size() - m_deliveredStart; }

    bool inBody() const
    {
        return m_phase == Phase::fixed || m_phase == Phase::chunkSize ||
               m_phase == Phase::chunkData || m_phase == Phase::chunkEnd ||
               m_phase == Phase::untilClose;
    }

    void start()
    {
        if (isFinished())
            return;
        const bool secure = m_location.scheme().compare("https", Qt::CaseInsensitive) == 0;
        if (secure && !QSslSocket::supportsSsl()) {
            fail(ProtocolUnknownError, QStringLiteral("TLS is not available"));
            return;
        }
        QAbstractSocket *socket = secure ? new QSslSocket(this) : new QTcpSocket(this);
        m_socket = socket;
        socket->setReadBufferSize(socketBufferBytes);
        connect(socket, &QAbstractSocket::readyRead, this, [this] {
            touch();
            readSocket();
        });
        connect(socket, &QAbstractSocket::bytesWritten, this, [this] { touch(); });
        connect(socket, &QAbstractSocket::disconnected, this, [this] { socketClosed(); });
        connect(socket, &QAbstractSocket::errorOccurred, this,
                [this](QAbstractSocket::SocketError error) { socketFailed(error); });
        const QString host = m_location.host();
        const quint16 port = quint16(m_location.port(secure ? 443 : 80));
        m_phase = Phase::status;
        touch();
        if (secure) {
            auto *tls = static_cast<QSslSocket *>(socket);
            QSslConfiguration configuration = request().sslConfiguration();
            configuration.setAllowedNextProtocols({QByteArrayLiteral("http/1.1")});
            tls->setSslConfiguration(configuration);
            connect(tls, &QSslSocket::encrypted, this, [this] { sendRequest(); });
            tls->connectToHostEncrypted(host, port);
        } else {
            connect(socket, &QAbstractSocket::connected, this, [this] { sendRequest(); });
            socket->connectToHost(host, port);
        }
    }

    void sendRequest()
    {
        if (!m_socket || isFinished())
            return;
        // The path and query ("/" for an empty path); the host as the URL
        // names it, an IPv6 address in brackets, and its port if it has one.
        QByteArray target =
            m_location.toEncoded(QUrl::RemoveScheme | QUrl::RemoveAuthority | QUrl::RemoveFragment);
        if (!target.startsWith('/'))
            target.prepend('/');
        const QByteArray host =
            m_location.adjusted(QUrl::RemoveUserInfo).authority(QUrl::FullyEncoded).toLatin1();
        QByteArray head = m_verb + ' ' + target + " HTTP/1.1\r\nHost: " + host + "\r\n";
        const QNetworkRequest &sent = request();
        for (const QByteArray &name : sent.rawHeaderList()) {
            if (!isFramingHeader(name))
                head += name + ": " + sent.rawHeader(name) + "\r\n";
        }
        if (!m_body.isEmpty() || m_verb == "POST" || m_verb == "PUT" || m_verb == "PATCH")
            head += "Content-Length: " + QByteArray::number(m_body.size()) + "\r\n";
        head += "Connection: close\r\n\r\n";
        m_socket->write(head + m_body);
    }

    void touch()
    {
        const int timeout = request().transferTimeout() > 0
                                ? request().transferTimeout()
                                : (m_manager ? m_manager->transferTimeout() : 0);
        if (timeout > 0 && !isFinished())
            m_stall.start(timeout);
    }

    void scheduleRead()
    {
        if (m_readScheduled || isFinished())
            return;
        m_readScheduled = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                m_readScheduled = false;
                readSocket();
            },
            Qt::QueuedConnection);
    }

    // Takes what the socket holds while the reader has room for it.
    void readSocket()
    {
        if (m_reading)
            return;
        m_reading = true;
        for (;;) {
            process();
            if (isFinished() || m_phase == Phase::idle)
                break;
            qint64 room = readPieceBytes;
            if (inBody() && readBufferSize() > 0) {
                room = std::min(room, readBufferSize() - pending());
                if (room <= 0)
                    break;
            }
            if (!m_socket || m_socket->bytesAvailable() == 0) {
                if (m_socketGone)
                    endOfStream();
                break;
            }
            m_in += m_socket->read(room);
        }
        m_reading = false;
    }

    // Parses what has come, as far as it goes.
    void process()
    {
        while (!isFinished()) {
            switch (m_phase) {
            case Phase::idle:
            case Phase::done: return;
            case Phase::status:
            case Phase::headers:
            case Phase::trailers: {
                // Line breaks and blank lines count too.
                const qsizetype before = m_in.size();
                const std::optional<QByteArray> line =
                    takeLine(BoundedNetworkAccessManager::maximumHeadBytes - m_headBytes,
                             QStringLiteral("The reply's head is too large."));
                if (!line)
                    return;
                m_headBytes += before - m_in.size();
                headLine(*line);
                break;
            }
            case Phase::fixed:
            case Phase::chunkData: {
                const qint64 count = std::min<qint64>(m_remaining, m_in.size());
                if (count == 0)
                    return;
                deliver(m_in.left(count));
                m_in.remove(0, count);
                m_remaining -= count;
                if (m_remaining == 0) {
                    if (m_phase == Phase::fixed)
                        complete();
                    else
                        m_phase = Phase::chunkEnd;
                }
                break;
            }
            case Phase::untilClose:
                if (m_in.isEmpty())
                    return;
                deliver(std::exchange(m_in, {}));
                break;
            case Phase::chunkSize: {
                const std::optional<QByteArray> line =
                    takeLine(maximumChunkLineBytes, QStringLiteral("A chunk's size is malformed."));
                if (!line)
                    return;
                chunkSizeLine(*line);
                break;
            }
            case Phase::chunkEnd: {
                const std::optional<QByteArray> line =
                    takeLine(2, QStringLiteral("A chunk is malformed."));
                if (!line)
                    return;
                if (!line->isEmpty())
                    failProtocol(QStringLiteral("A chunk is malformed."));
                else
                    m_phase = Phase::chunkSize;
                break;
            }
            }
        }
    }

    // A line of the head or of the chunk framing, without its line break;
    // none until it is whole. A line longer than `limit` fails the reply.
    std::optional<QByteArray> takeLine(qint64 limit, const QString &tooLong)
    {
        const qsizetype end = m_in.indexOf('\n');
        if (end < 0) {
            if (m_in.size() > limit)
                failProtocol(tooLong);
            return std::nullopt;
        }
        if (end + 1 > limit) {
            failProtocol(tooLong);
            return std::nullopt;
        }
        QByteArray line = m_in.left(end);
        m_in.remove(0, end + 1);
        if (line.endsWith('\r'))
            line.chop(1);
        return line;
    }

    void headLine(const QByteArray &line)
    {
        if (m_phase == Phase::status) {
            // Blank lines before a status line are passed over.
            if (!line.isEmpty())
                statusLine(line);
            return;
        }
        if (line.isEmpty()) {
            if (m_phase == Phase::trailers)
                complete();
            else
                headComplete();
            return;
        }
        if (m_phase == Phase::trailers)
            return;
        if (line.front() == ' ' || line.front() == '\t') {
            // A folded line continues the field before it.
            if (m_headers.isEmpty()) {
                failProtocol(QStringLiteral("The reply's head is malformed."));
                return;
            }
            m_headers.last().second += ' ' + line.trimmed();
            return;
        }
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0 || ++m_fields > BoundedNetworkAccessManager::maximumHeaderFields) {
            failProtocol(colon <= 0 ? QStringLiteral("The reply's head is malformed.")
                                    : QStringLiteral("The reply's head is too large."));
            return;
        }
        m_headers.append({line.left(colon).trimmed(), line.mid(colon + 1).trimmed()});
    }

    void statusLine(const QByteArray &line)
    {
        // "HTTP/1.1 200 OK"; the reason may be missing.
        bool ok = false;
        const int status = line.mid(9, 3).toInt(&ok);
        if (!line.startsWith("HTTP/1.") || line.size() < 12 || line[8] != ' ' || !ok ||
            status < 100 || (line.size() > 12 && line[12] != ' ')) {
            failProtocol(QStringLiteral("The reply is not HTTP."));
            return;
        }
        m_status = status;
        m_reason = line.mid(13);
        m_phase = Phase::headers;
    }

    QByteArray header(const char *name) const
    {
        QByteArray value;
        for (const auto &[field, content] : m_headers) {
            if (field.compare(name, Qt::CaseInsensitive) == 0)
                value = value.isEmpty() ? content : value + ", " + content;
        }
        return value;
    }

    void headComplete()
    {
        // An interim reply: the real one follows.
        if (m_status < 200 && m_status != 101) {
            m_headers.clear();
            m_fields = 0;
            m_phase = Phase::status;
            return;
        }
        if (isRedirect(m_status) && followRedirect())
            return;
        setAttribute(QNetworkRequest::HttpStatusCodeAttribute, m_status);
        setAttribute(QNetworkRequest::HttpReasonPhraseAttribute, QString::fromLatin1(m_reason));
        QList<QByteArray> names;
        for (const auto &field : std::as_const(m_headers))
            if (!names.contains(field.first.toLower()))
                names.append(field.first.toLower());
        for (const QByteArray &name : names)
            setRawHeader(name, header(name.constData()));

        const QByteArray coding = header("Transfer-Encoding").toLower();
        const QByteArray length = header("Content-Length");
        bool noBody = m_verb == "HEAD" || m_status == 204 || m_status == 304 || m_status < 200;
        if (noBody) {
            m_phase = Phase::done;
        } else if (!coding.isEmpty()) {
            // Only chunked framing ends before the connection does.
            m_phase = coding.trimmed().endsWith("chunked") ? Phase::chunkSize : Phase::untilClose;
        } else if (!length.isEmpty()) {
            bool ok = false;
            m_total = length.trimmed().toLongLong(&ok);
            if (!ok || m_total < 0) {
                failProtocol(QStringLiteral("The reply's length is malformed."));
                return;
            }
            m_remaining = m_total;
            m_phase = Phase::fixed;
            noBody = m_total == 0;
        } else {
            m_phase = Phase::untilClose;
        }
        emit metaDataChanged();
        if (noBody && !isFinished())
            complete();
    }

    // Follows a redirect as the policy says; false when the reply is to be
    // given as it is.
    bool followRedirect()
    {
        const QByteArray location = header("Location");
        if (location.isEmpty())
            return false;
        const QVariant asked = request().attribute(QNetworkRequest::RedirectPolicyAttribute);
        const auto policy = asked.isValid()
                                ? QNetworkRequest::RedirectPolicy(asked.toInt())
                                : (m_manager ? m_manager->redirectPolicy()
                                             : QNetworkRequest::NoLessSafeRedirectPolicy);
        const QUrl target = m_location.resolved(QUrl::fromEncoded(location));
        if (policy == QNetworkRequest::ManualRedirectPolicy) {
            setAttribute(QNetworkRequest::RedirectionTargetAttribute, target);
            return false;
        }
        const QString scheme = target.scheme().toLower();
        if (!target.isValid() || (scheme != "http" && scheme != "https")) {
            fail(ProtocolUnknownError, QStringLiteral("Unsupported redirect"));
            return true;
        }
        if (m_redirects >= request().maximumRedirectsAllowed()) {
            fail(TooManyRedirectsError, QStringLiteral("Too many redirects"));
            return true;
        }
        const bool lessSafe =
            m_location.scheme().compare("https", Qt::CaseInsensitive) == 0 && scheme == "http";
        const bool otherOrigin = target.scheme() != m_location.scheme() ||
                                 target.host() != m_location.host() ||
                                 target.port() != m_location.port();
        if (lessSafe || (policy == QNetworkRequest::SameOriginRedirectPolicy && otherOrigin)) {
            fail(InsecureRedirectError, QStringLiteral("Insecure redirect"));
            return true;
        }
        ++m_redirects;
        if ((m_status == 303 && m_verb != "HEAD") ||
            ((m_status == 301 || m_status == 302) && m_verb == "POST")) {
            m_verb = "GET";
            m_body.clear();
        }
        dropSocket();
        m_in.clear();
        m_headers.clear();
        m_fields = 0;
        m_headBytes = 0;
        m_socketGone = false;
        m_location = target;
        setUrl(target);
        emit redirected(target);
        if (!isFinished())
            start();
        return true;
    }

    void chunkSizeLine(const QByteArray &line)
    {
        const qsizetype extension = line.indexOf(';');
        const QByteArray digits = (extension < 0 ? line : line.left(extension)).trimmed();
        bool ok = digits.size() <= 15;
        const qint64 size = ok ? digits.toLongLong(&ok, 16) : 0;
        if (!ok || size < 0) {
            failProtocol(QStringLiteral("A chunk's size is malformed."));
            return;
        }
        if (size == 0) {
            m_headBytes = 0;
            m_phase = Phase::trailers;
            return;
        }
        m_remaining = size;
        m_phase = Phase::chunkData;
    }

    void deliver(const QByteArray &bytes)
    {
        if (m_deliveredStart > 0 && m_deliveredStart >= m_delivered.size() / 2) {
            m_delivered.remove(0, m_deliveredStart);
            m_deliveredStart = 0;
        }
        m_delivered += bytes;
        m_received += bytes.size();
        emit readyRead();
        if (!isFinished())
            emit downloadProgress(m_received, m_total);
    }

    void socketFailed(QAbstractSocket::SocketError error)
    {
        // The server ending its reply by closing is no failure in itself.
        if (error == QAbstractSocket::RemoteHostClosedError) {
            socketClosed();
            return;
        }
        if (!isFinished() && m_socket)
            fail(errorForSocket(error), m_socket->errorString());
    }

    void socketClosed()
    {
        if (isFinished() || m_socketGone)
            return;
        m_socketGone = true;
        readSocket();
    }

    void endOfStream()
    {
        if (m_phase == Phase::untilClose)
            complete();
        else
            fail(RemoteHostClosedError, QStringLiteral("Connection closed"));
    }

    void complete()
    {
        if (isFinished())
            return;
        m_phase = Phase::done;
        dropSocket();
        m_stall.stop();
        if (m_status >= 400) {
            const NetworkError code = errorForStatus(m_status);
            setError(code, QStringLiteral("Error transferring %1 - server replied: %2")
                               .arg(url().toString(), QString::fromLatin1(m_reason)));
            emit errorOccurred(code);
        }
        setFinished(true);
        emit finished();
    }

    void failProtocol(const QString &text) { fail(ProtocolFailure, text); }

    void fail(NetworkError code, const QString &text)
    {
        if (isFinished())
            return;
        m_phase = Phase::done;
        dropSocket();
        m_stall.stop();
        m_in.clear();
        setError(code, text);
        emit errorOccurred(code);
        setFinished(true);
        emit finished();
    }

    void dropSocket()
    {
        if (!m_socket)
            return;
        QAbstractSocket *socket = std::exchange(m_socket, nullptr);
        socket->disconnect(this);
        socket->abort();
        socket->deleteLater();
    }

    QPointer<QNetworkAccessManager> m_manager;
    QByteArray m_verb;
    QByteArray m_body;
    QUrl m_location;
    int m_redirects = 0;
    QAbstractSocket *m_socket = nullptr;
    bool m_socketGone = false;
    QTimer m_stall;
    Phase m_phase = Phase::idle;
    bool m_reading = false;
    bool m_readScheduled = false;
    // Bytes taken from the socket and not parsed yet.
    QByteArray m_in;
    qint64 m_headBytes = 0;
    int m_fields = 0;
    int m_status = 0;
    QByteArray m_reason;
    QList<std::pair<QByteArray, QByteArray>> m_headers;
    qint64 m_remaining = 0;
    qint64 m_total = -1;
    qint64 m_received = 0;
    // The body handed on and not read yet, from `m_deliveredStart`.
    QByteArray m_delivered;
    qint64 m_deliveredStart = 0;
};

} // namespace

QNetworkReply *BoundedNetworkAccessManager::createRequest(Operation operation,
                                                          const QNetworkRequest &request,
                                                          QIODevice *outgoingData)
{
    const QString scheme = request.url().scheme().toLower();
    QByteArray verb;
    switch (operation) {
    case HeadOperation: verb = "HEAD"; break;
    case GetOperation: verb = "GET"; break;
    case PutOperation: verb = "PUT"; break;
    case PostOperation: verb = "POST"; break;
    case DeleteOperation: verb = "DELETE"; break;
    case CustomOperation:
        verb = request.attribute(QNetworkRequest::CustomVerbAttribute).toByteArray();
        break;
    default: break;
    }
    if ((scheme != "http" && scheme != "https") || verb.isEmpty())
        return QNetworkAccessManager::createRequest(operation, request, outgoingData);
    // The program's own request bodies: small, and whole in memory already.
    QByteArray body;
    if (outgoingData) {
        if (!outgoingData->isOpen())
            outgoingData->open(QIODevice::ReadOnly);
        body = outgoingData->readAll();
    }
    return new HttpReply(this, operation, request, verb, body);
}

} // namespace corvane
