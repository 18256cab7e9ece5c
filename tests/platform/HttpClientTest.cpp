#include "common/TestSupport.h"
#include "fixtures/http/HostileReplies.h"
#include "fixtures/http/LocalHttpServer.h"
#include "fixtures/http/RecordingProxy.h"
#include "platform/net/BoundedNetworkAccessManager.h"
#include "platform/net/BoundedReply.h"
#include "platform/net/EnvironmentProxy.h"
#include "platform/net/HttpClient.h"

#include <QDir>
#include <QFile>
#include <QNetworkReply>
#include <QRandomGenerator>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

#include <mutex>

using namespace corvane;
using namespace corvane::fixture;
using namespace std::chrono_literals;

namespace {

// Every completion of the requests a test sends, one slot per request.
class Completions {
public:
    HttpClient::Completion slot()
    {
        std::lock_guard lock(m_mutex);
        const std::size_t index = m_calls.size();
        m_calls.emplace_back();
        return [this, index](const HttpResponse &response) {
            std::lock_guard lock(m_mutex);
            m_calls[index].push_back(response);
        };
    }
    // Waits until the request's completion ran; its only response.
    HttpResponse wait(std::size_t index)
    {
        EXPECT_TRUE(test::waitUntil([&] { return count(index) > 0; }));
        std::lock_guard lock(m_mutex);
        return m_calls[index].empty() ? HttpResponse{} : m_calls[index].front();
    }
    std::size_t count(std::size_t index) const
    {
        std::lock_guard lock(m_mutex);
        return m_calls[index].size();
    }

private:
    mutable std::mutex m_mutex;
    std::vector<std::vector<HttpResponse>> m_calls;
};

// While it lives, the proxy variables are these and no others.
class ProxyVariables {
public:
    ProxyVariables(const QByteArray &http = {}, const QByteArray &https = {},
                   const QByteArray &none = {})
    {
        for (const char *name : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY",
                                 "all_proxy", "ALL_PROXY", "no_proxy", "NO_PROXY"}) {
            m_saved.push_back({name, qEnvironmentVariableIsSet(name), qgetenv(name)});
            qunsetenv(name);
        }
        const std::pair<const char *, QByteArray> wanted[] = {
            {"http_proxy", http}, {"https_proxy", https}, {"no_proxy", none}};
        for (const auto &[name, value] : wanted)
            if (!value.isEmpty())
                qputenv(name, value);
    }
    ~ProxyVariables()
    {
        for (const Saved &saved : m_saved)
            saved.set ? qputenv(saved.name, saved.value) : qunsetenv(saved.name);
    }

private:
    struct Saved {
        const char *name;
        bool set;
        QByteArray value;
    };
    std::vector<Saved> m_saved;
};

// While it lives, the tests' TLS servers are trusted.
class TrustedLocalServers {
public:
    TrustedLocalServers()
    {
        QSslConfiguration trusting = m_original;
        trusting.addCaCertificate(LocalHttpServer::certificate());
        QSslConfiguration::setDefaultConfiguration(trusting);
    }
    ~TrustedLocalServers() { QSslConfiguration::setDefaultConfiguration(m_original); }

private:
    const QSslConfiguration m_original = QSslConfiguration::defaultConfiguration();
};

class HttpClientTest : public ::testing::Test {
protected:
    std::size_t get(const QUrl &url, const HttpClient::Headers &headers = {},
                    const TransferLimits &limits = {30s, 60s, 1 << 20})
    {
        const std::size_t index = m_requests.size();
        m_requests.push_back(m_client->get({url, headers, limits}, m_completions.slot()));
        return index;
    }

    // The tests' servers are reached directly, whatever the environment says.
    ProxyVariables m_direct;
    LocalHttpServer m_server;
    Completions m_completions;
    std::shared_ptr<HttpClient> m_client = HttpClient::makeNetworkClient();
    std::vector<std::shared_ptr<HttpRequest>> m_requests;
};

} // namespace

TEST_F(HttpClientTest, ErrorStatusesKeepTheirBodyAndReportNoFailure)
{
    const struct {
        int status;
        QByteArray body;
    } cases[] = {{200, "{\"ok\":true}"},
                 {401, "{\"errors\":[\"OAuth error\"]}"},
                 {404, ""},
                 {429, "Rate Limit Exceeded"},
                 {500, "oops"}};
    for (const auto &c : cases) {
        const QString path = QString("/status/%1").arg(c.status);
        m_server.setReply(path, {c.status, c.body});
        const HttpResponse response =
            m_completions.wait(get(m_server.url(path), {{"Accept-Version", "v1"}}));
        EXPECT_EQ(response.status, c.status);
        EXPECT_EQ(response.body, c.body) << c.status;
        EXPECT_EQ(response.errorText, "") << c.status;
    }
    for (const auto &request : m_server.requests()) {
        EXPECT_EQ(request.headers.value("accept-version"), "v1");
        EXPECT_TRUE(request.headers.value("user-agent").startsWith("Corvane/"));
        // Every coding the transport inflates.
        for (const char *coding : {"gzip", "deflate", "br", "zstd"})
            EXPECT_TRUE(request.headers.value("accept-encoding").contains(coding)) << coding;
    }
    EXPECT_EQ(m_server.requests().size(), std::size(cases));
}

