#include "HttpSink.h"
#include "fixtures/http/HostileReplies.h"
#include "PreferencesTestSupport.h"
#include "platform/queues/DispatchQueue.h"
#include "preferences/OneShotDownloadManager.h"

#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>

#include <thread>

using namespace corvane;
using namespace corvane::test;

namespace {

const QUrl kEndpoint("https://reports.example.com/crash");

QString boundaryOf(const UrlRequest &upload)
{
    const QString type = upload.request.header(QNetworkRequest::ContentTypeHeader).toString();
    const QString prefix = "multipart/form-data; boundary=";
    EXPECT_TRUE(type.startsWith(prefix)) << type.toStdString();
    return type.mid(prefix.size());
}

QByteArray field(const QString &name, const QString &value)
{
    return ("Content-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" + value + "\r\n")
        .toUtf8();
}

} // namespace

TEST(CrashUpload, TheBodyCarriesTheAddressAndTheLogByteForByte)
{
    const QString log =
        QString::fromUtf8("Exception Type: EXC_CRASH (SIGABRT)\r\nr\xc3\xa9sum\xc3\xa9");
    const UrlRequest upload = CrashReporter::makeUpload(kEndpoint, "dev@example.com", log);
    const QByteArray b = boundaryOf(upload).toLatin1();
    EXPECT_EQ(upload.method, "POST");
    EXPECT_EQ(upload.request.url(), kEndpoint);
    EXPECT_EQ(upload.request.transferTimeout(), 60000);
    EXPECT_EQ(upload.body, "--" + b + "\r\n" + field("userEmail", "dev@example.com") + "--" + b +
                               "\r\n" + field("crashlog", log) + "\r\n--" + b + "--\r\n");

    // An empty or missing address leaves its part out.
    for (const std::optional<QString> &address :
         {std::optional<QString>(""), std::optional<QString>()}) {
        const UrlRequest onlyLog = CrashReporter::makeUpload(kEndpoint, address, "log");
        const QByteArray c = boundaryOf(onlyLog).toLatin1();
        EXPECT_EQ(onlyLog.body,
                  "--" + c + "\r\n" + field("crashlog", "log") + "\r\n--" + c + "--\r\n");
    }

    const UrlRequest nothing = CrashReporter::makeUpload(kEndpoint, std::nullopt, "");
    const QByteArray d = boundaryOf(nothing).toLatin1();
    EXPECT_EQ(nothing.body, "--" + d + "\r\n\r\n--" + d + "--\r\n");
}

TEST(CrashUpload, EveryUploadHasItsOwnBoundaryOf32LowerCaseHexDigits)
{
    const QRegularExpression hex("^[0-9a-f]{32}$");
    const QString first = boundaryOf(CrashReporter::makeUpload(kEndpoint, std::nullopt, "a"));
    const QString second = boundaryOf(CrashReporter::makeUpload(kEndpoint, std::nullopt, "a"));
    EXPECT_TRUE(hex.match(first).hasMatch()) << first.toStdString();
    EXPECT_TRUE(hex.match(second).hasMatch()) << second.toStdString();
    EXPECT_NE(first, second);
}

namespace {

class CrashUploadLoopbackTest : public CrashReporterTestBase {
protected:
    void SetUp() override
    {
        CrashReporterTestBase::SetUp();
        ASSERT_TRUE(sink.isListening());
        downloads = std::make_shared<OneShotDownloadManager>(BundleInfo{"Corvane", "2.1", "140"});
    }

    std::shared_ptr<CrashReporter> makeReporter(const QUrl &endpoint)
    {
        auto reporter = std::make_shared<CrashReporter>(endpoint, QUrl(), defaults);
        reporter->setDownloadManager(downloads);
        return reporter;
    }

    // Each call writes a new log, newer than the ones before.
    QPointer<CrashReportWindowController> offerLog(CrashReporter &reporter,
                                                   const QString &text = "Thread 0 Crashed")
    {
        ++m_logs;
        writeLog(QString("Corvane_%1.crash").arg(m_logs), (text + QString(m_logs, ' ')).toUtf8(),
                 QDateTime::fromSecsSinceEpoch(1700000000 + m_logs));
        reporter.checkForNewCrashLog(true, false);
        auto *window = dynamic_cast<CrashReportWindowController *>(
            reporter.crashReportWindowController().get());
        EXPECT_NE(window, nullptr);
        return window;
    }

    // Sends a marker through the same manager and waits for it, so anything
    // sent before it has had its chance to arrive.
    void settle()
    {
        bool answered = false;
        UrlRequest marker;
        marker.request.setUrl(sink.url("/marker"));
        downloads->start(marker, [&](const QByteArray &, int, const std::optional<QString> &) {
            answered = true;
        });
        ASSERT_TRUE(waitUntil([&] { return answered; }, std::chrono::seconds(30)));
    }

