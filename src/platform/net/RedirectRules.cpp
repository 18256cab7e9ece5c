#include "platform/net/RedirectRules.h"

namespace corvane {

bool RedirectRules::isRedirect(int status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

bool RedirectRules::isCredentialField(const QByteArray &lowerName)
{
    return lowerName == "authorization" || lowerName == "cookie";
}

bool RedirectRules::sameOrigin(const QUrl &a, const QUrl &b)
{
    const auto defaultPort = [](const QUrl &url) {
        return url.port(url.scheme().compare("https", Qt::CaseInsensitive) == 0 ? 443 : 80);
    };
    return a.scheme().compare(b.scheme(), Qt::CaseInsensitive) == 0 &&
           a.host().compare(b.host(), Qt::CaseInsensitive) == 0 && defaultPort(a) == defaultPort(b);
}

RedirectRules::Decision RedirectRules::decide(const QUrl &from, const QByteArray &location,
                                              QNetworkRequest::RedirectPolicy policy, int redirects,
                                              int maximum)
{
    using Reply = QNetworkReply;
    if (location.isEmpty())
        return {};
    const QUrl target = from.resolved(QUrl::fromEncoded(location));
    if (policy == QNetworkRequest::ManualRedirectPolicy)
        return {Kind::deliver, target, {}};
    const QString scheme = target.scheme().toLower();
    if (!target.isValid() || (scheme != "http" && scheme != "https"))
        return {Kind::refused, {}, {Reply::ProtocolUnknownError, "Unsupported redirect"}};
    if (redirects >= maximum)
        return {Kind::refused, {}, {Reply::TooManyRedirectsError, "Too many redirects"}};
    const bool lessSafe =
        from.scheme().compare("https", Qt::CaseInsensitive) == 0 && scheme == "http";
    if (lessSafe ||
        (policy == QNetworkRequest::SameOriginRedirectPolicy && !sameOrigin(target, from)))
        return {Kind::refused, {}, {Reply::InsecureRedirectError, "Insecure redirect"}};
    return {Kind::follow, target, {}};
}

} // namespace corvane
