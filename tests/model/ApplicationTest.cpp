#include "common/TestSupport.h"
#include "core/Observer.h"
#include "model/Application.h"
#include "model/Device.h"
#include "platform/Log.h"
#include "platform/formats/PropertyList.h"
#include "platform/files/SystemPaths.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <atomic>

using namespace corvane;
using namespace corvane::test;

namespace {

constexpr const char *kUdid = "0C6F1E2A-1111-4222-8333-444455556666";
constexpr const char *kOtherUdid = "0C6F1E2A-1111-4222-8333-444455556667";
constexpr const char *kInstall = "9D8C7B6A-5F4E-4D3C-8B2A-1F0E9D8C7B6A";
constexpr const char *kOtherInstall = "1A2B3C4D-5E6F-4A7B-8C9D-0E1F2A3B4C5D";

class ApplicationTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SystemPaths paths = SystemPaths::current();
        paths.home = m_home.path();
        paths.ps = m_home.path() + "/ps";
        SystemPaths::setCurrent(paths);
        // No simulator runs.
        ASSERT_TRUE(writeScript(paths.ps, "exit 0"));
    }
    void TearDown() override { SystemPaths::resetToEnvironment(); }

    DevicePtr device(const QString &udid = kUdid,
                     const Runtime &runtime = {Runtime::System::iOS, "17.2"})
    {
        auto device =
            Device::initFromListLine("iPhone 15 (" + udid + ") (Shutdown)", runtime, nullptr);
        m_devices.push_back(device);
        return device;
    }

    QString bundle(const QString &install = kInstall, const QString &name = "Foo.app")
    {
        return m_home.path() + "/apps/" + install + "/" + name;
    }

    QString writeBundle(const QVariantMap &info, const QString &install = kInstall,
                        const QString &name = "Foo.app", const QString &plist = "Info.plist")
    {
        const QString path = bundle(install, name);
        QDir().mkpath(path);
        EXPECT_TRUE(PropertyList::writeFile(path + "/" + plist, info));
        return path;
    }

    static QVariantMap info(const QString &identifier = "com.example.foo")
    {
        return {{"CFBundleIdentifier", identifier},
                {"CFBundleName", "Foo"},
                {"CFBundleShortVersionString", "1.2"},
                {"CFBundleVersion", "34"}};
    }

    ApplicationPtr make(const QString &path, const DevicePtr &device)
    {
        // Globbed bundles come with a trailing "/".
        return Application::make(QUrl::fromLocalFile(path + "/"), device, nullptr);
    }

    QTemporaryDir m_home;
    std::vector<DevicePtr> m_devices;
};

} // namespace

TEST_F(ApplicationTest, ReadsARealBinaryInfoDictionary)
{
    const QString path = bundle();
    QDir().mkpath(path);
    ASSERT_TRUE(QFile::copy(realWorldPath("plists/fastlane__simulator-app.app-Info.plist.bin"),
                            path + "/Info.plist"));
    const auto app = make(path, device());
    ASSERT_TRUE(app);
    EXPECT_EQ(app->identifier(), "org.fastlane.very-capable-app");
    EXPECT_EQ(app->title(), "very-capable-app");
    EXPECT_EQ(app->version(), "1.0");
    EXPECT_EQ(app->build(), "1");
    EXPECT_EQ(app->minimumOS(), "11.2");
    EXPECT_TRUE(app->schemes().isEmpty());
    EXPECT_EQ(app->executableType(), Application::ExecutableType::app);
    EXPECT_EQ(app->uuid(), QUuid::fromString(QString(kInstall)));
    EXPECT_EQ(app->url(), QUrl::fromLocalFile(path + "/"));
    EXPECT_EQ(app->osIcon(), "App Icon - iOS");
    EXPECT_EQ(app->infoDictionary().value("CFBundleIdentifier"), "org.fastlane.very-capable-app");
}