TEST_F(HttpClientTest, TransfersThatFailHaveNoBodyButAReason)
{
    const QTemporaryDir scratch;
    const QString local = scratch.filePath("local.txt");
    ASSERT_TRUE(test::writeFile(local, "private"));
    QUrl closedPort;
    {
        LocalHttpServer gone;
        closedPort = gone.url("/x");
    }
    m_server.setReply("/slow", {.held = true});
    const struct {
        QUrl url;
        std::chrono::milliseconds timeout;
        QString reason;
    } cases[] = {{QUrl::fromLocalFile(local), 30s, "unsupported URL"},
                 {QUrl("data:text/plain,private"), 30s, "unsupported URL"},
                 {QUrl("qrc:/icons/statusIcon.svg"), 30s, "unsupported URL"},
                 {closedPort, 30s, "Connection refused"},
                 {m_server.url("/slow"), 300ms, "The request timed out"}};
    for (const auto &c : cases) {
        const HttpResponse response = m_completions.wait(get(c.url, {}, {c.timeout, 60s, 1024}));
        EXPECT_EQ(response.status, std::nullopt) << c.url.toString().toStdString();
        EXPECT_EQ(response.body, std::nullopt) << c.url.toString().toStdString();
        EXPECT_TRUE(response.errorText.contains(c.reason, Qt::CaseInsensitive))
            << c.url.toString().toStdString() << ": " << response.errorText.toStdString();
    }
    EXPECT_EQ(m_server.requestedPaths(), QStringList{"/slow"});
}

TEST_F(HttpClientTest, CancelledRequestsCompleteOnceAndLeaveTheServer)
{
    m_server.setReply("/held", {.held = true});
    m_server.setReply("/quick", {200, "done"});

    const std::size_t held = get(m_server.url("/held"));
    ASSERT_TRUE(test::waitUntil([&] { return m_server.heldCount() == 1; }));
    m_requests[held]->cancel();
    EXPECT_EQ(m_completions.wait(held).errorText, "Operation canceled");
    EXPECT_TRUE(test::waitUntil([&] { return m_server.abandonedPaths() == QStringList{"/held"}; }));

    // Cancelled before it was sent, and after it was answered.
    const std::size_t early = get(m_server.url("/quick"));
    m_requests[early]->cancel();
    EXPECT_EQ(m_completions.wait(early).body, std::nullopt);
    const std::size_t late = get(m_server.url("/quick"));
    EXPECT_EQ(m_completions.wait(late).body, "done");
    m_requests[late]->cancel();

    // Destroying the client stops what is left, and still completes it.
    const std::size_t pending = get(m_server.url("/held"));
    ASSERT_TRUE(test::waitUntil([&] { return m_server.heldCount() == 1; }));
    m_client.reset();
    EXPECT_EQ(m_completions.count(pending), 1u);
    test::pumpFor(100ms);
    for (std::size_t index : {held, early, late, pending})
        EXPECT_EQ(m_completions.count(index), 1u) << index;
}

TEST_F(HttpClientTest, ABodyOfExactlyTheCapIsTakenAndOneByteMoreRefused)
{
    constexpr qint64 cap = 4096;
    const QTemporaryDir scratch;
    const struct {
        qint64 size;
        bool toFile;
        bool taken;
    } cases[] = {
        {cap, false, true}, {cap + 1, false, false}, {cap, true, true}, {cap + 1, true, false}};
    int index = 0;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.size * 10 + c.toFile);
        const QString path = QString("/cap/%1").arg(index++);
        const QByteArray body(c.size, 'b');
        m_server.setReply(path, {200, body});
        const QString file = c.toFile ? scratch.filePath(path.mid(5)) : QString();
        const std::size_t request = m_requests.size();
        m_requests.push_back(
            m_client->get({m_server.url(path), {}, {30s, 60s, cap}, file}, m_completions.slot()));
        const HttpResponse response = m_completions.wait(request);
        EXPECT_EQ(response.errorText, c.taken ? "" : "The reply is too large.");
        EXPECT_EQ(response.body.has_value(), c.taken);
        if (c.toFile)
            EXPECT_EQ(QFile::exists(file) ? test::readFile(file) : QByteArray(),
                      c.taken ? body : QByteArray());
        else if (c.taken)
            EXPECT_EQ(response.body, body);
    }
}

TEST_F(HttpClientTest, OnlyASuccessfulReplyFillsTheBodyFile)
{
    const QTemporaryDir scratch;
    const struct {
        int status;
        bool kept;
    } cases[] = {{200, true}, {404, false}, {429, false}, {500, false}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.status);
        const QString path = QString("/photo/%1").arg(c.status);
        m_server.setReply(path, {c.status, "page " + QByteArray::number(c.status)});
        const QString file = scratch.filePath(QString("%1.jpg").arg(c.status));
        const std::size_t request = m_requests.size();
        m_requests.push_back(m_client->get({m_server.url(path), {}, {30s, 60s, 1 << 20}, file},
                                           m_completions.slot()));
        const HttpResponse response = m_completions.wait(request);
        EXPECT_EQ(response.status, c.status);
        EXPECT_EQ(response.errorText, "");
        EXPECT_EQ(response.body, QByteArray());
        EXPECT_EQ(QFile::exists(file), c.kept);
        if (c.kept)
            EXPECT_EQ(test::readFile(file), "page 200");
        // Nothing else is left beside it either.
        EXPECT_EQ(QDir(scratch.path()).entryList(QDir::Files).size(), c.kept ? 1 : 0);
        if (c.kept)
            QFile::remove(file);
    }

    // The recording client keeps the same rule.
    RecordingHttpClient recording;
    const QString file = scratch.filePath("recorded.jpg");
    for (const int status : {404, 200}) {
        std::optional<HttpResponse> delivered;
        recording.get({m_server.url("/photo"), {}, {}, file},
                      [&](const HttpResponse &response) { delivered = response; });
        ASSERT_TRUE(recording.complete(recording.requests().size() - 1, {status, "bytes", {}}));
        ASSERT_TRUE(delivered);
        EXPECT_EQ(delivered->body, QByteArray()) << status;
        EXPECT_EQ(QFile::exists(file), status == 200) << status;
    }
}

