#include "TaskTestSupport.h"
#include "platform/Log.h"
#include "platform/formats/PropertyList.h"
#include "tasks/ArchiveTask.h"

#include <QTimeZone>

#include <cstdlib>
#include <ctime>

using namespace corvane;
using namespace corvane::test;

namespace {

const QString kDecodeError = "Error decoding archive property list info";

// Local time is the fixed zone's while the test runs.
class FixedTimeZone {
public:
    explicit FixedTimeZone(const char *zone)
    {
        if (const char *old = std::getenv("TZ"))
            m_old = old;
        ::setenv("TZ", zone, 1);
        ::tzset();
    }
    ~FixedTimeZone()
    {
        if (m_old)
            ::setenv("TZ", m_old->c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }

private:
    std::optional<std::string> m_old;
};

class ArchiveInfoTest : public ApplicationFixture {
protected:
    static QVariantMap description()
    {
        return {{"XCApplicationName", "Foo"},
                {"CFBundleIdentifier", "com.example.foo"},
                {"XCMinimumOSVersion", "16.0"},
                {"XCExecutableVersion", "34"},
                {"XCExecutableName", "FooExec"},
                {"XCDownloadDate", "2024-03-01 09:05.07"},
                {"BNGroupIdentifiers", QStringList{"group.a"}}};
    }

