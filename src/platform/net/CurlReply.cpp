#include "platform/net/CurlReply.h"

#include "platform/net/BodyInflater.h"
#include "platform/net/BoundedNetworkAccessManager.h"
#include "platform/net/BoundedTransfer.h"
#include "platform/net/CurlEasySetup.h"
#include "platform/net/CurlMulti.h"
#include "platform/net/EnvironmentProxy.h"
#include "platform/net/RedirectRules.h"
#include "platform/net/TransferFailure.h"

#include <QPointer>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QTimer>

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <utility>

namespace corvane {

namespace {

// What a followed redirect's own body may cost before its connection is
// dropped instead of read to its end.
constexpr qint64 maximumRedirectBodyBytes = 64 * 1024;
// What is inflated at once when the reader takes everything.
constexpr qint64 inflatedPieceBytes = 1 << 20;

using Clock = std::chrono::steady_clock;
using Failure = TransferFailure;
const Failure &canceled = TransferFailure::canceled;

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
            if (!CurlEasySetup::isFramingField(name.toLower()))
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
            fail(UnknownNetworkError, TransferFailure::setUpText);
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
            fail(UnknownNetworkError, TransferFailure::setUpText);
    }

    void configure()
    {
        m_detail[0] = '\0';
        m_proxy = EnvironmentProxy::forUrl(m_location);
        CurlEasySetup setup;
        // No user name or password goes to the server.
        setup.target = m_location.adjusted(QUrl::RemoveUserInfo | QUrl::RemoveFragment).toEncoded();
        setup.verb = m_verb;
        setup.body = &m_body;
        setup.fields = m_fields;
        setup.proxy = m_proxy;
        setup.connectTimeout = std::max(0L, connectTimeout());
        for (const QSslCertificate &authority : request().sslConfiguration().caCertificates())
            setup.authorities += authority.toPem();
        setup.errorBuffer = m_detail;
        setup.owner = this;
        setup.onHeader = &CurlReply::onHeader;
        setup.onBody = &CurlReply::onBody;
        setup.onProgress = &CurlReply::onProgress;
        curl_slist_free_all(std::exchange(m_fieldList, nullptr));
        m_fieldList = setup.apply(m_easy);
    }

    void endHop()
    {
        if (m_easy) {
            // libcurl frees what it holds of a paused transfer only as it
            // hands it on: refused, it goes.
            if (std::exchange(m_heldByLibcurl, false)) {
                m_discarding = true;
                curl_easy_pause(m_easy, CURLPAUSE_CONT);
                m_discarding = false;
            }
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
        if (m_discarding)
            return 0;
        touch();
        const size_t size = size_t(line.size());
        if (m_refusal.code != NoError)
            return 0;
        if (m_stage != Stage::head)
            return trailerLine(line);
        m_headBytes += line.size();
        if (m_headBytes > BoundedNetworkAccessManager::maximumHeadBytes)
            return refuse(TransferFailure::headTooLargeText);
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
                return refuse(TransferFailure::headMalformedText);
            m_headers.last().second += ' ' + line.trimmed();
            return size;
        }
        // libcurl has checked the form of the line.
        const qsizetype colon = line.indexOf(':');
        if (++m_fieldCount > BoundedNetworkAccessManager::maximumHeaderFields)
            return refuse(TransferFailure::headTooLargeText);
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
            return refuse(TransferFailure::trailerTooLargeText);
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
        if (RedirectRules::isRedirect(m_status)) {
            switch (redirect()) {
            case RedirectRules::Kind::deliver: break;
            case RedirectRules::Kind::follow: m_stage = Stage::redirect; return true;
            case RedirectRules::Kind::refused: return false;
            }
        }
        setAttribute(QNetworkRequest::HttpStatusCodeAttribute, m_status);
        setAttribute(QNetworkRequest::HttpReasonPhraseAttribute, QString::fromLatin1(m_reason));
        // The length of a compressed body is not that of the body handed on.
        m_inflater = BodyInflater::forCodings(header("Content-Encoding"));
        const bool inflated = m_inflater != nullptr;
        QList<QByteArray> names;
        for (const auto &field : std::as_const(m_headers)) {
            const QByteArray lower = field.first.toLower();
            if (!names.contains(lower) && !(inflated && lower == "content-length"))
                names.append(lower);
        }
        for (const QByteArray &name : std::as_const(names))
            setRawHeader(name, header(name.constData()));
        bool known = false;
        const qint64 length = header("Content-Length").trimmed().toLongLong(&known);
        m_declared = known ? length : -1;
        m_total = inflated ? -1 : m_declared;
        m_stage = Stage::body;
        m_headPending = true;
        scheduleFlush();
        return true;
    }

