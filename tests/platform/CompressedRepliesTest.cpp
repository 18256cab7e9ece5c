#include "common/TestSupport.h"
#include "fixtures/http/HostileReplies.h"
#include "fixtures/http/LocalHttpServer.h"
#include "platform/net/BodyInflater.h"
#include "platform/net/HttpClient.h"

#include <QSslConfiguration>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <mutex>

using namespace corvane;
using namespace corvane::fixture;
using namespace std::chrono_literals;
using ::testing::AnyOf;
using Transport = LocalHttpServer::Transport;
using Delivery = LocalHttpServer::Delivery;

namespace {

// Requests through one client, each answered once.
class Client {
public:
    Client()
    {
        QSslConfiguration trusting = m_original;
        trusting.addCaCertificate(LocalHttpServer::certificate());
        QSslConfiguration::setDefaultConfiguration(trusting);
    }
    ~Client()
    {
        m_requests.clear();
        m_client.reset();
        QSslConfiguration::setDefaultConfiguration(m_original);
    }

    std::size_t get(const QUrl &url, const TransferLimits &limits = {30s, 60s, 1 << 20})
    {
        std::lock_guard lock(m_mutex);
        const std::size_t index = m_responses.size();
        m_responses.emplace_back();
        m_requests.push_back(m_client->get({url, {}, limits}, [this, index](const auto &response) {
            std::lock_guard lock(m_mutex);
            m_responses[index] = response;
        }));
        return index;
    }

    HttpResponse wait(std::size_t index)
    {
        EXPECT_TRUE(test::waitUntil([&] {
            std::lock_guard lock(m_mutex);
            return m_responses[index].has_value();
        }));
        std::lock_guard lock(m_mutex);
        return m_responses[index].value_or(HttpResponse{});
    }

private:
    const QSslConfiguration m_original = QSslConfiguration::defaultConfiguration();
    std::shared_ptr<HttpClient> m_client = HttpClient::makeNetworkClient();
    std::mutex m_mutex;
    std::vector<std::optional<HttpResponse>> m_responses;
    std::vector<std::shared_ptr<HttpRequest>> m_requests;
};

const char *nameOf(Transport transport)
{
    return transport == Transport::http2 ? "HTTP/2" : "HTTP/1.1";
}

// A body that compresses, though not to nothing.
QByteArray text()
{
    QByteArray body;
    for (int line = 0; body.size() < 100000; ++line)
        body += "line " + QByteArray::number(line * 7919 % 100003) + " of a body\n";
    return body.left(100000);
}

} // namespace

// Bombs several at once share a client's connections: each is refused as
// soon as it inflates past its bound, and none waits for its deadline.
TEST(CompressedReplies, BombsFailAsTooLargeLongBeforeTheirDeadline)
{
    const QByteArray gibibyte = gzippedZeros(1024);
    const QByteArray zeros(64 << 20, '\0');
    const struct {
        const char *name;
        QByteArray coding;
        QByteArray body;
    } bombs[] = {
        {"gzip", "gzip", gibibyte},
        {"deflate", "deflate", zlibStream({}, qint64(1) << 30)},
        {"br", "br", brotli(zeros)},
        {"zstd", "zstd", zstdFrame(zeros)},
        {"gzip in gzip", "gzip, gzip", gzipped(gibibyte)},
    };
    for (const Transport transport : {Transport::plain, Transport::http2}) {
        LocalHttpServer server(0, transport);
        Client client;
        for (const auto &bomb : bombs) {
            const QString path = QString("/bomb/") + bomb.name;
            server.setReply(path, {.body = bomb.body,
                                   .contentType = "application/octet-stream",
                                   .fields = "Content-Encoding: " + bomb.coding + "\r\n"});
            for (const int count : {1, 3, 6}) {
                SCOPED_TRACE(std::string(nameOf(transport)) + ", " + bomb.name + " x" +
                             std::to_string(count));
                const auto started = std::chrono::steady_clock::now();
                std::vector<std::size_t> sent;
                for (int i = 0; i < count; ++i)
                    sent.push_back(client.get(server.url(path), {20s, 20s, 8 << 20}));
                for (const std::size_t index : sent) {
                    const HttpResponse response = client.wait(index);
                    EXPECT_EQ(response.errorText.toStdString(), "The reply is too large.");
                    EXPECT_EQ(response.body, std::nullopt);
                }
                // Far below the deadline, however loaded the machine.
                EXPECT_LT(std::chrono::steady_clock::now() - started, 10s);
            }
        }
    }
}

