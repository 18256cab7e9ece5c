#include "platform/net/BoundedNetworkAccessManager.h"

#include "platform/net/BoundedTransfer.h"
#include "platform/net/CurlMulti.h"
#include "platform/net/EnvironmentProxy.h"

#include <QNetworkReply>
#include <QPointer>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QTimer>

#include <curl/curl.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <utility>

namespace corvane {

namespace {

// What a followed redirect's own body may cost before its connection is
// dropped instead of read to its end.
constexpr qint64 maximumRedirectBodyBytes = 64 * 1024;
// A Content-Length past this fails, where libcurl would otherwise read an
// overflowing one up to the close.
constexpr curl_off_t maximumDeclaredLength = curl_off_t(1) << 62;

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

using Clock = std::chrono::steady_clock;

struct Failure {
    QNetworkReply::NetworkError code = QNetworkReply::NoError;
    QString text;
};

const Failure canceled = {QNetworkReply::OperationCanceledError,
                          QStringLiteral("Operation canceled")};

// A transfer libcurl ended, told as Qt's own replies tell it; a proxy's
// failure as the proxy's.
Failure failureOf(CURLcode result, long osError, const char *detail, const QUrl &url, bool viaProxy)
{
    const QString said = detail[0] ? QString::fromUtf8(detail).trimmed()
                                   : QString::fromUtf8(curl_easy_strerror(result));
    switch (result) {
    case CURLE_COULDNT_RESOLVE_HOST:
        return {QNetworkReply::HostNotFoundError,
                QStringLiteral("Host %1 not found").arg(url.host())};
    case CURLE_COULDNT_RESOLVE_PROXY:
        return {QNetworkReply::ProxyNotFoundError, QStringLiteral("Proxy server not found")};
    case CURLE_COULDNT_CONNECT:
        // Through a proxy, only the proxy is connected to.
        if (viaProxy && osError == ECONNREFUSED)
            return {QNetworkReply::ProxyConnectionRefusedError,
                    QStringLiteral("Proxy connection refused")};
        if (viaProxy)
            return {QNetworkReply::UnknownProxyError, said};
        if (osError == ECONNREFUSED)
            return {QNetworkReply::ConnectionRefusedError, QStringLiteral("Connection refused")};
        return {QNetworkReply::UnknownNetworkError, said};
    // Our connect timeout and low-speed limit: the transfer stalled.
    case CURLE_OPERATION_TIMEDOUT: return canceled;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
        return {QNetworkReply::SslHandshakeFailedError,
                QStringLiteral("SSL handshake failed: ") + said};
    case CURLE_GOT_NOTHING:
    case CURLE_PARTIAL_FILE:
    case CURLE_SEND_ERROR:
        return {QNetworkReply::RemoteHostClosedError, QStringLiteral("Connection closed")};
    case CURLE_RECV_ERROR:
        if (osError == ECONNRESET || osError == EPIPE)
            return {QNetworkReply::RemoteHostClosedError, QStringLiteral("Connection closed")};
        return {QNetworkReply::ProtocolFailure, said};
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_BAD_CONTENT_ENCODING:
    case CURLE_FILESIZE_EXCEEDED:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
    case CURLE_BAD_FUNCTION_ARGUMENT: return {QNetworkReply::ProtocolFailure, said};
    default: return {QNetworkReply::UnknownNetworkError, said};
    }
}

bool isRedirect(int status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// Fields the transport writes itself.
bool isFramingField(const QByteArray &lowerName)
{
    return lowerName == "host" || lowerName == "connection" || lowerName == "content-length" ||
           lowerName == "transfer-encoding" || lowerName == "expect";
}

// Fields that name who asks: not for another origin.
bool isCredentialField(const QByteArray &lowerName)
{
    return lowerName == "authorization" || lowerName == "cookie";
}

bool sameOrigin(const QUrl &a, const QUrl &b)
{
    const auto defaultPort = [](const QUrl &url) {
        return url.port(url.scheme().compare("https", Qt::CaseInsensitive) == 0 ? 443 : 80);
    };
    return a.scheme().compare(b.scheme(), Qt::CaseInsensitive) == 0 &&
           a.host().compare(b.host(), Qt::CaseInsensitive) == 0 && defaultPort(a) == defaultPort(b);
}

class CurlReply final : public QNetworkReply, public BoundedTransfer {
public:
    CurlReply(QNetworkAccessManager *manager, std::shared_ptr<CurlMulti> multi,
              QNetworkAccessManager::Operation operation, const QNetworkRequest &request,
              QByteArray verb, QByteArray body)
        : QNetworkReply(manager), m_manager(manager), m_multi(std::move(multi)),
          m_verb(std::move(verb)), m_body(std::move(body)), m_location(request.url())
    {
        setRequest(request);
        setUrl(request.url());
        setOperation(operation);
        for (const QByteArray &name : request.rawHeaderList())
            if (!isFramingField(name.toLower()))
                m_fields.append({name, request.rawHeader(name)});
        QIODevice::open(QIODevice::ReadOnly);
        m_stall.setSingleShot(true);
        m_stall.setTimerType(Qt::PreciseTimer);
        connect(&m_stall, &QTimer::timeout, this, [this] { checkStall(); });
        // Started from the event loop, as Qt's replies are, so that the
        // caller can connect to it and set its read buffer first.
        QMetaObject::invokeMethod(
            this, [this] { startHop(); }, Qt::QueuedConnection);
    }

    ~CurlReply() override { endHop(); }

    void abort() override
    {
        if (m_ended)
            return;
        fail(canceled);
    }

    void holdTo(qint64 maximumBodySize, Clock::time_point deadline) override
    {
        m_maximumBodySize = maximumBodySize;
        m_deadline = deadline;
    }

    Overrun overrun() const override { return m_overrun; }

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
        resumeWhenRoom();
    }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        const qint64 count = std::min(maxSize, pending());
        if (count > 0) {
            std::memcpy(data, m_delivered.constData() + m_deliveredStart, size_t(count));
            m_deliveredStart += count;
            if (m_deliveredStart == m_delivered.size()) {
                // Its memory is kept for what comes next.
                m_delivered.resize(0);
                m_deliveredStart = 0;
            }
            resumeWhenRoom();
            return count;
        }
        return isFinished() ? -1 : 0;
    }

private:
    // Where the current request's reply is: in its head (interim replies
    // included), in a body handed on, in the body of a redirect to follow.
    enum class Stage { head, body, redirect };