    QUrl writeDescription(const QVariantMap &dictionary, bool binary = true)
    {
        const QString file = path("Foo.xcappdata/AppDataInfo.plist");
        QDir().mkpath(path("Foo.xcappdata"));
        EXPECT_TRUE(PropertyList::writeFile(file, dictionary, binary));
        return QUrl::fromLocalFile(file);
    }
};

} // namespace

TEST_F(ArchiveInfoTest, DescriptionIsMadeFromTheApplicationAndWrittenAsABinaryList)
{
    FixedTimeZone zone("Asia/Kolkata");
    auto application = makeApplication("com.example.foo", {"group.b", "group.a"});
    const QDateTime moment(QDate(2024, 3, 1), QTime(9, 5, 7, 640), Qt::LocalTime);
    const ArchiveTaskInfo info = ArchiveTask::makeInfo(*application, moment);
    EXPECT_EQ(info.applicationName, "Foo");
    EXPECT_EQ(info.bundleIdentifier, "com.example.foo");
    EXPECT_EQ(info.minimumOSVersion, "16.0");
    EXPECT_EQ(info.executableVersion, "34");
    EXPECT_EQ(info.executableName, "FooExec");
    EXPECT_EQ(info.groupIdentifiers, QStringList({"group.b", "group.a"}));

    const QByteArray data = ArchiveTask::encodeInfo(info);
    EXPECT_TRUE(data.startsWith("bplist00"));
    const auto stored = PropertyList::parse(data)->toMap();
    EXPECT_EQ(stored.value("XCDownloadDate"), "2024-03-01 09:05.07");
    EXPECT_EQ(stored.value("XCExecutableVersion"), "34");
    EXPECT_EQ(stored.value("BNGroupIdentifiers").toStringList(),
              QStringList({"group.b", "group.a"}));

    // The text is local wall time, read back as the same moment.
    const ArchiveTaskInfo decoded = ArchiveTask::decodeInfo(data);
    EXPECT_EQ(decoded.downloadDate, moment.addMSecs(-640));
    ArchiveTaskInfo whole = info;
    whole.downloadDate = decoded.downloadDate;
    EXPECT_EQ(decoded, whole);
    EXPECT_EQ(decoded.downloadDate.toUTC().time(), QTime(3, 35, 7));

    // No groups are written as an empty list, never left out.
    const auto alone = makeApplication("com.example.foo");
    const auto bare = PropertyList::parse(ArchiveTask::encodeInfo(ArchiveTask::makeInfo(*alone)));
    ASSERT_TRUE(bare->toMap().contains("BNGroupIdentifiers"));
    EXPECT_TRUE(bare->toMap().value("BNGroupIdentifiers").toList().isEmpty());
}

TEST_F(ArchiveInfoTest, ReadsXmlAndToleratesUnknownAndMissingGroupKeys)
{
    Log::Capture log;
    QVariantMap dictionary = description();
    dictionary.insert("XCSomethingNewer", 7);
    auto info = ArchiveTask::readInfo(writeDescription(dictionary, false));
    ASSERT_TRUE(info);
    EXPECT_EQ(info->applicationName, "Foo");
    EXPECT_EQ(info->downloadDate, QDateTime(QDate(2024, 3, 1), QTime(9, 5, 7), Qt::LocalTime));
    EXPECT_EQ(info->groupIdentifiers, QStringList({"group.a"}));

    dictionary.remove("BNGroupIdentifiers");
    info = ArchiveTask::readInfo(writeDescription(dictionary));
    ASSERT_TRUE(info);
    EXPECT_TRUE(info->groupIdentifiers.isEmpty());
    EXPECT_TRUE(ArchiveTask::isValid(*info, *makeApplication("com.example.foo", {"group.z"})));
    EXPECT_EQ(log.count(kDecodeError), 0);
}

TEST_F(ArchiveInfoTest, BrokenDescriptionsAreUnreadableWithOneLogLineEach)
{
    const auto broken = [](const QString &key, const QVariant &value) {
        QVariantMap dictionary = description();
        if (value.isValid())
            dictionary[key] = value;
        else
            dictionary.remove(key);
        return dictionary;
    };
    const std::vector<QVariantMap> cases{
        broken("XCDownloadDate", "yesterday"),
        broken("XCDownloadDate", "2024-03-01 09:05:07"),
        broken("XCExecutableName", {}),
        broken("XCApplicationName", 42),
        broken("BNGroupIdentifiers", QVariantList{"group.a", 3}),
        broken("BNGroupIdentifiers", "group.a"),
    };
    for (const auto &dictionary : cases) {
        Log::Capture log;
        EXPECT_FALSE(ArchiveTask::readInfo(writeDescription(dictionary)));
        EXPECT_EQ(log.count(kDecodeError), 1)
            << dictionary.value("XCDownloadDate").toString().toStdString();
    }

    Log::Capture log;
    EXPECT_THROW(ArchiveTask::decodeInfo("<plist><array></array></plist>"), ArchiveInfoError);
    QFile::remove(path("Foo.xcappdata/AppDataInfo.plist"));
    ASSERT_TRUE(writeFile(path("Foo.xcappdata/AppDataInfo.plist"), "not a list"));
    EXPECT_FALSE(
        ArchiveTask::readInfo(QUrl::fromLocalFile(path("Foo.xcappdata/AppDataInfo.plist"))));
    EXPECT_EQ(log.count(kDecodeError), 1);

    // Nothing there: nothing read, nothing logged.
    log.clear();
    EXPECT_FALSE(
        ArchiveTask::readInfo(QUrl::fromLocalFile(path("Missing.xcappdata/AppDataInfo.plist"))));
    EXPECT_EQ(log.count(kDecodeError), 0);
}

TEST_F(ArchiveInfoTest, AnArchiveFitsTheSameApplicationWithEveryGroupItNames)
{
    ArchiveTaskInfo info = ArchiveTask::decodeInfo(PropertyList::toBinary(description()));
    EXPECT_FALSE(ArchiveTask::isValid(info, *makeApplication("com.example.other", {"group.a"})));
    EXPECT_FALSE(
        ArchiveTask::isValid(info, *makeApplication("com.example.foo", {"group.b", "group.c"})));
    EXPECT_TRUE(
        ArchiveTask::isValid(info, *makeApplication("com.example.foo", {"group.a", "group.b"})));
    EXPECT_FALSE(ArchiveTask::isValid(info, *makeApplication("com.example.foo")));

    // Every group counts, not any.
    info.groupIdentifiers = {"group.a", "group.z"};
    EXPECT_FALSE(
        ArchiveTask::isValid(info, *makeApplication("com.example.foo", {"group.a", "group.b"})));
    info.groupIdentifiers = {"group.a", "group.a"};
    EXPECT_TRUE(ArchiveTask::isValid(info, *makeApplication("com.example.foo", {"group.a"})));
    info.groupIdentifiers.clear();
    EXPECT_TRUE(ArchiveTask::isValid(info, *makeApplication("com.example.foo")));
    // Identifiers compare exactly.
    EXPECT_FALSE(ArchiveTask::isValid(info, *makeApplication("com.example.Foo")));
}

// A name read from a binary UTF-16 string may hold a NUL; the description
// was written through a C string and cut it there.
TEST_F(ArchiveInfoTest, NamesHoldingANulSurviveTheDescription)
{
    ArchiveTaskInfo info = ArchiveTask::decodeInfo(PropertyList::toBinary(description()));
    for (const QString &name : {QString::fromUtf8("Foo\0Bar", 7), QString::fromUtf8("日\0本", 7)}) {
        info.applicationName = name;
        info.groupIdentifiers = {name};
        EXPECT_EQ(ArchiveTask::decodeInfo(ArchiveTask::encodeInfo(info)), info);
    }
}