TEST_F(HttpClientTest, RepliesAskingForAuthenticationAreBoundedLikeAnyOther)
{
    // Qt's own transport would hold such a body whole, gigabytes of it,
    // until the deadline.
    const qint64 peakBefore = test::peakResidentBytes();
    using Delivery = LocalHttpServer::Delivery;
    const struct {
        const char *path;
        LocalHttpServer::Reply reply;
    } cases[] = {
        {"/401/endless", {.status = 401, .body = "endless ", .delivery = Delivery::endless}},
        {"/407/endless", {.status = 407, .body = "endless ", .delivery = Delivery::endless}},
        {"/200/endless", {.status = 200, .body = "endless ", .delivery = Delivery::endless}},
        {"/401/declared",
         {.status = 401,
          .body = "gigabyte ",
          .delivery = Delivery::declared,
          .declaredLength = qint64(1) << 30}},
        // Refused for what it announces, before any of it comes.
        {"/401/announced",
         {.status = 401, .delivery = Delivery::silent, .declaredLength = qint64(1) << 30}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.path);
        m_server.setReply(c.path, c.reply);
        const HttpResponse response =
            m_completions.wait(get(m_server.url(c.path), {}, {30s, 20s, 1 << 20}));
        EXPECT_EQ(response.errorText, "The reply is too large.");
        EXPECT_EQ(response.body, std::nullopt);
    }
    if (test::peakResidentBytesTellUse)
        EXPECT_LT(test::peakResidentBytes() - peakBefore, test::hostileRepliesPeakGrowth);
}

TEST_F(HttpClientTest, EveryFramingIsReadAndEveryPartOfTheHeadIsBounded)
{
    using Delivery = LocalHttpServer::Delivery;
    const QByteArray chunked = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
    QByteArray manyFields = "HTTP/1.1 200 OK\r\n";
    for (int i = 0; i <= 100; ++i)
        manyFields += "X-Field-" + QByteArray::number(i) + ": v\r\n";
    const struct {
        const char *name;
        QByteArray raw;
        std::optional<int> status;
        std::optional<QByteArray> body;
        // The reason; empty when nothing failed.
        const char *error;
    } cases[] = {
        {"chunks with an extension and a trailer",
         chunked + "5;name=value\r\nhello\r\n6\r\n world\r\n0\r\nX-Trailer: t\r\n\r\n", 200,
         "hello world", ""},
        {"a body up to the close", "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n\r\nto the end",
         200, "to the end", ""},
        {"an interim reply first",
         "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok", 200, "ok",
         ""},
        {"no content, whatever follows", "HTTP/1.1 204 No Content\r\n\r\nhello", 204, "", ""},
        {"not modified, whatever its length says",
         "HTTP/1.1 304 Not Modified\r\nContent-Length: 5\r\n\r\nhello", 304, "", ""},
        {"a folded field and no reason",
         "HTTP/1.1 200\r\nX-A: one\r\n two\r\nContent-Length: 1\r\n\r\n!", 200, "!", ""},
        {"a body cut short", "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nshort", 200,
         std::nullopt, "The reply is cut short."},
        {"chunks cut short", chunked + "5\r\nhel", 200, std::nullopt, "The reply is cut short."},
        {"nothing at all", "", std::nullopt, std::nullopt,
         "The server closed the connection without a reply."},
        {"not HTTP", "SSH-2.0-OpenSSH_9.0\r\n", std::nullopt, std::nullopt,
         "The reply is not HTTP."},
        {"a field too long", "HTTP/1.1 200 OK\r\nX-Long: " + QByteArray(70000, 'a') + "\r\n\r\n",
         std::nullopt, std::nullopt, "The reply's head is too large."},
        // Past what libcurl holds of one line.
        {"a field of a mebibyte",
         "HTTP/1.1 200 OK\r\nX-Long: " + QByteArray(1 << 20, 'a') + "\r\n\r\n", std::nullopt,
         std::nullopt, "The reply's head is too large."},
        {"too many fields", manyFields + "\r\n", std::nullopt, std::nullopt,
         "The reply's head is too large."},
        {"a field without a name", "HTTP/1.1 200 OK\r\nno colon\r\n\r\n", std::nullopt,
         std::nullopt, "The reply's head is malformed."},
        {"blank lines without end", QByteArray(70000, '\n'), std::nullopt, std::nullopt,
         "The reply is not HTTP."},
        {"a length below zero", "HTTP/1.1 200 OK\r\nContent-Length: -5\r\n\r\nhello", std::nullopt,
         std::nullopt, "The reply's head is malformed."},
        {"a length past 64 bits",
         "HTTP/1.1 200 OK\r\nContent-Length: 99999999999999999999\r\n\r\nhello", std::nullopt,
         std::nullopt, "The reply is too large."},
        {"a chunk size that is no number", chunked + "zz\r\n", 200, std::nullopt,
         "The reply's body is malformed."},
        {"a chunk size below zero", chunked + "-5\r\nhello\r\n0\r\n\r\n", 200, std::nullopt,
         "The reply's body is malformed."},
        {"a chunk size with a sign", chunked + "+5\r\nhello\r\n0\r\n\r\n", 200, std::nullopt,
         "The reply's body is malformed."},
        {"a chunk size after a space", chunked + " 5\r\nhello\r\n0\r\n\r\n", 200, std::nullopt,
         "The reply's body is malformed."},
        // Else a last chunk of size 0 whose trailer is the body.
        {"a chunk size written as in C", chunked + "0x10\r\n0123456789abcdef\r\n0\r\n\r\n", 200,
         std::nullopt, "The reply's body is malformed."},
        {"trailers without end", chunked + "0\r\n" + QByteArray("X-T: v\r\n").repeated(10000), 200,
         std::nullopt, "The reply's trailer is too large."},
        {"a chunk size past 64 bits", chunked + "10000000000000000\r\n", 200, std::nullopt,
         "The reply's body is malformed."},
        {"a chunk size past the signed range", chunked + "8000000000000000\r\n", 200, std::nullopt,
         "The reply's body is malformed."},
        {"a chunk size line without end", chunked + QByteArray(2000, '1'), 200, std::nullopt,
         "The reply's body is malformed."},
        {"a chunk without its line break", chunked + "2\r\nokay\r\n0\r\n\r\n", 200, std::nullopt,
         "The reply's body is malformed."},
    };
    int index = 0;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = QString("/raw/%1").arg(index++);
        m_server.setReply(path, {.body = c.raw, .delivery = Delivery::raw});
        const HttpResponse response = m_completions.wait(get(m_server.url(path)));
        EXPECT_EQ(response.status, c.status);
        EXPECT_EQ(response.body, c.body);
        EXPECT_EQ(response.errorText.toStdString(), c.error);
    }
}