    // Whether to follow a redirect, as the policy says.
    RedirectRules::Kind redirect()
    {
        const QVariant asked = request().attribute(QNetworkRequest::RedirectPolicyAttribute);
        const auto policy = asked.isValid()
                                ? QNetworkRequest::RedirectPolicy(asked.toInt())
                                : (m_manager ? m_manager->redirectPolicy()
                                             : QNetworkRequest::NoLessSafeRedirectPolicy);
        const RedirectRules::Decision decision =
            RedirectRules::decide(m_location, header("Location"), policy, m_redirects,
                                  request().maximumRedirectsAllowed());
        if (decision.kind == RedirectRules::Kind::deliver && decision.target.isValid())
            setAttribute(QNetworkRequest::RedirectionTargetAttribute, decision.target);
        m_target = decision.target;
        m_refusal = decision.refusal;
        return decision.kind;
    }

    size_t bodyBytes(const char *data, size_t size)
    {
        if (m_discarding)
            return 0;
        touch();
        if (m_refusal.code != NoError)
            return 0;
        if (m_stage == Stage::redirect) {
            // Read to its end, the connection serves the next request.
            m_redirectBodyBytes += qint64(size);
            return m_redirectBodyBytes > maximumRedirectBodyBytes ? 0 : size;
        }
        // libcurl holds this block, as it came, until the reader has room.
        if (!hasRoom() || (m_inflater && m_inflater->holdsInput())) {
            pause();
            m_heldByLibcurl = true;
            return CURL_WRITEFUNC_PAUSE;
        }
        m_wireBytes += qint64(size);
        if (m_inflater) {
            m_inflater->take(data, qsizetype(size));
            return inflateHeld() ? size : 0;
        }
        if (crossesBound(qint64(size)))
            return 0;
        compactDelivered();
        m_delivered.append(data, qsizetype(size));
        delivered(qint64(size));
        return size;
    }

    void pause()
    {
        m_paused = true;
        m_stall.stop();
    }

    // Past the reader's bound: the transfer ends here.
    bool crossesBound(qint64 size)
    {
        if (m_maximumBodySize < 0 || m_received + size <= m_maximumBodySize)
            return false;
        m_overrun = Overrun::tooLarge;
        m_refusal = canceled;
        return true;
    }

    void compactDelivered()
    {
        if (m_deliveredStart > 0 && m_deliveredStart >= m_delivered.size() / 2) {
            m_delivered.remove(0, m_deliveredStart);
            m_deliveredStart = 0;
        }
    }

    void delivered(qint64 size)
    {
        m_received += size;
        m_bodyPending = true;
        scheduleFlush();
    }

    // Inflates what the inflater holds into the reader's room, and pauses
    // while it holds more; false when the reply is refused.
    bool inflateHeld()
    {
        // A coding we cannot undo, or too many: refused at its first byte.
        if (!m_inflater->failure().isEmpty()) {
            m_refusal = {ProtocolFailure, m_inflater->failure()};
            return false;
        }
        while (hasRoom() && m_inflater->holdsInput()) {
            qint64 room = readBufferSize() > 0 ? readBufferSize() - pending() : inflatedPieceBytes;
            // A byte past the bound is enough to know it is crossed.
            if (m_maximumBodySize >= 0)
                room = std::min(room, m_maximumBodySize - m_received + 1);
            compactDelivered();
            const qsizetype before = m_delivered.size();
            if (!m_inflater->inflate(m_delivered, room)) {
                m_refusal = {ProtocolFailure, m_inflater->failure()};
                return false;
            }
            const qint64 made = m_delivered.size() - before;
            if (crossesBound(made))
                return false;
            if (made > 0) {
                delivered(made);
            } else if (m_inflater->holdsInput()) {
                // Room, input, and nothing comes of it.
                m_refusal = {ProtocolFailure, BodyInflater::malformedText};
                return false;
            }
        }
        if (m_inflater->holdsInput())
            pause();
        return true;
    }

