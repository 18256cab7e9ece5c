#pragma once

#include <QByteArray>
#include <QString>

class QUrl;

namespace corvane {

// The proxy the environment names for a URL, chosen as libcurl chooses it:
// `<scheme>_proxy`, or its upper-case form except HTTP_PROXY (which a CGI
// request's "Proxy:" field would set), else all_proxy or ALL_PROXY; none
// where no_proxy (else NO_PROXY) names the host. The transport chooses it
// itself and hands libcurl its choice, so that it knows when a failure is
// the proxy's.
class EnvironmentProxy {
public:
    // The proxy as its variable gives it; empty for none.
    static QByteArray forUrl(const QUrl &url);

    // Whether a no_proxy list names `host`: "*" alone names every host; an
    // entry names a host name it equals or a domain it is in ("example.com"
    // and ".example.com" name "www.example.com"), an address it equals or a
    // network it is in ("10.0.0.0/8", "fd00::/8"). Entries are separated by
    // commas, with blanks around them.
    static bool excludes(const QByteArray &noProxy, const QString &host);
};

} // namespace corvane