    qint64 pending() const { return m_delivered.size() - m_deliveredStart; }

    bool hasRoom() const { return readBufferSize() <= 0 || pending() < readBufferSize(); }

    int stallTimeout() const
    {
        return request().transferTimeout() > 0 ? request().transferTimeout()
                                               : (m_manager ? m_manager->transferTimeout() : 0);
    }

    // Progress: the stall is timed from now, unless the reader holds the
    // transfer. The timer is not started again for every piece of a body:
    // when it fires it looks at when the last progress was.
    void touch()
    {
        m_lastProgress = Clock::now();
        if (stallTimeout() > 0 && !m_ended && !m_paused && !m_stall.isActive())
            m_stall.start(stallTimeout());
    }

    std::chrono::milliseconds sinceProgress(Clock::time_point now) const
    {
        return std::chrono::duration_cast<std::chrono::milliseconds>(now - m_lastProgress);
    }

    void checkStall()
    {
        if (m_ended || m_paused)
            return;
        const std::chrono::milliseconds left =
            std::chrono::milliseconds(stallTimeout()) - sinceProgress(Clock::now());
        if (left.count() > 0)
            m_stall.start(int(left.count()));
        else
            fail(canceled);
    }

    // What a connection, its TLS handshake and a proxy's tunnel may take: as
    // long as a stall, and no longer than the deadline leaves. Notes which
    // of the two it is.
    long connectTimeout()
    {
        long milliseconds = stallTimeout();
        m_connectEndsAtDeadline = false;
        if (m_deadline != Clock::time_point::max()) {
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(m_deadline - Clock::now()).count();
            const long bounded = long(std::max<qint64>(1, left));
            m_connectEndsAtDeadline = milliseconds <= 0 || bounded < milliseconds;
            milliseconds = m_connectEndsAtDeadline ? bounded : milliseconds;
        }
        return milliseconds;
    }