TEST_F(ApplicationTest, CreationNeedsAnInstallFolderAndATextIdentifier)
{
    const auto phone = device();
    EXPECT_FALSE(make(writeBundle(info(), "NOT-A-UUID"), phone));

    QVariantMap numeric = info();
    numeric["CFBundleIdentifier"] = 42;
    EXPECT_FALSE(make(writeBundle(numeric, kInstall, "Numeric.app"), phone));
    EXPECT_FALSE(make(writeBundle(info(""), kInstall, "Empty.app"), phone));

    QDir().mkpath(bundle(kInstall, "Bare.app"));
    ASSERT_TRUE(writeFile(bundle(kInstall, "Bare.app") + "/Broken.plist", "<plist><dict>"));
    EXPECT_FALSE(make(bundle(kInstall, "Bare.app"), phone));
    EXPECT_FALSE(make(bundle(kInstall, "Missing.app"), phone));

    // "A.plist" comes first in glob order but lacks the identifier.
    const QString both =
        writeBundle({{"CFBundleName", "Other"}}, kOtherInstall, "Both.app", "A.plist");
    writeBundle(info("com.example.both"), kOtherInstall, "Both.app");
    const auto app = make(both, phone);
    ASSERT_TRUE(app);
    EXPECT_EQ(app->identifier(), "com.example.both");
    EXPECT_EQ(app->title(), "Foo");
}

TEST_F(ApplicationTest, ChecksTheTypesOfOptionalKeys)
{
    QVariantMap dictionary = info();
    dictionary["NSAppClip"] = false;
    dictionary["CFBundleName"] = 7;
    dictionary["CFBundleVersion"] = 34;
    dictionary["CFBundleURLTypes"] =
        QVariantList{QVariantMap{{"CFBundleURLName", "x"}},
                     QVariantMap{{"CFBundleURLSchemes", QVariantList{"foo", "foo"}}},
                     QVariantMap{{"CFBundleURLSchemes", QVariantList{"bar", 3}}}};
    const auto app = make(writeBundle(dictionary, kInstall, "My App [Beta].app"),
                          device(kUdid, {Runtime::System::visionOS, "1.0"}));
    ASSERT_TRUE(app);
    EXPECT_EQ(app->executableType(), Application::ExecutableType::clip);
    EXPECT_EQ(app->title(), "My App [Beta].app");
    EXPECT_EQ(app->build(), "");
    EXPECT_EQ(app->version(), "1.2");
    EXPECT_EQ(app->schemes(), QStringList({"foo", "foo"}));
    EXPECT_EQ(app->osIcon(), "App Icon - watchOS");

    // A present empty display name wins over the name.
    QVariantMap empty = info("com.example.empty");
    empty["CFBundleDisplayName"] = "";
    empty["CFBundleURLTypes"] = QVariantList{QVariantMap{{"CFBundleURLSchemes", "foo"}}, 1};
    const auto blank = make(writeBundle(empty, kOtherInstall), device());
    ASSERT_TRUE(blank);
    EXPECT_EQ(blank->title(), "");
    EXPECT_TRUE(blank->schemes().isEmpty());
    EXPECT_EQ(blank->description(), " v1.2 (34) - iPhone 15 - 17.2");
}

TEST_F(ApplicationTest, TextsAreObservable)
{
    const auto app = make(writeBundle(info()), device());
    ASSERT_TRUE(app);
    QStringList seen;
    auto token =
        app->titleProperty().observe([&](const QString &, const QString &title) { seen << title; });
    auto buildToken = app->buildProperty().observe(
        [&](const QString &, const QString &build) { seen << "build " + build; });
    app->setTitle("Bar");
    QVariantMap changed = info();
    changed["CFBundleDisplayName"] = "Foo Pro";
    app->applyInfoDictionary(changed);
    app->applyInfoDictionary({{"CFBundleIdentifier", 1}});
    EXPECT_EQ(seen, QStringList({"Bar", "Foo Pro", "build 34"}));
    EXPECT_EQ(app->description(), "Foo Pro v1.2 (34) - iPhone 15 - 17.2");
}