    // A paused transfer goes on once the reader has taken half of its
    // buffer, and from the event loop. Resumed at every read, libcurl would
    // hand on one piece and copy all it holds back each time, and a reader's
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
            this, [this] { resume(); }, Qt::QueuedConnection);
    }

    void resume()
    {
        m_resumeScheduled = false;
        if (!m_paused || m_ended || !hasRoomToResume())
            return;
        m_paused = false;
        // What the inflater holds goes first; the transfer waits while it
        // fills the room.
        if (m_inflater && m_inflater->holdsInput()) {
            if (!inflateHeld())
                return end(m_refusal);
            if (m_paused)
                return;
        }
        if (m_inputEnded)
            return finishBody();
        if (!m_easy)
            return;
        touch();
        // What libcurl held back may come at once, into the room made.
        m_heldByLibcurl = false;
        m_multi->resume(m_easy);
    }

    void hopDone(CURLcode result)
    {
        long osError = 0;
        curl_easy_getinfo(m_easy, CURLINFO_OS_ERRNO, &osError);
        long version = 0;
        curl_easy_getinfo(m_easy, CURLINFO_HTTP_VERSION, &version);
        // The connect timeout (libcurl's only timeout here) was the deadline.
        if (result == CURLE_OPERATION_TIMEDOUT && m_connectEndsAtDeadline)
            m_overrun = Overrun::tooSlow;
        if (m_refusal.code != NoError) {
            end(m_refusal);
        } else if (m_stage == Stage::redirect) {
            follow();
        } else if (result != CURLE_OK) {
            const Failure failure = TransferFailure::of(
                result, osError, m_detail, m_location,
                {m_stage == Stage::body, version >= CURL_HTTP_VERSION_2_0,
                 header("Transfer-Encoding").toLower().contains("chunked"), !m_proxy.isEmpty()});
            if (failure.overrun != Overrun::none)
                m_overrun = failure.overrun;
            end(failure);
        } else if (m_stage != Stage::body) {
            end({ProtocolFailure, TransferFailure::notHttpText});
        } else if (m_inflater && m_inflater->holdsInput()) {
            // All came: the rest is inflated as the reader makes room.
            m_inputEnded = true;
            endHop();
        } else {
            finishBody();
        }
    }

    void finishBody()
    {
        const bool hasBody =
            m_verb != "HEAD" && m_status >= 200 && m_status != 204 && m_status != 304;
        // A compressed stream that has not ended, or less than the length
        // declared: over HTTP/2 libcurl takes a stream reset before its end
        // for its end.
        if (hasBody && ((m_inflater && m_inflater->tookAny() && !m_inflater->ended()) ||
                        (m_declared >= 0 && m_wireBytes < m_declared))) {
            end({RemoteHostClosedError, TransferFailure::cutShortText});
        } else if (m_status >= 400) {
            end(TransferFailure::ofStatus(m_status, url(), m_reason));
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
        if (!RedirectRules::sameOrigin(m_target, m_location))
            m_fields.removeIf([](const auto &field) {
                return RedirectRules::isCredentialField(field.first.toLower());
            });
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
    // libcurl holds a block of the body back; while it is thrown away, no
    // callback takes anything.
    bool m_heldByLibcurl = false;
    bool m_discarding = false;
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
    // The Content-Length of the head, whatever the coding.
    qint64 m_declared = -1;
    // Of the body as it came, and as it is handed on.
    qint64 m_wireBytes = 0;
    qint64 m_received = 0;
    // Set when the body is compressed.
    std::unique_ptr<BodyInflater> m_inflater;
    // The transfer is over, and the inflater holds what the reader had no
    // room for yet.
    bool m_inputEnded = false;
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

QNetworkReply *makeCurlReply(QNetworkAccessManager *manager, std::shared_ptr<CurlMulti> multi,
                             QNetworkAccessManager::Operation operation,
                             const QNetworkRequest &request, QByteArray verb, QByteArray body)
{
    return new CurlReply(manager, std::move(multi), operation, request, std::move(verb),
                         std::move(body));
}

} // namespace corvane
