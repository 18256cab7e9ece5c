#include "common/TestSupport.h"
#include "fixtures/http/LocalHttpServer.h"
#include "platform/HttpClient.h"

#include <QTemporaryDir>
#include <QDir>
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
