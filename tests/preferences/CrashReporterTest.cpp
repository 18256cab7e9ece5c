#include "PreferencesTestSupport.h"
#include "platform/Log.h"
#include "preferences/CrashLog.h"

#include <QFile>
#include <QStringEncoder>
#include <QUrl>

#include <sys/stat.h>

using namespace corvane;
using namespace corvane::test;

namespace {

const QUrl kEndpoint("https://reports.example.com/crash");
const QUrl kPrivacy("https://example.com/privacy");
const QDateTime kBase = QDateTime::fromSecsSinceEpoch(1700000000).addMSecs(250);

class CrashReporterTest : public CrashReporterTestBase {
protected:
    std::shared_ptr<RecordingReporter> makeReporter(const QUrl &endpoint = kEndpoint)
    {
        auto reporter = std::make_shared<RecordingReporter>(endpoint, kPrivacy, defaults);
        reporter->setWindowFactory([this](CrashReportContent content) {
            windows.push_back(std::make_shared<FakeCrashWindow>(std::move(content)));
            return windows.back();
        });
        return reporter;
    }

    double storedTime() const
    {
        return defaults->doubleValue("CRR_lastSeenCrashLogTimeSince1970").value_or(-1);
    }

    std::vector<std::shared_ptr<FakeCrashWindow>> windows;
};

} // namespace

TEST_F(CrashReporterTest, OffersOnlyTheNewestNewLogAndNeverOffersALogTwice)
{
    defaults->set("CRR_lastSeenCrashLogTimeSince1970", double(kBase.toSecsSinceEpoch() - 60));
    writeLog("Corvane_2024-01-01-100000_mac.crash", "older crash", kBase);
    writeLog("Corvane_2024-01-01-110000_mac.crash", "newer crash", kBase.addSecs(30));
    writeLog("Corvane_2023-12-31-090000_mac.crash", "already seen", kBase.addSecs(-120));
    auto reporter = makeReporter();

    reporter->checkForNewCrashLog(true, false);
    ASSERT_EQ(windows.size(), 1u);
    EXPECT_EQ(windows[0]->shows, 1);
    EXPECT_EQ(windows[0]->content.crashLogText, "newer crash");
    EXPECT_EQ(reporter->crashReportWindowController(), windows[0]);
    EXPECT_EQ(defaults->string("CRR_lastSeenCrashLogMD5"), md5Text("newer crash"));
    EXPECT_EQ(storedTime(), double(kBase.addSecs(30).toMSecsSinceEpoch()) / 1000.0);

    // Closed without an answer: the log stays handled, the older one too.
    windows[0]->close();
    EXPECT_EQ(reporter->crashReportWindowController(), nullptr);
    reporter->checkForNewCrashLog(true, false);
    reporter->checkForNewCrashLog(true, false);
    EXPECT_EQ(windows.size(), 1u);
    EXPECT_TRUE(reporter->sent.empty());

    // A fresh reporter reads the handled state back from the defaults.
    auto later = makeReporter();
    later->checkForNewCrashLog(true, false);
    EXPECT_EQ(windows.size(), 1u);
}

TEST_F(CrashReporterTest, TheSameTextWithANewerDateIsSkippedAndTheStoredTimeStays)
{
    writeLog("Corvane_a.crash", "the same crash", kBase);
    auto reporter = makeReporter();
    reporter->checkForNewCrashLog(false, false);
    ASSERT_EQ(windows.size(), 1u);
    const double handled = storedTime();

    writeLog("Corvane_b.crash", "the same crash", kBase.addSecs(600));
    reporter->checkForNewCrashLog(false, false);
    EXPECT_EQ(windows.size(), 1u);
    EXPECT_EQ(storedTime(), handled);

    // A different text after it is offered again.
    writeLog("Corvane_c.crash", "another crash", kBase.addSecs(900));
    reporter->checkForNewCrashLog(false, false);
    ASSERT_EQ(windows.size(), 2u);
    EXPECT_EQ(windows[1]->content.crashLogText, "another crash");
}