    std::vector<HttpSink::Request> crashRequests() const
    {
        std::vector<HttpSink::Request> found;
        for (const auto &request : sink.requests)
            if (request.path == "/crash")
                found.push_back(request);
        return found;
    }

    HttpSink sink;
    std::shared_ptr<OneShotDownloadManager> downloads;

private:
    int m_logs = 0;
};

} // namespace

TEST_F(CrashUploadLoopbackTest, SendPressedTwiceUploadsOnePost)
{
    defaults->set("CRR_emailAddress", "dev@example.com");
    auto reporter = makeReporter(sink.url("/crash"));
    // Large enough to be sent in many pieces.
    const QString log = "Thread 0 Crashed" +
                        QString::fromUtf8("\n0x0001 r\xc3\xa9sum\xc3\xa9 + 12").repeated(12000);
    auto window = offerLog(*reporter, log);
    ASSERT_TRUE(window);
    window->sendCrashReport();
    window->sendCrashReport();
    ASSERT_TRUE(waitUntil([&] { return !crashRequests().empty(); }, std::chrono::seconds(30)));
    settle();

    const auto requests = crashRequests();
    ASSERT_EQ(requests.size(), 1u);
    const auto &request = requests[0];
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.headers.value("user-agent"), "Corvane-2.1");
    const QByteArray type = request.headers.value("content-type");
    ASSERT_TRUE(type.startsWith("multipart/form-data; boundary=")) << type.toStdString();
    const QByteArray b = type.mid(type.indexOf('=') + 1);
    EXPECT_EQ(request.body, "--" + b + "\r\n" + field("userEmail", "dev@example.com") + "--" + b +
                                "\r\n" + field("crashlog", log + " ") + "\r\n--" + b + "--\r\n");
    EXPECT_FALSE(request.headers.contains("expect"));
    // The window is gone once closed.
    EXPECT_EQ(reporter->crashReportWindowController(), nullptr);
    flushDeferredDeletes();
    EXPECT_TRUE(window.isNull());
}

TEST_F(CrashUploadLoopbackTest, DecliningEscapeClosingOrNoEndpointSendNothing)
{
    auto reporter = makeReporter(sink.url("/crash"));
    auto declined = offerLog(*reporter);
    ASSERT_TRUE(declined);
    declined->dontSendCrashReport();

    auto escaped = offerLog(*reporter);
    ASSERT_TRUE(escaped);
    escaped->showWindow();
    sendKey(escaped, Qt::Key_Escape);
    EXPECT_FALSE(escaped->isVisible());

    auto closed = offerLog(*reporter);
    ASSERT_TRUE(closed);
    closed->showWindow();
    closed->close();

    // Sending automatically is no use without an endpoint, and Send is off.
    defaults->set("CRR_sendCrashLogsAutomatically", true);
    auto silent = makeReporter(QUrl());
    auto window = offerLog(*silent);
    ASSERT_TRUE(window);
    EXPECT_FALSE(window->sendCrashLogButton()->isEnabled());
    window->sendCrashReport();

    settle();
    EXPECT_TRUE(crashRequests().empty());
    EXPECT_EQ(reporter->crashReportWindowController(), nullptr);
}

TEST_F(CrashUploadLoopbackTest, TheManagerKeepsNoCookiesAndNamesItselfOnlyWhenItCan)
{
    sink.extraResponseHeaders = "Set-Cookie: session=abc; Path=/\r\n";
    std::vector<int> statuses;
    UrlRequest request;
    request.request.setUrl(sink.url("/first"));
    downloads->start(request,
                     [&](const QByteArray &data, int status, const std::optional<QString> &error) {
                         EXPECT_TRUE(DispatchQueue::isMainThread());
                         EXPECT_EQ(data, "ok");
                         EXPECT_EQ(error, std::nullopt);
                         statuses.push_back(status);
                     });
    // Started from another thread, it still runs on the main thread.
    request.request.setUrl(sink.url("/second"));
    DispatchQueue::userInitiated()->async([&, downloads = downloads, request] {
        downloads->start(request,
                         [&](const QByteArray &, int status, const std::optional<QString> &) {
                             EXPECT_TRUE(DispatchQueue::isMainThread());
                             statuses.push_back(status);
                         });
    });
    ASSERT_TRUE(waitUntil([&] { return statuses.size() == 2; }, std::chrono::seconds(30)));
    EXPECT_EQ(statuses, (std::vector<int>{200, 200}));
    ASSERT_EQ(sink.requests.size(), 2u);
    for (const auto &received : sink.requests)
        EXPECT_FALSE(received.headers.contains("cookie")) << received.path.toStdString();

    // Without a version there is no User-Agent of the program's own.
    auto anonymous = std::make_shared<OneShotDownloadManager>(BundleInfo{"Corvane", "", "140"});
    EXPECT_EQ(OneShotDownloadManager::userAgent(BundleInfo{"", "2.1", "140"}), std::nullopt);
    bool done = false;
    request.request.setUrl(sink.url("/anonymous"));
    anonymous->start(request,
                     [&](const QByteArray &, int, const std::optional<QString> &) { done = true; });
    ASSERT_TRUE(waitUntil([&] { return done; }, std::chrono::seconds(30)));
    ASSERT_EQ(sink.requests.size(), 3u);
    EXPECT_FALSE(sink.requests[2].headers.value("user-agent").startsWith("Corvane"));
}