    // One request of the reply: the first, or one a redirect asks for.
    void startHop()
    {
        if (m_ended)
            return;
        m_easy = curl_easy_init();
        if (!m_easy) {
            fail(UnknownNetworkError, QStringLiteral("The transfer could not be set up."));
            return;
        }
        configure();
        touch();
        // Only HTTPS may turn out to be HTTP/2, its connections shared.
        const bool secure = m_location.scheme().compare("https", Qt::CaseInsensitive) == 0;
        const QString origin = secure ? QStringLiteral("https://%1:%2")
                                            .arg(m_location.host().toLower())
                                            .arg(m_location.port(443))
                                      : QString();
        if (!m_multi->add(
                m_easy, [this](int result) { hopDone(CURLcode(result)); }, origin))
            fail(UnknownNetworkError, QStringLiteral("The transfer could not be set up."));
    }

    void configure()
    {
        CURL *easy = m_easy;
        m_detail[0] = '\0';
        // No user name or password goes to the server.
        const QByteArray target =
            m_location.adjusted(QUrl::RemoveUserInfo | QUrl::RemoveFragment).toEncoded();
        curl_easy_setopt(easy, CURLOPT_URL, target.constData());
        curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, m_detail);
        curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &CurlReply::onHeader);
        curl_easy_setopt(easy, CURLOPT_HEADERDATA, this);
        curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &CurlReply::onBody);
        curl_easy_setopt(easy, CURLOPT_WRITEDATA, this);
        curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, &CurlReply::onProgress);
        curl_easy_setopt(easy, CURLOPT_XFERINFODATA, this);
        curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
        // A proxy's reply to CONNECT comes through onHeader, where a refusal
        // ends the transfer before libcurl reads a body of it that may have
        // no end.
        curl_easy_setopt(easy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 0L);
        m_proxy = EnvironmentProxy::forUrl(m_location);
        curl_easy_setopt(easy, CURLOPT_PROXY, m_proxy.constData());
        curl_easy_setopt(easy, CURLOPT_NOPROXY, "");
        // The deadlines hold inside libcurl too, where it holds the thread
        // (onProgress runs there). No low-speed limit: it counts the bytes
        // read, and a compressed body may be inflated for seconds from what
        // came in one read.
        if (const long connect = connectTimeout(); connect > 0)
            curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, connect);
        // Removing a transfer that is still resolving a name leaves the
        // resolver's thread to end alone rather than waiting for it.
        curl_easy_setopt(easy, CURLOPT_QUICK_EXIT, 1L);
        curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_2TLS));
        // A request waits for a connection it can share rather than opening
        // another at once.
        curl_easy_setopt(easy, CURLOPT_PIPEWAIT, 1L);
        curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, "");
        curl_easy_setopt(easy, CURLOPT_MAXFILESIZE_LARGE, maximumDeclaredLength);

        const bool sendsBody =
            !m_body.isEmpty() || m_verb == "POST" || m_verb == "PUT" || m_verb == "PATCH";
        if (m_verb == "HEAD") {
            curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
        } else if (sendsBody) {
            curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(m_body.size()));
            curl_easy_setopt(easy, CURLOPT_POSTFIELDS, m_body.constData());
            if (m_verb != "POST")
                curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, m_verb.constData());
        } else {
            curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
            if (m_verb != "GET")
                curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, m_verb.constData());
        }

        curl_slist_free_all(std::exchange(m_fieldList, nullptr));
        bool typed = false;
        for (const auto &[name, value] : std::as_const(m_fields)) {
            typed = typed || name.compare("content-type", Qt::CaseInsensitive) == 0;
            // "Name;" is how libcurl sends a field with no value.
            const QByteArray line = value.isEmpty() ? name + ';' : name + ": " + value;
            m_fieldList = curl_slist_append(m_fieldList, line.constData());
        }
        // Neither a form type of libcurl's nor a wait for "100 Continue".
        if (sendsBody && !typed)
            m_fieldList = curl_slist_append(m_fieldList, "Content-Type:");
        m_fieldList = curl_slist_append(m_fieldList, "Expect:");
        curl_easy_setopt(easy, CURLOPT_HTTPHEADER, m_fieldList);

        const QList<QSslCertificate> authorities = request().sslConfiguration().caCertificates();
        if (!authorities.isEmpty()) {
            QByteArray pem;
            for (const QSslCertificate &authority : authorities)
                pem += authority.toPem();
            curl_blob blob{pem.data(), size_t(pem.size()), CURL_BLOB_COPY};
            curl_easy_setopt(easy, CURLOPT_CAINFO_BLOB, &blob);
            curl_easy_setopt(easy, CURLOPT_CAPATH, nullptr);
        }
    }

    void endHop()
    {
        if (m_easy) {
            m_multi->remove(m_easy);
            curl_easy_cleanup(std::exchange(m_easy, nullptr));
        }
        curl_slist_free_all(std::exchange(m_fieldList, nullptr));
    }

    // libcurl's callbacks: nothing here runs code of the reply's users, nor
    // drives libcurl; what users are told waits for the event loop.

    static size_t onHeader(char *data, size_t, size_t size, void *self)
    {
        return static_cast<CurlReply *>(self)->headerLine(QByteArray(data, qsizetype(size)));
    }

    static size_t onBody(char *data, size_t, size_t size, void *self)
    {
        return static_cast<CurlReply *>(self)->bodyBytes(data, size);
    }

    // Called at every pass libcurl makes over the transfer, and for every
    // byte of a proxy's reply to CONNECT: a transfer past its deadline or
    // stalled ends here even while libcurl holds the thread.
    static int onProgress(void *self, curl_off_t, curl_off_t, curl_off_t, curl_off_t sent)
    {
        return static_cast<CurlReply *>(self)->progress(sent);
    }

    int progress(curl_off_t sent)
    {
        if (sent > m_sent) {
            m_sent = sent;
            touch();
        }
        const Clock::time_point now = Clock::now();
        if (now >= m_deadline) {
            m_overrun = Overrun::tooSlow;
            m_refusal = canceled;
            return 1;
        }
        if (!m_paused && stallTimeout() > 0 &&
            sinceProgress(now) >= std::chrono::milliseconds(stallTimeout())) {
            m_refusal = canceled;
            return 1;
        }
        return 0;
    }

    // Refuses the reply from inside a callback: libcurl ends the transfer.
    size_t refuse(const QString &text)
    {
        m_refusal = {ProtocolFailure, text};
        return 0;
    }

    size_t headerLine(QByteArray line)
    {
        touch();
        const size_t size = size_t(line.size());
        if (m_refusal.code != NoError)
            return 0;
        if (m_stage != Stage::head)
            return trailerLine(line);
        m_headBytes += line.size();
        if (m_headBytes > BoundedNetworkAccessManager::maximumHeadBytes)
            return refuse(QStringLiteral("The reply's head is too large."));
        if (line.endsWith('\n'))
            line.chop(1);
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.startsWith("HTTP/")) {
            // "HTTP/1.1 200 OK", "HTTP/2 200": libcurl has checked it.
            const qsizetype space = line.indexOf(' ');
            m_status = line.mid(space + 1, 3).toInt();
            m_reason = line.size() > space + 5 ? line.mid(space + 5).trimmed() : QByteArray();
            m_headers.clear();
            m_fieldCount = 0;
            m_headFrom = HeadFrom::unknown;
            return size;
        }
        if (m_headFrom == HeadFrom::unknown)
            m_headFrom = isProxysHead() ? HeadFrom::proxy : HeadFrom::server;
        if (m_headFrom == HeadFrom::proxy)
            return proxyLine(line) ? size : 0;
        if (line.isEmpty())
            return headEnded() ? size : 0;
        if (line.front() == ' ' || line.front() == '\t') {
            // A folded line continues the field before it.
            if (m_headers.isEmpty())
                return refuse(QStringLiteral("The reply's head is malformed."));
            m_headers.last().second += ' ' + line.trimmed();
            return size;
        }
        // libcurl has checked the form of the line.
        const qsizetype colon = line.indexOf(':');
        if (++m_fieldCount > BoundedNetworkAccessManager::maximumHeaderFields)
            return refuse(QStringLiteral("The reply's head is too large."));
        m_headers.append({line.left(colon).trimmed(), line.mid(colon + 1).trimmed()});
        return size;
    }

    // Whether the head begun is a proxy's reply to CONNECT. libcurl has
    // taken its status by the line after the status line.
    bool isProxysHead() const
    {
        long connectStatus = 0;
        return !m_proxy.isEmpty() && !m_tunnelled &&
               curl_easy_getinfo(m_easy, CURLINFO_HTTP_CONNECTCODE, &connectStatus) == CURLE_OK &&
               connectStatus != 0;
    }

    // A line of the proxy's reply to CONNECT. Anything but a tunnel is
    // refused at its first field, as Qt does, rather than read on.
    bool proxyLine(const QByteArray &line)
    {
        if (m_status == 407) {
            m_refusal = {ProxyAuthenticationRequiredError,
                         QStringLiteral("Proxy requires authentication")};
            return false;
        }
        if (m_status < 200 || m_status > 299) {
            m_refusal = {UnknownProxyError, QStringLiteral("Proxy error: %1 %2")
                                                .arg(m_status)
                                                .arg(QString::fromLatin1(m_reason))
                                                .trimmed()};
            return false;
        }
        if (line.isEmpty()) {
            // The tunnel is open: the server's reply follows.
            m_tunnelled = true;
            m_status = 0;
            m_reason.clear();
            m_headFrom = HeadFrom::unknown;
        }
        return true;
    }

    // A field after a chunked body, or the blank line ending them: libcurl
    // has checked its form, not how many there are.
    size_t trailerLine(const QByteArray &line)
    {
        m_trailerBytes += line.size();
        if (m_trailerBytes > BoundedNetworkAccessManager::maximumHeadBytes)
            return refuse(QStringLiteral("The reply's trailer is too large."));
        return size_t(line.size());
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

    // The end of a head; false when the reply is refused.
    bool headEnded()
    {
        // An interim reply: the real one follows.
        if (m_status < 200 && m_status != 101)
            return true;
        if (isRedirect(m_status)) {
            switch (redirect()) {
            case Redirect::deliver: break;
            case Redirect::follow: m_stage = Stage::redirect; return true;
            case Redirect::refused: return false;
            }
        }
        setAttribute(QNetworkRequest::HttpStatusCodeAttribute, m_status);
        setAttribute(QNetworkRequest::HttpReasonPhraseAttribute, QString::fromLatin1(m_reason));
        // The length of a compressed body is not that of the body handed on.
        const QByteArray coding = header("Content-Encoding").trimmed().toLower();
        const bool inflated = !coding.isEmpty() && coding != "identity";
        QList<QByteArray> names;
        for (const auto &field : std::as_const(m_headers)) {
            const QByteArray lower = field.first.toLower();
            if (!names.contains(lower) && !(inflated && lower == "content-length"))
                names.append(lower);
        }
        for (const QByteArray &name : std::as_const(names))
            setRawHeader(name, header(name.constData()));
        bool known = false;
        const qint64 length = inflated ? -1 : header("Content-Length").trimmed().toLongLong(&known);
        m_total = known ? length : -1;
        m_stage = Stage::body;
        m_headPending = true;
        scheduleFlush();
        return true;
    }

    enum class Redirect { deliver, follow, refused };

    // Whether to follow a redirect, as the policy says.
    Redirect redirect()
    {
        const QByteArray location = header("Location");
        if (location.isEmpty())
            return Redirect::deliver;
        const QVariant asked = request().attribute(QNetworkRequest::RedirectPolicyAttribute);
        const auto policy = asked.isValid()
                                ? QNetworkRequest::RedirectPolicy(asked.toInt())
                                : (m_manager ? m_manager->redirectPolicy()
                                             : QNetworkRequest::NoLessSafeRedirectPolicy);
        const QUrl target = m_location.resolved(QUrl::fromEncoded(location));
        if (policy == QNetworkRequest::ManualRedirectPolicy) {
            setAttribute(QNetworkRequest::RedirectionTargetAttribute, target);
            return Redirect::deliver;
        }
        const QString scheme = target.scheme().toLower();
        if (!target.isValid() || (scheme != "http" && scheme != "https")) {
            m_refusal = {ProtocolUnknownError, QStringLiteral("Unsupported redirect")};
            return Redirect::refused;
        }
        if (m_redirects >= request().maximumRedirectsAllowed()) {
            m_refusal = {TooManyRedirectsError, QStringLiteral("Too many redirects")};
            return Redirect::refused;
        }
        const bool lessSafe =
            m_location.scheme().compare("https", Qt::CaseInsensitive) == 0 && scheme == "http";
        if (lessSafe || (policy == QNetworkRequest::SameOriginRedirectPolicy &&
                         !sameOrigin(target, m_location))) {
            m_refusal = {InsecureRedirectError, QStringLiteral("Insecure redirect")};
            return Redirect::refused;
        }
        m_target = target;
        return Redirect::follow;
    }

    size_t bodyBytes(const char *data, size_t size)
    {
        touch();
        if (m_refusal.code != NoError)
            return 0;
        if (m_stage == Stage::redirect) {
            // Read to its end, the connection serves the next request.
            m_redirectBodyBytes += qint64(size);
            return m_redirectBodyBytes > maximumRedirectBodyBytes ? 0 : size;
        }
        // Past the reader's bound: inflating a bomb stops here.
        if (m_maximumBodySize >= 0 && m_received + qint64(size) > m_maximumBodySize) {
            m_overrun = Overrun::tooLarge;
            m_refusal = canceled;
            return 0;
        }
        if (!hasRoom()) {
            m_paused = true;
            m_stall.stop();
            return CURL_WRITEFUNC_PAUSE;
        }
        if (m_deliveredStart > 0 && m_deliveredStart >= m_delivered.size() / 2) {
            m_delivered.remove(0, m_deliveredStart);
            m_deliveredStart = 0;
        }
        m_delivered.append(data, qsizetype(size));
        m_received += qint64(size);
        m_bodyPending = true;
        scheduleFlush();
        return size;
    }

    // A paused transfer goes on once the reader has taken half of its
    // buffer, and from the event loop. Resumed at every read, libcurl would
    // hand on one piece and copy all it holds back (a whole inflated input
    // block, megabytes of a compression bomb) each time, and a reader's
    // readAll() would take everything libcurl holds, past its buffer.
    bool hasRoomToResume() const
    {
        return readBufferSize() <= 0 || pending() <= readBufferSize() / 2;
    }

    void resumeWhenRoom()
    {
        if (!m_paused || m_resumeScheduled || !hasRoomToResume())
            return;
        m_resumeScheduled = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                m_resumeScheduled = false;
                if (!m_paused || !m_easy || !hasRoomToResume())
                    return;
                m_paused = false;
                touch();
                // What libcurl held back may come at once, into the room made.
                m_multi->resume(m_easy);
            },
            Qt::QueuedConnection);
    }

    void hopDone(CURLcode result)
    {
        long osError = 0;
        curl_easy_getinfo(m_easy, CURLINFO_OS_ERRNO, &osError);
        // The connect timeout (libcurl's only timeout here) was the deadline.
        if (result == CURLE_OPERATION_TIMEDOUT && m_connectEndsAtDeadline)
            m_overrun = Overrun::tooSlow;
        if (m_refusal.code != NoError) {
            end(m_refusal);
        } else if (m_stage == Stage::redirect) {
            follow();
        } else if (result != CURLE_OK) {
            end(failureOf(result, osError, m_detail, m_location, !m_proxy.isEmpty()));
        } else if (m_stage != Stage::body) {
            end({ProtocolFailure, QStringLiteral("The reply is not HTTP.")});
        } else if (m_status >= 400) {
            end({errorForStatus(m_status),
                 QStringLiteral("Error transferring %1 - server replied: %2")
                     .arg(url().toString(), QString::fromLatin1(m_reason))});
        } else {
            end({});
        }
    }

    void follow()
    {
        ++m_redirects;
        if ((m_status == 303 && m_verb != "HEAD") ||
            ((m_status == 301 || m_status == 302) && m_verb == "POST")) {
            m_verb = "GET";
            m_body.clear();
            m_fields.removeIf([](const auto &field) {
                return field.first.compare("content-type", Qt::CaseInsensitive) == 0;
            });
        }
        if (!sameOrigin(m_target, m_location))
            m_fields.removeIf(
                [](const auto &field) { return isCredentialField(field.first.toLower()); });
        endHop();
        m_location = m_target;
        m_stage = Stage::head;
        m_status = 0;
        m_reason.clear();
        m_headers.clear();
        m_fieldCount = 0;
        m_headFrom = HeadFrom::unknown;
        m_tunnelled = false;
        m_headBytes = 0;
        m_trailerBytes = 0;
        m_redirectBodyBytes = 0;
        setUrl(m_target);
        m_redirectsToTell.append(m_target);
        scheduleFlush();
        startHop();
    }

    // The transfer is over; users are told from the event loop, after what
    // came before it.
    void end(const Failure &failure)
    {
        m_ended = true;
        m_stall.stop();
        endHop();
        if (failure.code != NoError)
            setError(failure.code, failure.text);
        m_finishPending = true;
        scheduleFlush();
    }

    // Ended by the caller or the stall timer: told at once, as Qt does.
    void fail(const Failure &failure) { fail(failure.code, failure.text); }

    void fail(NetworkError code, const QString &text)
    {
        if (m_ended)
            return;
        m_ended = true;
        m_finishPending = false;
        m_stall.stop();
        endHop();
        setError(code, text);
        setFinished(true);
        emit errorOccurred(code);
        emit finished();
    }

    void scheduleFlush()
    {
        if (m_flushScheduled)
            return;
        m_flushScheduled = true;
        QMetaObject::invokeMethod(
            this, [this] { flush(); }, Qt::QueuedConnection);
    }

    // Tells users what happened, in order; any of them may abort the reply.
    void flush()
    {
        m_flushScheduled = false;
        if (isFinished())
            return;
        const QPointer<CurlReply> self(this);
        const auto stillOn = [&] { return self && !isFinished(); };
        for (const QUrl &target : std::exchange(m_redirectsToTell, {})) {
            emit redirected(target);
            if (!stillOn())
                return;
        }
        if (std::exchange(m_headPending, false)) {
            emit metaDataChanged();
            if (!stillOn())
                return;
        }
        if (std::exchange(m_bodyPending, false)) {
            emit readyRead();
            if (!stillOn())
                return;
            emit downloadProgress(m_received, m_total);
            if (!stillOn())
                return;
        }
        if (std::exchange(m_finishPending, false)) {
            setFinished(true);
            if (error() != NoError)
                emit errorOccurred(error());
            if (self)
                emit finished();
        }
    }

    QPointer<QNetworkAccessManager> m_manager;
    std::shared_ptr<CurlMulti> m_multi;
    QByteArray m_verb;
    QByteArray m_body;
    QList<std::pair<QByteArray, QByteArray>> m_fields;
    QUrl m_location;
    QUrl m_target;
    int m_redirects = 0;
    CURL *m_easy = nullptr;
    curl_slist *m_fieldList = nullptr;
    char m_detail[CURL_ERROR_SIZE] = {};
    QTimer m_stall;
    Clock::time_point m_lastProgress = Clock::now();
    Clock::time_point m_deadline = Clock::time_point::max();
    qint64 m_maximumBodySize = -1;
    Overrun m_overrun = Overrun::none;
    bool m_connectEndsAtDeadline = false;
    // The proxy of the current request; empty when it goes direct.
    QByteArray m_proxy;
    bool m_paused = false;
    bool m_resumeScheduled = false;
    bool m_ended = false;
    curl_off_t m_sent = 0;

    Stage m_stage = Stage::head;
    // Whose head is being read: a proxy's reply to CONNECT comes first.
    enum class HeadFrom { unknown, proxy, server };
    HeadFrom m_headFrom = HeadFrom::unknown;
    bool m_tunnelled = false;
    Failure m_refusal;
    qint64 m_headBytes = 0;
    qint64 m_trailerBytes = 0;
    qint64 m_redirectBodyBytes = 0;
    int m_fieldCount = 0;
    int m_status = 0;
    QByteArray m_reason;
    QList<std::pair<QByteArray, QByteArray>> m_headers;
    qint64 m_total = -1;
    qint64 m_received = 0;
    // The body handed on and not read yet, from `m_deliveredStart`.
    QByteArray m_delivered;
    qint64 m_deliveredStart = 0;

    bool m_flushScheduled = false;
    QList<QUrl> m_redirectsToTell;
    bool m_headPending = false;
    bool m_bodyPending = false;
    bool m_finishPending = false;
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
    if (!m_multi)
        m_multi = std::make_shared<CurlMulti>();
    return new CurlReply(this, m_multi, operation, request, verb, body);
}

} // namespace corvane