TEST_F(HttpClientTest, RedirectsAreFollowedWithinTheirRules)
{
    using Delivery = LocalHttpServer::Delivery;
    const TrustedLocalServers trusted;
    LocalHttpServer secure(0, LocalHttpServer::Transport::tls);
    // Another origin: another host name and port.
    LocalHttpServer other;
    const auto redirect = [](const QString &location) {
        return LocalHttpServer::Reply{.body = "HTTP/1.1 302 Found\r\nLocation: " +
                                              location.toLatin1() + "\r\nContent-Length: 0\r\n\r\n",
                                      .delivery = Delivery::raw};
    };
    m_server.setReply("/moved", redirect("/landed?x=1"));
    m_server.setReply("/landed", {200, "landed"});
    m_server.setReply("/loop", redirect("/loop"));
    m_server.setReply("/elsewhere", redirect("ftp://example.com/file"));
    m_server.setReply("/away",
                      redirect(QString("http://localhost:%1/landed").arg(other.baseUrl().port())));
    m_server.setReply("/away/port", redirect(other.url("/landed").toString()));
    m_server.setReply(
        "/away/name",
        redirect(QString("http://localhost:%1/landed").arg(m_server.baseUrl().port())));
    m_server.setReply(
        "/moved/endless",
        {.status = 302, .fields = "Location: /landed\r\n", .delivery = Delivery::endless});
    other.setReply("/landed", {200, "landed elsewhere"});
    secure.setReply("/down", redirect(m_server.url("/landed").toString()));
    const auto landings = [&] {
        return m_server.requestedPaths().count("/landed") + other.requestedPaths().count("/landed");
    };
    const struct {
        const char *name;
        QUrl url;
        std::optional<QByteArray> body;
        QString error;
        // Where it landed, and whether Authorization and Cookie came along.
        const LocalHttpServer *landedOn;
        bool credentialsKept;
    } cases[] = {
        {"within the origin", m_server.url("/moved"), "landed", "", &m_server, true},
        {"to another origin", m_server.url("/away"), "landed elsewhere", "", &other, false},
        {"to another port of the host", m_server.url("/away/port"), "landed elsewhere", "", &other,
         false},
        {"to another name for the host", m_server.url("/away/name"), "landed", "", &m_server,
         false},
        // Its own body is given up on, not read to its end.
        {"past a body without end", m_server.url("/moved/endless"), "landed", "", &m_server, true},
        {"in a loop", m_server.url("/loop"), std::nullopt, "Too many redirects", nullptr, false},
        {"to another scheme", m_server.url("/elsewhere"), std::nullopt, "Unsupported redirect",
         nullptr, false},
        {"from https to http", secure.url("/down"), std::nullopt, "Insecure redirect", nullptr,
         false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const qsizetype before = landings();
        const HttpResponse response = m_completions.wait(
            get(c.url, {{"X-Kept", "1"}, {"Authorization", "Client-ID key"}, {"Cookie", "a=1"}}));
        EXPECT_EQ(response.body, c.body);
        EXPECT_EQ(response.errorText, c.error);
        ASSERT_EQ(landings(), before + (c.landedOn ? 1 : 0));
        if (!c.landedOn)
            continue;
        const auto landed = c.landedOn->requests().last();
        EXPECT_EQ(landed.path, "/landed");
        EXPECT_EQ(landed.headers.value("x-kept"), "1");
        EXPECT_EQ(landed.headers.contains("authorization"), c.credentialsKept);
        EXPECT_EQ(landed.headers.contains("cookie"), c.credentialsKept);
    }
    EXPECT_EQ(m_server.requests()[1].query.queryItemValue("x"), "1");
    // The loop ends after the fiftieth redirect.
    EXPECT_EQ(m_server.requestedPaths().count("/loop"), 51);
}

TEST_F(HttpClientTest, ManyRequestsToOneHostShareAFewConnections)
{
    const TrustedLocalServers trusted;
    using Transport = LocalHttpServer::Transport;
    // HTTP/1.1 takes a request at a time on a connection: a burst opens a
    // few, never more than six; over HTTP/2 it waits for the first
    // connection's protocol and shares that connection.
    const struct {
        Transport transport;
        int fewest, most;
    } cases[] = {{Transport::plain, 2, 6}, {Transport::tls, 2, 6}, {Transport::http2, 1, 1}};
    for (const auto &c : cases) {
        SCOPED_TRACE(int(c.transport));
        LocalHttpServer server(0, c.transport);
        const QByteArray tile(20000, 't');
        server.setReply("/tile", {200, tile});
        const std::size_t first = m_requests.size();
        for (int i = 0; i < 200; ++i)
            get(server.url("/tile"));
        for (std::size_t i = first; i < first + 200; ++i)
            EXPECT_EQ(m_completions.wait(i).body.value_or("").size(), tile.size());
        EXPECT_GE(server.connectionCount(), c.fewest);
        EXPECT_LE(server.connectionCount(), c.most);
    }
}

TEST_F(HttpClientTest, HttpsTakesHttp2WhereTheServerOffersIt)
{
    const TrustedLocalServers trusted;
    const struct {
        LocalHttpServer::Transport transport;
        QByteArray agreed;
    } cases[] = {{LocalHttpServer::Transport::http2, "h2"}, {LocalHttpServer::Transport::tls, ""}};
    for (const auto &c : cases) {
        SCOPED_TRACE(int(c.transport));
        LocalHttpServer server(0, c.transport);
        server.setReply("/p", {200, "p"});
        const HttpResponse response = m_completions.wait(get(server.url("/p")));
        EXPECT_EQ(response.body, "p") << response.errorText.toStdString();
        ASSERT_FALSE(server.negotiatedProtocols().isEmpty());
        EXPECT_EQ(server.negotiatedProtocols().first(), c.agreed);
        ASSERT_EQ(server.requests().size(), 1);
        EXPECT_TRUE(server.requests()[0].headers.value("user-agent").startsWith("Corvane/"));
    }
}

TEST_F(HttpClientTest, TheProxyVariablesAreHonoured)
{
    const TrustedLocalServers trusted;
    LocalHttpServer secure(0, LocalHttpServer::Transport::tls);
    RecordingProxy proxy;
    m_server.setReply("/p", {200, "origin"});
    secure.setReply("/p", {200, "secure origin"});
    const QByteArray via = proxy.address();
    const QByteArray plain = m_server.url("/p").toEncoded();
    const QByteArray secureHost = "127.0.0.1:" + QByteArray::number(secure.baseUrl().port());
    const struct {
        const char *name;
        QByteArray http, https, none;
        QUrl url;
        std::optional<QByteArray> body;
        // What the proxy was asked; nothing when the request went direct.
        QByteArray asked;
    } cases[] = {
        {"plain HTTP is asked of the proxy",
         via,
         {},
         {},
         m_server.url("/p"),
         "proxied " + plain,
         "GET " + plain},
        {"HTTPS goes through a tunnel",
         {},
         via,
         {},
         secure.url("/p"),
         "secure origin",
         "CONNECT " + secureHost},
        {"a host no_proxy names is reached directly",
         via,
         via,
         "127.0.0.1",
         m_server.url("/p"),
         "origin",
         {}},
        {"over HTTPS too", via, via, "127.0.0.1", secure.url("/p"), "secure origin", {}},
        {"https_proxy is not for plain HTTP", {}, via, {}, m_server.url("/p"), "origin", {}},
        {"nor http_proxy for HTTPS", via, {}, {}, secure.url("/p"), "secure origin", {}},
        // The proxy takes every name for this machine.
        {"a certificate for another host is refused",
         {},
         via,
         {},
         QUrl("https://elsewhere.example:" + secureHost.mid(10) + "/p"),
         std::nullopt,
         "CONNECT elsewhere.example:" + secureHost.mid(10)},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const ProxyVariables variables(c.http, c.https, c.none);
        const qsizetype before = proxy.requests().size();
        const HttpResponse response =
            m_completions.wait(get(c.url, {{"Authorization", "Client-ID key"}}));
        EXPECT_EQ(response.body, c.body);
        const auto asked = proxy.requests().mid(before);
        ASSERT_EQ(asked.size(), c.asked.isEmpty() ? 0 : 1);
        if (asked.isEmpty())
            continue;
        EXPECT_EQ(asked[0].method + ' ' + asked[0].target, c.asked);
        // What goes to the server stays inside the tunnel.
        EXPECT_EQ(asked[0].headers.contains("authorization"), asked[0].method != "CONNECT");
    }

    // A proxy's failure is named as the proxy's, not as the server's.
    RecordingProxy refusing(RecordingProxy::Answer::endlessRefusal);
    QByteArray dead;
    {
        const LocalHttpServer gone;
        dead = "http://127.0.0.1:" + QByteArray::number(gone.baseUrl().port());
    }
    const struct {
        const char *name;
        QByteArray http, https;
        QUrl url;
        QString error;
    } failures[] = {
        {"a proxy nothing listens on", dead, {}, m_server.url("/p"), "Proxy connection refused"},
        {"the same for HTTPS", {}, dead, secure.url("/p"), "Proxy connection refused"},
        {"a tunnel refused with a body without end",
         {},
         refusing.address(),
         secure.url("/p"),
         "Proxy requires authentication"},
    };
    for (const auto &c : failures) {
        SCOPED_TRACE(c.name);
        const ProxyVariables variables(c.http, c.https);
        const HttpResponse response = m_completions.wait(get(c.url));
        EXPECT_EQ(response.status, std::nullopt);
        EXPECT_EQ(response.body, std::nullopt);
        EXPECT_EQ(response.errorText, c.error);
    }
}

TEST(EnvironmentProxy, TheVariablesNameTheProxyAsLibcurlReadsThem)
{
    const QByteArray proxy = "http://proxy.test:3128";
    const struct {
        const char *url;
        // Variables set, as "name=value".
        std::vector<QByteArray> set;
        bool proxied;
    } cases[] = {
        {"http://a.test/", {"http_proxy=" + proxy}, true},
        {"https://a.test/", {"https_proxy=" + proxy}, true},
        {"https://a.test/", {"HTTPS_PROXY=" + proxy}, true},
        // Which a CGI request's "Proxy:" field would set.
        {"http://a.test/", {"HTTP_PROXY=" + proxy}, false},
        {"http://a.test/", {"https_proxy=" + proxy}, false},
        {"https://a.test/", {"http_proxy=" + proxy}, false},
        {"http://a.test/", {"all_proxy=" + proxy}, true},
        {"https://a.test/", {"ALL_PROXY=" + proxy}, true},
        // Set empty, it is the choice: no proxy.
        {"https://a.test/", {"https_proxy=", "all_proxy=" + proxy}, false},
        {"https://a.test/", {"https_proxy=" + proxy, "no_proxy=*"}, false},
        {"https://www.example.com/", {"https_proxy=" + proxy, "no_proxy=example.com"}, false},
        {"https://www.example.com./", {"https_proxy=" + proxy, "no_proxy=.example.com"}, false},
        {"https://EXAMPLE.com/", {"https_proxy=" + proxy, "no_proxy=example.com."}, false},
        {"https://nonexample.com/", {"https_proxy=" + proxy, "no_proxy=example.com"}, true},
        {"https://b.test/", {"https_proxy=" + proxy, "no_proxy= a.test ,, b.test"}, false},
        // Without a comma the list ends.
        {"https://b.test/", {"https_proxy=" + proxy, "no_proxy=a.test b.test"}, true},
        {"https://b.test/", {"https_proxy=" + proxy, "NO_PROXY=b.test"}, false},
        {"https://b.test/", {"https_proxy=" + proxy, "no_proxy=a.test", "NO_PROXY=b.test"}, true},
        {"https://10.1.2.3/", {"https_proxy=" + proxy, "no_proxy=10.0.0.0/8"}, false},
        {"https://11.1.2.3/", {"https_proxy=" + proxy, "no_proxy=10.0.0.0/8"}, true},
        {"https://10.1.2.3/", {"https_proxy=" + proxy, "no_proxy=10.1.2.3"}, false},
        {"https://10.1.2.4/", {"https_proxy=" + proxy, "no_proxy=10.1.2.3"}, true},
        {"https://[::1]:8443/", {"https_proxy=" + proxy, "no_proxy=::1"}, false},
        {"https://[fd00::5]/", {"https_proxy=" + proxy, "no_proxy=fd00::/8"}, false},
        {"https://[fe80::5]/", {"https_proxy=" + proxy, "no_proxy=fd00::/8"}, true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.url) + " " + c.set.back().toStdString());
        const ProxyVariables cleared;
        for (const QByteArray &assignment : c.set) {
            const qsizetype equals = assignment.indexOf('=');
            qputenv(assignment.left(equals).constData(), assignment.mid(equals + 1));
        }
        EXPECT_EQ(EnvironmentProxy::forUrl(QUrl(c.url)), c.proxied ? proxy : QByteArray());
        for (const QByteArray &assignment : c.set)
            qunsetenv(assignment.left(assignment.indexOf('=')).constData());
    }
}

