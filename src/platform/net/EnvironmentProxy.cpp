#include "platform/net/EnvironmentProxy.h"

#include <QHostAddress>
#include <QUrl>

#include <optional>

namespace corvane {

namespace {

// The variable's value when it is set, even empty.
std::optional<QByteArray> variable(const char *name)
{
    if (!qEnvironmentVariableIsSet(name))
        return std::nullopt;
    return qgetenv(name);
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

// Whether `host` is `pattern` ("10.0.0.0/8", "::1") or within it.
bool addressWithin(const QHostAddress &host, const QByteArray &pattern)
{
    const qsizetype slash = pattern.indexOf('/');
    const QHostAddress network(QString::fromLatin1(slash < 0 ? pattern : pattern.left(slash)));
    if (network.isNull() || network.protocol() != host.protocol())
        return false;
    if (slash < 0)
        return network.isEqual(host, QHostAddress::StrictConversion);
    bool numeric = false;
    const int bits = pattern.mid(slash + 1).toInt(&numeric);
    const int width = host.protocol() == QAbstractSocket::IPv4Protocol ? 32 : 128;
    if (!numeric || bits < 0 || bits > width)
        return false;
    // libcurl reads "/0" as the whole address.
    return host.isInSubnet(network, bits == 0 ? width : bits);
}

bool nameWithin(QByteArray name, QByteArray pattern)
{
    if (pattern.endsWith('.'))
        pattern.chop(1);
    if (pattern.startsWith('.'))
        pattern.remove(0, 1);
    if (pattern.isEmpty())
        return false;
    if (name.size() == pattern.size())
        return name.compare(pattern, Qt::CaseInsensitive) == 0;
    return name.size() > pattern.size() && name[name.size() - pattern.size() - 1] == '.' &&
           name.right(pattern.size()).compare(pattern, Qt::CaseInsensitive) == 0;
}

} // namespace

QByteArray EnvironmentProxy::forUrl(const QUrl &url)
{
    const QByteArray scheme = url.scheme().toLower().toLatin1();
    std::optional<QByteArray> proxy = variable(scheme + "_proxy");
    if (!proxy && scheme != "http")
        proxy = variable(scheme.toUpper() + "_PROXY");
    if (!proxy)
        proxy = variable("all_proxy");
    if (!proxy)
        proxy = variable("ALL_PROXY");
    if (!proxy || proxy->isEmpty())
        return {};
    const std::optional<QByteArray> noProxy =
        variable("no_proxy") ? variable("no_proxy") : variable("NO_PROXY");
    if (noProxy && excludes(*noProxy, url.host()))
        return {};
    return *proxy;
}

bool EnvironmentProxy::excludes(const QByteArray &noProxy, const QString &host)
{
    if (host.isEmpty() || noProxy.isEmpty())
        return false;
    if (noProxy == "*")
        return true;
    const QHostAddress address(host);
    QByteArray name = host.toLatin1();
    if (address.isNull() && name.endsWith('.'))
        name.chop(1);
    const qsizetype size = noProxy.size();
    for (qsizetype at = 0; at < size;) {
        while (at < size && isBlank(noProxy[at]))
            ++at;
        const qsizetype start = at;
        while (at < size && !isBlank(noProxy[at]) && noProxy[at] != ',')
            ++at;
        const QByteArray entry = noProxy.mid(start, at - start);
        if (!entry.isEmpty() &&
            (address.isNull() ? nameWithin(name, entry) : addressWithin(address, entry)))
            return true;
        while (at < size && isBlank(noProxy[at]))
            ++at;
        // As libcurl reads it, the list ends where no comma follows.
        if (at >= size || noProxy[at] != ',')
            break;
        while (at < size && noProxy[at] == ',')
            ++at;
    }
    return false;
}

} // namespace corvane