TEST_F(ApplicationTest, CreatedFallsBackToNowOnlyWhenUnreadable)
{
    const auto before = QDateTime::currentDateTimeUtc().addSecs(-2);
    const QDateTime created =
        Application::creationDate(QUrl::fromLocalFile(writeBundle(info()) + "/"));
    EXPECT_GE(created, before);
    EXPECT_LE(created, QDateTime::currentDateTimeUtc());

    const QDateTime missing = Application::creationDate(QUrl::fromLocalFile("/nonexistent/x.app"));
    EXPECT_LE(qAbs(missing.secsTo(QDateTime::currentDateTimeUtc())), 2);
}

TEST_F(ApplicationTest, MoveRereadsTheBundleAndPostsOnce)
{
    const auto phone = device();
    const auto app = make(writeBundle(info()), phone);
    ASSERT_TRUE(app);
    app->setCachedGroupContainers(std::vector<std::shared_ptr<Container>>{});

    std::atomic<int> posts{0};
    auto observer = observeNotification<Application>(
        Application::applicationDidUpdate, app, nullptr,
        [&](const Notification &, const ApplicationPtr &) { ++posts; });

    Log::Capture log;
    // Not an install folder: nothing at all.
    app->updateURL(QUrl::fromLocalFile(writeBundle(info(), "elsewhere") + "/"));
    EXPECT_EQ(app->uuid(), QUuid::fromString(QString(kInstall)));
    EXPECT_FALSE(log.contains("Moved from URL"));

    // No Info dictionary at the new place: only the debug line.
    QDir().mkpath(bundle(kOtherInstall));
    app->updateURL(QUrl::fromLocalFile(bundle(kOtherInstall) + "/"));
    EXPECT_TRUE(log.contains("Moved from URL " + bundle() + " to " + bundle(kOtherInstall)));
    EXPECT_EQ(app->url(), QUrl::fromLocalFile(bundle() + "/"));
    EXPECT_EQ(posts, 0);

    QVariantMap updated = info();
    updated["CFBundleShortVersionString"] = "2.0";
    writeBundle(updated, kOtherInstall);
    const QUrl newUrl = QUrl::fromLocalFile(bundle(kOtherInstall) + "/");
    app->updateURL(newUrl);
    EXPECT_EQ(posts, 1);
    EXPECT_EQ(app->url(), newUrl);
    EXPECT_EQ(app->uuid(), QUuid::fromString(QString(kOtherInstall)));
    EXPECT_EQ(app->version(), "2.0");
    EXPECT_FALSE(app->cachedGroupContainers());
    EXPECT_FALSE(app->cachedDataContainer());
    EXPECT_EQ(app->executableType(), Application::ExecutableType::app);
}

TEST_F(ApplicationTest, IdentityIsBundleIdentifierAndDevice)
{
    const auto phone = device();
    const auto a = make(writeBundle(info()), phone);
    const auto b = make(writeBundle(info(), kOtherInstall), phone);
    const auto other = make(writeBundle(info(), kInstall, "Foo.app"), device(kOtherUdid));
    ASSERT_TRUE(a && b && other);
    EXPECT_TRUE(*a == *b);
    EXPECT_EQ(a->hash(), b->hash());
    EXPECT_EQ(std::hash<Application>()(*a), std::hash<Application>()(*b));
    EXPECT_FALSE(*a == *other);
    EXPECT_TRUE(a->isEqual(b));
    EXPECT_FALSE(a->isEqual(phone));
    EXPECT_FALSE(a->isEqual(nullptr));

    a->setTitle("App 10");
    b->setTitle("App 2");
    EXPECT_TRUE(*b < *a);
    EXPECT_TRUE(*a > *b);
    EXPECT_TRUE(*b <= *a);
    other->setTitle("app 2");
    EXPECT_FALSE(*b < *other);
    EXPECT_FALSE(*other < *b);
    EXPECT_TRUE(*b >= *other);

    // Without its device the description has three parts, and an application
    // whose device is gone equals only another such one.
    m_devices.clear();
    EXPECT_TRUE(test::waitUntil([&] { return !other->device(); }));
    EXPECT_EQ(other->description(), "app 2 v1.2 (34)");
    EXPECT_FALSE(*a == *other);
}
