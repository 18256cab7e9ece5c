#include "common/TestSupport.h"
#include "fixtures/http/LocalHttpServer.h"
#include "platform/HttpClient.h"

#include <QTemporaryDir>
#include <QFile>
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

class HttpClientTest : public ::testing::Test {
protected:
    std::size_t get(const QUrl &url, const HttpClient::Headers &headers = {},
                    const TransferLimits &limits = {30s, 60s, 1 << 20})
    {
        const std::size_t index = m_requests.size();
        m_requests.push_back(m_client->get({url, headers, limits}, m_completions.slot()));
        return index;
    }

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
    for (const auto &request : m_server.requests())
        EXPECT_EQ(request.headers.value("accept-version"), "v1");
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