TEST_F(CrashUploadLoopbackTest, AnUploadGoesOutWhileTheMainThreadIsBusy)
{
    fixture::LocalHttpServer server;
    server.setReply("/crash", {200, "ok"});
    std::optional<int> status;
    downloads->start(CrashReporter::makeUpload(server.url("/crash"), std::nullopt, "Thread 0"),
                     [&](const QByteArray &, int answered, const std::optional<QString> &) {
                         status = answered;
                     });
    // The main thread's event loop does not turn meanwhile.
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (server.requests().isEmpty() && std::chrono::steady_clock::now() < giveUp)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_EQ(server.requests().size(), 1);
    EXPECT_EQ(server.requests()[0].method, "POST");
    // Its handler waits for the main thread.
    EXPECT_FALSE(status);
    ASSERT_TRUE(waitUntil([&] { return status.has_value(); }, std::chrono::seconds(30)));
    EXPECT_EQ(status, 200);
}

TEST_F(CrashUploadLoopbackTest, HostileRepliesToTheUploadFailWithinItsDeadline)
{
    const qint64 peakBefore = peakResidentBytes();
    fixture::LocalHttpServer hostile;
    using Kind = fixture::HostileReply::Kind;
    std::map<std::pair<std::string, Kind>, std::optional<QString>> errors;
    for (const auto &reply : fixture::serveHostileReplies(hostile)) {
        if (reply.isImage())
            continue;
        UrlRequest upload =
            CrashReporter::makeUpload(hostile.url(reply.path), "dev@example.com", "Thread 0");
        EXPECT_EQ(upload.maximumReplySize, 1 << 20);
        // 3 s in all, far less than the 60 s the upload may stall.
        upload.deadline = std::chrono::seconds(3);
        downloads->start(upload, [&errors, key = std::pair(std::string(reply.name), reply.kind)](
                                     const QByteArray &, int, const std::optional<QString> &error) {
            errors[key] = error;
        });
    }
    ASSERT_TRUE(waitUntil([&] { return errors.size() == 4; }, std::chrono::seconds(30)));
    for (const auto &[key, error] : errors)
        EXPECT_EQ(error, key.second == Kind::tooSlow ? "The server took too long."
                                                     : "The reply is too large.")
            << key.first;
    if (peakResidentBytesTellUse)
        EXPECT_LT(peakResidentBytes() - peakBefore, hostileRepliesPeakGrowth);
}

TEST_F(CrashUploadLoopbackTest, RepliesAskingForAuthenticationAreBoundedLikeAnyOther)
{
    // Qt's own transport holds such a body whole until the deadline: past a
    // gigabyte in three seconds on the loopback.
    const qint64 peakBefore = peakResidentBytes();
    fixture::LocalHttpServer hostile;
    using Delivery = fixture::LocalHttpServer::Delivery;
    const QByteArray small = "{\"error\":\"unauthorized\"}";
    const QString tooLarge = "The reply is too large.";
    const struct {
        QString path;
        fixture::LocalHttpServer::Reply reply;
        std::optional<QString> error;
        QByteArray data;
    } cases[] = {
        // The transport's own test has the other shapes of such a reply.
        {"/401/endless", {.status = 401, .body = "x", .delivery = Delivery::endless}, tooLarge},
        // A small one comes back whole, with its status.
        {"/401/small",
         {.status = 401, .body = small},
         "Error transferring " + hostile.url("/401/small").toString() +
             " - server replied: Unauthorized",
         small},
    };
    std::map<QString, std::pair<std::optional<QString>, QByteArray>> results;
    for (const auto &c : cases) {
        hostile.setReply(c.path, c.reply);
        UrlRequest upload =
            CrashReporter::makeUpload(hostile.url(c.path), "dev@example.com", "Thread 0");
        upload.deadline = std::chrono::seconds(20);
        downloads->start(upload, [&results, path = c.path](const QByteArray &data, int status,
                                                           const std::optional<QString> &error) {
            EXPECT_EQ(status, 401);
            results[path] = {error, data};
        });
    }
    ASSERT_TRUE(
        waitUntil([&] { return results.size() == std::size(cases); }, std::chrono::seconds(30)));
    for (const auto &c : cases)
        EXPECT_EQ(results[c.path], std::pair(c.error, c.data)) << c.path.toStdString();
    if (peakResidentBytesTellUse)
        EXPECT_LT(peakResidentBytes() - peakBefore, hostileRepliesPeakGrowth);
}