TEST_F(HttpClientTest, CompressedBodiesAreAskedForAndInflatedWithinTheirLimit)
{
    const qint64 peakBefore = test::peakResidentBytes();
    const QByteArray text = QByteArray("a body worth compressing ").repeated(400);
    // Bombs need only inflate far past their limit.
    const QByteArray zeros(16 << 20, '\0');
    // Noise grows when compressed.
    QByteArray noise(4096, '\0');
    QRandomGenerator random(7);
    for (char &byte : noise)
        byte = char(random.bounded(256));
    const auto coded = [](const QByteArray &coding, const QByteArray &body) {
        return LocalHttpServer::Reply{
            .body = "HTTP/1.1 200 OK\r\nContent-Encoding: " + coding +
                    "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body,
            .delivery = LocalHttpServer::Delivery::raw};
    };
    const struct {
        const char *path;
        LocalHttpServer::Reply reply;
        qint64 limit;
        std::optional<QByteArray> body;
        QString error;
    } cases[] = {
        {"/gzip", coded("gzip", gzipped(text)), text.size(), text, ""},
        {"/deflate", coded("deflate", zlibStream(text)), text.size(), text, ""},
        // The limit is of what it inflates to.
        {"/gzip/over", coded("gzip", gzipped(text)), text.size() - 1, std::nullopt,
         "The reply is too large."},
        {"/gzip/noise", coded("gzip", gzipped(noise)), noise.size(), noise, ""},
        // A mebibyte that inflates to a gibibyte.
        {"/bomb", coded("deflate", zlibStream({}, qint64(1) << 30)), 1 << 20, std::nullopt,
         "The reply is too large."},
        {"/br", coded("br", brotli(text)), text.size(), text, ""},
        {"/br/over", coded("br", brotli(text)), text.size() - 1, std::nullopt,
         "The reply is too large."},
        {"/br/bomb", coded("br", brotli(zeros)), 1 << 20, std::nullopt, "The reply is too large."},
        {"/zstd", coded("zstd", zstdFrame(text)), text.size(), text, ""},
        {"/zstd/over", coded("zstd", zstdFrame(text)), text.size() - 1, std::nullopt,
         "The reply is too large."},
        {"/zstd/bomb", coded("zstd", zstdFrame(zeros)), 1 << 20, std::nullopt,
         "The reply is too large."},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.path);
        m_server.setReply(c.path, c.reply);
        const HttpResponse response =
            m_completions.wait(get(m_server.url(c.path), {}, {30s, 60s, c.limit}));
        EXPECT_TRUE(response.body == c.body);
        EXPECT_EQ(response.errorText, c.error);
    }
    if (test::peakResidentBytesTellUse)
        EXPECT_LT(test::peakResidentBytes() - peakBefore, test::hostileRepliesPeakGrowth);
}