TEST_F(CrashReporterTest, NamesMatchByCaseInsensitivePrefixAndExactSuffix)
{
    writeLog("CORVANE_x.crash", "matching", kBase);
    writeLog("Corvane.CRASH", "upper-case suffix", kBase.addSecs(10));
    writeLog("xCorvane.crash", "other prefix", kBase.addSecs(20));
    writeLog("Corvane_x.crash.txt", "other suffix", kBase.addSecs(30));
    writeLog("Other_x.crash", "other program", kBase.addSecs(40));
    auto reporter = makeReporter();

    reporter->checkForNewCrashLog(false, false);
    ASSERT_EQ(windows.size(), 1u);
    EXPECT_EQ(windows[0]->content.crashLogText, "matching");
    reporter->checkForNewCrashLog(false, false);
    EXPECT_EQ(windows.size(), 1u);
}

TEST_F(CrashReporterTest, BetweenEqualDatesTheLaterNameWins)
{
    writeLog("Corvane_b.crash", "b", kBase);
    writeLog("Corvane_a.crash", "a", kBase);
    writeLog("Corvane_c.crash", "c", kBase);
    auto reporter = makeReporter();
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(reporter->findNewestNewCrashLog("Corvane")->url,
                  reportsFolder() + "/Corvane_c.crash");
}

TEST_F(CrashReporterTest, NothingHappensWithoutANameAFolderOrAReadableLog)
{
    auto reporter = makeReporter();
    reporter->checkForNewCrashLog(true, false);

    writeLog("Corvane_a.crash", "a crash", kBase);
    QCoreApplication::setApplicationName("");
    reporter->checkForNewCrashLog(true, false);
    QCoreApplication::setApplicationName("Corvane");

    // Not text: nothing is offered and nothing is stored.
    writeLog("Corvane_b.crash", QByteArray("bad \xff\xfe bytes", 13), kBase.addSecs(5));
    reporter->checkForNewCrashLog(true, false);
    EXPECT_TRUE(windows.empty());
    EXPECT_FALSE(defaults->hasStoredValue("CRR_lastSeenCrashLogMD5"));
    EXPECT_FALSE(defaults->hasStoredValue("CRR_lastSeenCrashLogTimeSince1970"));
}

// A named pipe named like a log once blocked the main thread for ever, and a
// huge file was read whole: only regular files up to 8 MiB are logs.
TEST_F(CrashReporterTest, OnlyRegularFilesUpTo8MiBAreRead)
{
    writeLog("Corvane_a.crash", "a crash", kBase);
    const QString pipe = reportsFolder() + "/Corvane_pipe.crash";
    ASSERT_EQ(::mkfifo(QFile::encodeName(pipe), 0600), 0);
    const QString huge = reportsFolder() + "/Corvane_huge.crash";
    QFile file(huge);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.resize(CrashLog::maxBytes + 1));
    file.close();
    Log::Capture capture;
    auto reporter = makeReporter();
    reporter->checkForNewCrashLog(false, false);
    ASSERT_EQ(windows.size(), 1u);
    EXPECT_EQ(windows[0]->content.crashLogText, "a crash");
    EXPECT_TRUE(capture.contains(huge + " is larger than 8 MiB and was not read."));
    // Read through the same checks, should either turn up after the scan.
    EXPECT_FALSE(CrashLog::make(pipe, kBase));
    EXPECT_FALSE(CrashLog::make(huge, kBase));
}

TEST_F(CrashReporterTest, SendingAutomaticallyFollowsTheFlagsAndTheEndpoint)
{
    defaults->set("CRR_sendCrashLogsAutomatically", true);
    defaults->set("CRR_emailAddress", "dev@example.com");

    // Without collecting addresses none is sent, though one is stored.
    writeLog("Corvane_1.crash", "first", kBase);
    auto reporter = makeReporter();
    reporter->checkForNewCrashLog(false, false);
    ASSERT_EQ(reporter->sent.size(), 1u);
    EXPECT_EQ(reporter->sent[0].emailAddress, std::nullopt);
    EXPECT_EQ(reporter->sent[0].text, "first");
    EXPECT_TRUE(windows.empty());

    writeLog("Corvane_2.crash", "second", kBase.addSecs(1));
    reporter->checkForNewCrashLog(true, false);
    ASSERT_EQ(reporter->sent.size(), 2u);
    EXPECT_EQ(reporter->sent[1].emailAddress, "dev@example.com");

    // The choice is hidden: always ask, without the row to choose.
    writeLog("Corvane_3.crash", "third", kBase.addSecs(2));
    reporter->checkForNewCrashLog(true, true);
    EXPECT_EQ(reporter->sent.size(), 2u);
    ASSERT_EQ(windows.size(), 1u);
    EXPECT_FALSE(windows[0]->content.sendReportsAutomaticallySetting.isVisible);
    EXPECT_TRUE(windows[0]->content.collectEmailSetting.isVisible);
    EXPECT_FALSE(windows[0]->content.crashLogSender.expired());
    EXPECT_EQ(windows[0]->content.privacyPolicyURL, kPrivacy);

    // No endpoint: never sent, and the window has no sender.
    writeLog("Corvane_4.crash", "fourth", kBase.addSecs(3));
    auto silent = makeReporter(QUrl());
    silent->checkForNewCrashLog(true, false);
    EXPECT_TRUE(silent->sent.empty());
    ASSERT_EQ(windows.size(), 2u);
    EXPECT_TRUE(windows[1]->content.crashLogSender.expired());
    EXPECT_TRUE(windows[1]->content.sendReportsAutomaticallySetting.isVisible);
}

