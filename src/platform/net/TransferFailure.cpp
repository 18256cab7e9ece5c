#include "platform/net/TransferFailure.h"

#include "platform/net/BodyInflater.h"
#include "platform/net/BoundedReply.h"

#include <QUrl>

#include <cerrno>

namespace corvane {

const TransferFailure TransferFailure::canceled = {QNetworkReply::OperationCanceledError,
                                                   QStringLiteral("Operation canceled")};

const QString TransferFailure::headTooLargeText = QStringLiteral("The reply's head is too large.");
const QString TransferFailure::headMalformedText = QStringLiteral("The reply's head is malformed.");
const QString TransferFailure::trailerTooLargeText =
    QStringLiteral("The reply's trailer is too large.");
const QString TransferFailure::notHttpText = QStringLiteral("The reply is not HTTP.");
const QString TransferFailure::cutShortText = QStringLiteral("The reply is cut short.");
const QString TransferFailure::setUpText = QStringLiteral("The transfer could not be set up.");

QNetworkReply::NetworkError TransferFailure::errorForStatus(int status)
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

TransferFailure TransferFailure::ofStatus(int status, const QUrl &url, const QByteArray &reason)
{
    return {errorForStatus(status), QStringLiteral("Error transferring %1 - server replied: %2")
                                        .arg(url.toString(), QString::fromLatin1(reason))};
}

// Connections that fail are told as Qt's own replies tell them, a proxy's
// failure as the proxy's; what the server sent wrong in the transport's own
// words, never libcurl's or nghttp2's.
TransferFailure TransferFailure::of(CURLcode result, long osError, const char *detail,
                                    const QUrl &url, const Moment &moment)
{
    using Reply = QNetworkReply;
    const QString said = detail[0] ? QString::fromUtf8(detail).trimmed()
                                   : QString::fromUtf8(curl_easy_strerror(result));
    const bool reset = osError == ECONNRESET || osError == EPIPE;
    const TransferFailure lost = {Reply::RemoteHostClosedError,
                                  moment.headEnded ? cutShortText
                                                   : QStringLiteral("The connection was lost.")};
    switch (result) {
    case CURLE_COULDNT_RESOLVE_HOST:
        return {Reply::HostNotFoundError, QStringLiteral("Host %1 not found").arg(url.host())};
    case CURLE_COULDNT_RESOLVE_PROXY:
        return {Reply::ProxyNotFoundError, QStringLiteral("Proxy server not found")};
    case CURLE_COULDNT_CONNECT:
        // Through a proxy, only the proxy is connected to.
        if (moment.viaProxy && osError == ECONNREFUSED)
            return {Reply::ProxyConnectionRefusedError, QStringLiteral("Proxy connection refused")};
        if (moment.viaProxy)
            return {Reply::UnknownProxyError, said};
        if (osError == ECONNREFUSED)
            return {Reply::ConnectionRefusedError, QStringLiteral("Connection refused")};
        return {Reply::UnknownNetworkError, said};
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
        return {Reply::SslHandshakeFailedError, QStringLiteral("SSL handshake failed: ") + said};
    // Over HTTP/2 also a stream reset that came with its head, which
    // libcurl then drops.
    case CURLE_GOT_NOTHING:
        return {Reply::RemoteHostClosedError,
                moment.headEnded
                    ? cutShortText
                    : QStringLiteral("The server closed the connection without a reply.")};
    case CURLE_PARTIAL_FILE:
    case CURLE_HTTP2_STREAM: return {Reply::RemoteHostClosedError, cutShortText};
    case CURLE_SEND_ERROR: return lost;
    case CURLE_RECV_ERROR:
        if (reset)
            return lost;
        // libcurl holds an HTTP/2 head to 128 KiB, and fails the whole
        // connection when one inflates past that.
        if (moment.http2 && !moment.headEnded)
            return {Reply::ProtocolFailure, headTooLargeText};
        if (moment.chunked && moment.headEnded)
            return {Reply::ProtocolFailure, BodyInflater::malformedText};
        return lost;
    case CURLE_HTTP2:
        return {Reply::ProtocolFailure, QStringLiteral("The server broke the HTTP/2 protocol.")};
    case CURLE_UNSUPPORTED_PROTOCOL: return {Reply::ProtocolFailure, notHttpText};
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_BAD_CONTENT_ENCODING:
        return {Reply::ProtocolFailure,
                moment.headEnded ? BodyInflater::malformedText : headMalformedText};
    // Its Content-Length is past anything a body here may be.
    case CURLE_FILESIZE_EXCEEDED:
        return {Reply::ProtocolFailure, BoundedReply::tooLargeText,
                BoundedTransfer::Overrun::tooLarge};
    // A head line past libcurl's bound, or a body past what it holds while
    // its reader is full.
    case CURLE_OUT_OF_MEMORY:
        if (!moment.headEnded)
            return {Reply::ProtocolFailure, headTooLargeText};
        return {Reply::ProtocolFailure, BoundedReply::tooLargeText,
                BoundedTransfer::Overrun::tooLarge};
    // Past the head, what libcurl could not take was the server's.
    case CURLE_BAD_FUNCTION_ARGUMENT:
        return {Reply::ProtocolFailure, moment.headEnded ? BodyInflater::malformedText : setUpText};
    default: return {Reply::UnknownNetworkError, said};
    }
}

} // namespace corvane
