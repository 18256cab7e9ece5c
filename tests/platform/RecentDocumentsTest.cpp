#include "common/TestSupport.h"
#include "platform/desktop/RecentDocuments.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <thread>
#include <vector>

using namespace corvane;
using namespace corvane::test;

namespace {

class RecentDocumentsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_oldDataHome = qgetenv("XDG_DATA_HOME");
        qputenv("XDG_DATA_HOME", m_dir.filePath("data").toUtf8());
    }
    void TearDown() override { qputenv("XDG_DATA_HOME", m_oldDataHome); }

    QString list() const { return QString::fromUtf8(readFile(RecentDocuments::filePath())); }

    const RecentDocuments::Application corvane{"corvane", "'/usr/bin/corvane %u'"};
    const QDateTime now = QDateTime(QDate(2026, 5, 1), QTime(12, 0), Qt::UTC);

private:
    QTemporaryDir m_dir;
    QByteArray m_oldDataHome;
};

TEST_F(RecentDocumentsTest, AddsOnceAndCountsUses)
{
    EXPECT_TRUE(RecentDocuments::filePath().endsWith("/data/recently-used.xbel"));
    ASSERT_TRUE(RecentDocuments::add("/tmp/a b.gpx", "application/gpx+xml", corvane, now));
    ASSERT_TRUE(RecentDocuments::add("/tmp/c.csv", "text/csv", corvane, now));
    ASSERT_TRUE(
        RecentDocuments::add("/tmp/a b.gpx", "application/gpx+xml", corvane, now.addSecs(60)));
    EXPECT_EQ(RecentDocuments::paths(), QStringList({"/tmp/a b.gpx", "/tmp/c.csv"}));
    const QString text = list();
    EXPECT_TRUE(text.contains("href=\"file:///tmp/a%20b.gpx\"")) << text.toStdString();
    EXPECT_TRUE(text.contains("count=\"2\"")) << text.toStdString();
    EXPECT_TRUE(text.contains("modified=\"2026-05-01T12:01:00.000Z\"")) << text.toStdString();
    EXPECT_TRUE(text.contains("added=\"2026-05-01T12:00:00.000Z\"")) << text.toStdString();
    EXPECT_TRUE(text.contains("mime-type type=\"text/csv\"")) << text.toStdString();
}

TEST_F(RecentDocumentsTest, KeepsOtherProgramsEntriesAndLeavesABrokenListAlone)
{
    const QByteArray foreign = R"(<?xml version="1.0" encoding="UTF-8"?>
<xbel version="1.0" xmlns:bookmark="http://www.freedesktop.org/standards/desktop-bookmarks" xmlns:mime="http://www.freedesktop.org/standards/shared-mime-info">
  <bookmark href="file:///home/u/notes.txt" added="2025-01-01T00:00:00Z" modified="2025-01-01T00:00:00Z" visited="2025-01-01T00:00:00Z">
    <info><metadata owner="http://freedesktop.org"><mime:mime-type type="text/plain"/>
      <bookmark:applications><bookmark:application name="gedit" exec="'gedit %u'" modified="2025-01-01T00:00:00Z" count="3"/></bookmark:applications>
    </metadata></info>
  </bookmark>
</xbel>
)";
    ASSERT_TRUE(writeFile(RecentDocuments::filePath(), foreign));
    ASSERT_TRUE(RecentDocuments::add("/home/u/notes.txt", "text/plain", corvane, now));
    ASSERT_TRUE(RecentDocuments::add("/tmp/r.gpx", "application/gpx+xml", corvane, now));
    EXPECT_EQ(RecentDocuments::paths(), QStringList({"/home/u/notes.txt", "/tmp/r.gpx"}));
    const QString text = list();
    EXPECT_TRUE(text.contains("name=\"gedit\"")) << text.toStdString();
    EXPECT_TRUE(text.contains("count=\"3\"")) << text.toStdString();
    EXPECT_TRUE(text.contains("added=\"2025-01-01T00:00:00Z\"")) << text.toStdString();
    EXPECT_EQ(text.count("name=\"corvane\""), 2) << text.toStdString();

    const QByteArray broken = "<xbel><bookmark href=\"file:///x\">";
    ASSERT_TRUE(writeFile(RecentDocuments::filePath(), broken));
    EXPECT_FALSE(RecentDocuments::add("/tmp/r.gpx", "application/gpx+xml", corvane, now));
    EXPECT_EQ(readFile(RecentDocuments::filePath()), broken);
}

TEST_F(RecentDocumentsTest, ConcurrentAddsLoseNothing)
{
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i)
        threads.emplace_back([this, i] {
            RecentDocuments::add(QString("/tmp/f%1.gpx").arg(i), "application/gpx+xml", corvane);
        });
    for (auto &thread : threads)
        thread.join();
    EXPECT_EQ(RecentDocuments::paths().size(), 8);
}

} // namespace