TEST_F(CrashReporterTest, OnlyTheWindowShownLastIsLetGoWhenItCloses)
{
    writeLog("Corvane_1.crash", "first", kBase);
    auto reporter = makeReporter();
    reporter->checkForNewCrashLog(false, false);
    writeLog("Corvane_2.crash", "second", kBase.addSecs(1));
    reporter->checkForNewCrashLog(false, false);
    ASSERT_EQ(windows.size(), 2u);
    EXPECT_EQ(reporter->crashReportWindowController(), windows[1]);

    windows[0]->close();
    EXPECT_EQ(reporter->crashReportWindowController(), windows[1]);
    windows[1]->close();
    EXPECT_EQ(reporter->crashReportWindowController(), nullptr);
}

TEST_F(CrashReporterTest, TheReportsFolderIsUnderTheHomeAndKeptOnceWorkedOut)
{
    auto reporter = makeReporter();
    EXPECT_EQ(reporter->crashReportFolderURL(), reportsFolder());
    auto paths = SystemPaths::current();
    paths.home = filePath("elsewhere");
    SystemPaths::setCurrent(paths);
    EXPECT_EQ(reporter->crashReportFolderURL(), reportsFolder());
}

TEST(CrashLogText, DecodesByByteOrderMarkElseUtf8AndRefusesWhatIsNotText)
{
    const QString text = QString::fromUtf8("Thread 0 Crashed:: Dispatch queue \xe2\x9c\x93");
    auto withMark = [&](QStringConverter::Encoding encoding) {
        QStringEncoder encoder(encoding, QStringConverter::Flag::WriteBom);
        return QByteArray(encoder.encode(text));
    };
    EXPECT_EQ(decodeText(text.toUtf8()), text);
    EXPECT_EQ(decodeText(withMark(QStringConverter::Utf8)), text);
    EXPECT_EQ(decodeText(withMark(QStringConverter::Utf16LE)), text);
    EXPECT_EQ(decodeText(withMark(QStringConverter::Utf16BE)), text);
    EXPECT_EQ(decodeText(withMark(QStringConverter::Utf32LE)), text);
    EXPECT_EQ(decodeText(withMark(QStringConverter::Utf32BE)), text);
    EXPECT_EQ(decodeText(QByteArray()), QString());

    EXPECT_EQ(decodeText(QByteArray("ab\xff"
                                    "c")),
              std::nullopt);
    EXPECT_EQ(decodeText(QByteArray("ends in half a sign \xe2\x82")), std::nullopt);
    EXPECT_EQ(decodeText(QByteArray("\xc0\xaf overlong")), std::nullopt);
    EXPECT_EQ(decodeText(withMark(QStringConverter::Utf16LE).chopped(1)), std::nullopt);
    // UTF-16 without a mark is not taken for UTF-8.
    EXPECT_EQ(decodeText(QByteArray("\x00\xd8"
                                    "a\x00",
                                    4)),
              std::nullopt);
}

TEST(CrashLogText, TheHashIsTheMd5OfTheUtf8BytesInLowerCaseHex)
{
    EXPECT_EQ(md5Text(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(md5Text("The quick brown fox jumps over the lazy dog"),
              "9e107d9d372bb6826bd81d3542a419d6");
    EXPECT_EQ(md5Text(QString::fromUtf8("\xc3\xa9")), "66ddcd97cfdeabb2f6fb8a999b4bc76f")
        << "é as two UTF-8 bytes";
}