TEST(BoundedNetworkAccessManager, ATransferWaitsWhileItsReaderIsFull)
{
    const ProxyVariables direct;
    LocalHttpServer server;
    BoundedNetworkAccessManager manager;
    // An endless body of zeros that libcurl inflates, a mebibyte from each
    // kilobyte it reads.
    const QByteArray zeros = deflatedMebibyteOfZeros();
    const struct {
        const char *name;
        QByteArray unit;
        QByteArray fields;
        QByteArray expected;
    } cases[] = {{"plain", "endless ", "", "endless "},
                 {"inflated", zeros, "Content-Encoding: deflate\r\n", QByteArray(1, '\0')}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = QString("/endless/") + c.name;
        server.setReply(
            path,
            {.body = c.unit, .fields = c.fields, .delivery = LocalHttpServer::Delivery::endless});
        QNetworkRequest request(server.url(path));
        // A reader that holds the transfer is no server that stalls.
        request.setTransferTimeout(1000);
        const std::unique_ptr<QNetworkReply> reply(manager.get(request));
        constexpr qint64 room = 64 * 1024;
        reply->setReadBufferSize(room);
        QByteArray body;
        for (const auto held : {1500ms, 100ms, 100ms}) {
            ASSERT_TRUE(test::waitUntil([&] { return reply->bytesAvailable() >= room; }));
            test::pumpFor(held);
            // At most one piece of libcurl's (16 KiB) past the room, and a
            // read takes no more than is there.
            EXPECT_LE(reply->bytesAvailable(), room + 16 * 1024);
            EXPECT_FALSE(reply->isFinished()) << reply->errorString().toStdString();
            // Room again: the body goes on where it stopped.
            const QByteArray read = reply->readAll();
            EXPECT_LE(read.size(), room + 16 * 1024);
            body += read;
        }
        const QByteArray &unit = c.expected;
        EXPECT_TRUE(body == unit.repeated(body.size() / unit.size()) +
                                unit.left(body.size() % unit.size()));
    }
}