// A body that stops before its end fails, whether its compressed stream or
// its HTTP/2 stream says so; the same bodies whole arrive whole.
TEST(CompressedReplies, ABodyCutShortFailsAndWholeArrivesWhole)
{
    const QByteArray body = text();
    const struct {
        const char *coding;
        QByteArray coded;
    } codings[] = {
        {"gzip", gzipped(body)}, {"deflate", zlibStream(body)}, {"deflate", rawDeflated(body)},
        {"br", brotli(body)},    {"zstd", zstdFrame(body)},     {"gzip, br", brotli(gzipped(body))},
        {"identity", body},
    };
    for (const Transport transport : {Transport::plain, Transport::http2}) {
        LocalHttpServer server(0, transport);
        Client client;
        int index = 0;
        for (const auto &c : codings) {
            const QByteArray fields = QByteArray("Content-Encoding: ") + c.coding + "\r\n";
            const QByteArray cut = c.coded.left(c.coded.size() * 2 / 3);
            const struct {
                const char *name;
                LocalHttpServer::Reply reply;
                std::optional<QByteArray> body;
                const char *error;
            } cases[] = {
                {"whole", {.body = c.coded, .fields = fields}, body, ""},
                // Its length says it is whole; only the coding can tell.
                {"cut, its length the cut's",
                 {.body = cut, .fields = fields},
                 c.coding == QByteArray("identity") ? std::optional(body.left(cut.size()))
                                                    : std::nullopt,
                 c.coding == QByteArray("identity") ? "" : "The reply is cut short."},
                // Over HTTP/2 a stream reset with NO_ERROR before its end.
                {"cut, its length the whole's",
                 {.body = cut,
                  .fields = fields,
                  .delivery = Delivery::cut,
                  .declaredLength = c.coded.size()},
                 std::nullopt,
                 "The reply is cut short."},
            };
            for (const auto &row : cases) {
                SCOPED_TRACE(std::string(nameOf(transport)) + ", " + c.coding + " #" +
                             std::to_string(index) + ", " + row.name);
                const QString path = QString("/body/%1").arg(index++);
                server.setReply(path, row.reply);
                const HttpResponse response = client.wait(client.get(server.url(path)));
                // libcurl drops a stream's head when its reset comes with it.
                if (transport == Transport::http2 && row.reply.delivery == Delivery::cut)
                    EXPECT_THAT(
                        response.errorText.toStdString(),
                        AnyOf(row.error, "The server closed the connection without a reply."));
                else
                    EXPECT_EQ(response.errorText.toStdString(), row.error);
                EXPECT_TRUE(response.body == row.body)
                    << response.body.value_or("(none)").size() << " bytes";
            }
        }
    }
}

// A coding we cannot undo, or more than five, fails the reply in its own
// words rather than as a body cut short.
TEST(CompressedReplies, CodingsThatCannotBeUndoneAreNamed)
{
    const QByteArray body = text();
    const struct {
        const char *coding;
        QByteArray coded;
        QString error;
    } cases[] = {
        {"compress", body, BodyInflater::unknownCodingText},
        {"gzip, gzip, gzip, gzip, gzip, gzip",
         gzipped(gzipped(gzipped(gzipped(gzipped(gzipped(body)))))),
         BodyInflater::tooManyCodingsText},
    };
    LocalHttpServer server(0, Transport::plain);
    Client client;
    int index = 0;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.coding);
        const QString path = QString("/coded/%1").arg(index++);
        server.setReply(path, {.body = c.coded,
                               .fields = QByteArray("Content-Encoding: ") + c.coding + "\r\n"});
        const HttpResponse response = client.wait(client.get(server.url(path)));
        EXPECT_EQ(response.errorText, c.error);
        EXPECT_FALSE(response.body);
    }
}