// A broken proxy holds no thread: the transfer ends, by its deadline at the
// latest, on the thread that asked, whose event loop turns meanwhile.
TEST(BoundedNetworkAccessManager, ABrokenProxyEndsTheTransferByItsDeadlineWhileTheLoopTurns)
{
    const struct {
        const char *name;
        RecordingProxy::Answer answer;
        QNetworkReply::NetworkError error;
        BoundedReply::Failure failure;
    } cases[] = {
        {"407 and a body without end", RecordingProxy::Answer::endlessRefusal,
         QNetworkReply::ProxyAuthenticationRequiredError, BoundedReply::Failure::none},
        {"no answer to CONNECT", RecordingProxy::Answer::silence,
         QNetworkReply::OperationCanceledError, BoundedReply::Failure::tooSlow},
    };
    constexpr auto deadline = 2s;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        RecordingProxy proxy(c.answer);
        const ProxyVariables variables({}, proxy.address());
        BoundedNetworkAccessManager manager;
        QNetworkRequest request(QUrl("https://127.0.0.1:9/tile"));
        request.setTransferTimeout(60000);
        const std::unique_ptr<QNetworkReply> reply(manager.get(request));
        const auto *bounds = new BoundedReply(reply.get(), 1 << 20, deadline);
        QTimer heartbeat;
        auto beat = std::chrono::steady_clock::now();
        std::chrono::steady_clock::duration longestGap{};
        QObject::connect(&heartbeat, &QTimer::timeout, [&] {
            const auto now = std::chrono::steady_clock::now();
            longestGap = std::max(longestGap, now - beat);
            beat = now;
        });
        heartbeat.start(10);
        const auto started = std::chrono::steady_clock::now();
        ASSERT_TRUE(test::waitUntil([&] { return reply->isFinished(); }, 60s));
        // Slack for a loaded machine and the sanitizers.
        EXPECT_LT(std::chrono::steady_clock::now() - started, deadline + 10s);
        EXPECT_LT(longestGap, 1s);
        EXPECT_EQ(reply->error(), c.error) << reply->errorString().toStdString();
        EXPECT_EQ(bounds->failure(), c.failure);
        ASSERT_EQ(proxy.requests().size(), 1);
        EXPECT_EQ(proxy.requests()[0].method, "CONNECT");
    }
}

// What arrives of a request's body: all of it, without first asking the
// server whether it wants it, and after a redirect only where the status
// keeps the method (301 to 303 go on as a GET without it).
TEST(BoundedNetworkAccessManager, ARequestBodyArrivesWholeWhereverItGoes)
{
    const ProxyVariables direct;
    LocalHttpServer server;
    server.setReply("/in", {200, "taken"});
    BoundedNetworkAccessManager manager;
    // Past the size for which a transport may first ask the server whether
    // it wants the body, and wait a while for no answer.
    const QByteArray large = QByteArray("0123456789abcdef").repeated(128 * 1024);
    const struct {
        QByteArray verb;
        QByteArray body;
        // The redirect met first; none when 0.
        int status = 0;
        QByteArray landedVerb = verb;
        bool bodyGoesOn = true;
    } cases[] = {{"POST", "small"},
                 {"POST", large},
                 {"PUT", large},
                 {"POST", ""},
                 {"POST", "body", 301, "GET", false},
                 {"POST", "body", 302, "GET", false},
                 {"POST", "body", 303, "GET", false},
                 {"POST", "body", 307},
                 {"POST", large, 308}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.verb.toStdString() + ' ' + std::to_string(c.body.size()) + " after " +
                     std::to_string(c.status));
        QString path = "/in";
        if (c.status) {
            path = QString("/moved/%1").arg(c.status);
            server.setReply(path, {.body = "HTTP/1.1 " + QByteArray::number(c.status) +
                                           " Moved\r\nLocation: /in\r\nContent-Length: 0\r\n\r\n",
                                   .delivery = LocalHttpServer::Delivery::raw});
        }
        QNetworkRequest request(server.url(path));
        request.setHeader(QNetworkRequest::ContentTypeHeader, "application/octet-stream");
        const std::unique_ptr<QNetworkReply> reply(c.verb == "PUT" ? manager.put(request, c.body)
                                                                   : manager.post(request, c.body));
        ASSERT_TRUE(test::waitUntil([&] { return reply->isFinished(); }));
        EXPECT_EQ(reply->readAll(), "taken");
        const auto sent = server.requests().last();
        EXPECT_EQ(sent.method, c.landedVerb);
        EXPECT_TRUE(sent.body == (c.bodyGoesOn ? c.body : QByteArray())) << sent.body.size();
        EXPECT_EQ(sent.headers.contains("content-type"), c.bodyGoesOn);
        EXPECT_FALSE(sent.headers.contains("expect"));
    }
}

TEST_F(HttpClientTest, HttpsRepliesAreReadOnlyFromATrustedServer)
{
    if (!QSslSocket::supportsSsl())
        GTEST_SKIP() << "no TLS here";
    LocalHttpServer server(0, LocalHttpServer::Transport::tls);
    server.setReply("/secure", {.body = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
                                        "6\r\nsecure\r\n0\r\n\r\n",
                                .delivery = LocalHttpServer::Delivery::raw});
    // Unknown to the system, the server is refused.
    const HttpResponse refused = m_completions.wait(get(server.url("/secure")));
    EXPECT_EQ(refused.status, std::nullopt);
    EXPECT_EQ(refused.body, std::nullopt);
    EXPECT_TRUE(refused.errorText.startsWith("SSL handshake failed"))
        << refused.errorText.toStdString();

    const TrustedLocalServers trusted;
    const HttpResponse response = m_completions.wait(get(server.url("/secure")));
    EXPECT_EQ(response.status, 200);
    EXPECT_EQ(response.body, "secure");
    EXPECT_EQ(response.errorText, "");
}

// A server's stream limit holds the rest of a burst on its one connection
// until streams free, rather than opening connections beside it.
TEST_F(HttpClientTest, ABurstWaitsForStreamsOfOneHttp2Connection)
{
    const TrustedLocalServers trusted;
    for (const quint32 streams : {10u, 100u, 128u}) {
        SCOPED_TRACE(streams);
        LocalHttpServer server(0, LocalHttpServer::Transport::http2);
        server.setConcurrentStreams(streams);
        server.setReply("/tile", {200, QByteArray(20000, 't')});
        const std::size_t first = m_requests.size();
        for (int i = 0; i < 200; ++i)
            get(server.url("/tile"));
        for (std::size_t i = first; i < first + 200; ++i) {
            const HttpResponse response = m_completions.wait(i);
            EXPECT_EQ(response.body.value_or("").size(), 20000) << response.errorText.toStdString();
        }
        EXPECT_EQ(server.connectionCount(), 1);
        EXPECT_EQ(server.requests().size(), 200);
    }
}

// A server that never answers holds the request to its deadline, no less:
// neither a reply nor a proxy's tunnel ends it early.
TEST_F(HttpClientTest, ASilentServerFailsAtTheDeadlineNotBefore)
{
    const TrustedLocalServers trusted;
    RecordingProxy silentProxy(RecordingProxy::Answer::silence);
    m_server.setReply("/held", {.held = true});
    const struct {
        const char *name;
        QUrl url;
        QByteArray httpsProxy;
    } cases[] = {
        {"a reply held", m_server.url("/held"), {}},
        {"a tunnel never opened", QUrl("https://127.0.0.1:9/tile"), silentProxy.address()}};
    // Past two seconds, where a timer is coarse unless told otherwise.
    constexpr auto deadline = 2100ms;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const ProxyVariables variables({}, c.httpsProxy);
        const auto started = std::chrono::steady_clock::now();
        const HttpResponse response = m_completions.wait(get(c.url, {}, {30s, deadline, 1024}));
        const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - started);
        EXPECT_EQ(response.errorText, BoundedReply::tooSlowText);
        EXPECT_GE(took.count(), deadline.count());
        // Only to catch a stall: a loaded machine and the sanitizers are slow.
        EXPECT_LT(took, deadline + 10s);
    }
}
