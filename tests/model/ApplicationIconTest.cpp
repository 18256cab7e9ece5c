#include "common/TestSupport.h"
#include "core/ImageHelpers.h"
#include "fixtures/FixtureTree.h"
#include "fixtures/http/HostileReplies.h"
#include "model/Application.h"
#include "model/Device.h"
#include "platform/desktop/AssetCatalogReader.h"
#include "platform/Log.h"
#include "platform/formats/PropertyList.h"
#include "platform/files/SystemPaths.h"

#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImageReader>
#include <QPainterPath>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <mutex>

#include <atomic>
#include <ctime>
#include <map>
#include <thread>

#include <sys/stat.h>

using namespace corvane;
using namespace corvane::test;

namespace {

double threadSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

constexpr const char *kUdid = "0C6F1E2A-1111-4222-8333-444455556666";
constexpr const char *kInstall = "9D8C7B6A-5F4E-4D3C-8B2A-1F0E9D8C7B6A";
constexpr const char *kOtherInstall = "1A2B3C4D-5E6F-4A7B-8C9D-0E1F2A3B4C5D";

// A picture whose colour says which rendition it came from.
QImage picture(int width, const QColor &color)
{
    QImage image(width, width, QImage::Format_ARGB32_Premultiplied);
    image.fill(color);
    return image;
}

QColor colorFor(int width)
{
    return QColor::fromHsv((width * 7) % 360, 200, 220);
}

// Stands in for the platform's catalog reader and counts what it is asked.
struct FakeCatalog {
    std::vector<AssetCatalogReader::NamedImage> images;
    bool readable = true;
    std::atomic<int> opens{0};
    std::atomic<int> queries{0};
    // Reloads from several threads at once write these.
    std::mutex mutex;
    QString lastName;
    QUrl lastUrl;
};

class FakeReader : public AssetCatalogReader {
public:
    explicit FakeReader(std::shared_ptr<FakeCatalog> catalog) : m_catalog(std::move(catalog)) {}
    bool open(const QUrl &url) override
    {
        ++m_catalog->opens;
        std::lock_guard lock(m_catalog->mutex);
        m_catalog->lastUrl = url;
        return m_catalog->readable;
    }
    std::vector<NamedImage> imagesWithName(const QString &name) const override
    {
        ++m_catalog->queries;
        std::lock_guard lock(m_catalog->mutex);
        m_catalog->lastName = name;
        return m_catalog->images;
    }

private:
    std::shared_ptr<FakeCatalog> m_catalog;
};

class ApplicationIconTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SystemPaths paths = SystemPaths::current();
        paths.home = m_home.path();
        paths.ps = m_home.path() + "/ps";
        paths.temporaryDir = m_home.path() + "/tmp";
        QDir().mkpath(paths.temporaryDir);
        SystemPaths::setCurrent(paths);
        ASSERT_TRUE(writeScript(paths.ps, "exit 0"));
        AssetCatalogReader::setFactory(
            [catalog = m_catalog] { return std::make_unique<FakeReader>(catalog); });
    }
    void TearDown() override
    {
        AssetCatalogReader::setFactory({});
        SystemPaths::resetToEnvironment();
    }

    DevicePtr device(Runtime::System system = Runtime::System::iOS)
    {
        auto device = Device::initFromListLine(QString("Sim (%1) (Shutdown)").arg(kUdid),
                                               Runtime(system, "17.2"), nullptr);
        m_devices.push_back(device);
        return device;
    }

    QString bundle(const QString &install = kInstall)
    {
        return m_home.path() + "/apps/" + install + "/Foo.app";
    }

    // A bundle with the given icon keys and an "Assets.car" beside them.
    QString writeBundle(const QVariantMap &extra, const QString &install = kInstall)
    {
        QVariantMap info{{"CFBundleIdentifier", "com.example.foo"}, {"CFBundleName", "Foo"}};
        for (auto it = extra.begin(); it != extra.end(); ++it)
            info[it.key()] = it.value();
        const QString path = bundle(install);
        QDir().mkpath(path);
        EXPECT_TRUE(PropertyList::writeFile(path + "/Info.plist", info));
        EXPECT_TRUE(writeFile(path + "/Assets.car", "catalog"));
        return path;
    }

    static QVariantMap icons(const QVariantMap &primary, const QString &key = "CFBundleIcons")
    {
        return {{key, QVariantMap{{"CFBundlePrimaryIcon", primary}}}};
    }

    static QVariantMap catalogOnly() { return icons({{"CFBundleIconName", "AppIcon"}}); }

    void addRenditions(std::initializer_list<int> widths)
    {
        for (int width : widths)
            m_catalog->images.push_back({QSizeF(width, width), picture(width, colorFor(width))});
    }

    ApplicationPtr make(const QString &path, const DevicePtr &device)
    {
        return Application::make(QUrl::fromLocalFile(path + "/"), device, nullptr);
    }

    QStringList cacheFiles() const
    {
        return QDir(m_home.path() + "/tmp").entryList({"CV-ICO-*.png"}, QDir::Files);
    }

    QTemporaryDir m_home;
    std::vector<DevicePtr> m_devices;
    std::shared_ptr<FakeCatalog> m_catalog = std::make_shared<FakeCatalog>();
};

bool samePixels(const QImage &a, const QImage &b)
{
    return a.convertToFormat(QImage::Format_ARGB32_Premultiplied) ==
           b.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

} // namespace

TEST_F(ApplicationIconTest, TvAndVisionAppsKeepTheStandByIcon)
{
    addRenditions({60});
    const QString path = writeBundle(catalogOnly());
    const struct {
        Runtime::System system;
        const char *standBy;
    } cases[] = {{Runtime::System::tvOS, "App Icon - tvOS"},
                 {Runtime::System::visionOS, "App Icon - watchOS"}};
    for (const auto &c : cases) {
        const auto app = make(path, device(c.system));
        ASSERT_TRUE(app);
        EXPECT_FALSE(app->appIcon());
        EXPECT_EQ(app->osIcon(), c.standBy);
        const QImage standBy = app->osIconImage().largest();
        ASSERT_FALSE(standBy.isNull()) << c.standBy;
        EXPECT_TRUE(samePixels(app->icon(), standBy));
    }
    EXPECT_EQ(m_catalog->opens, 0);
}

TEST_F(ApplicationIconTest, StandByImagesRenderForEveryPlatform)
{
    for (const auto system : {Runtime::System::iOS, Runtime::System::watchOS, Runtime::System::tvOS,
                              Runtime::System::visionOS}) {
        const auto app = make(writeBundle({}), device(system));
        ASSERT_TRUE(app);
        EXPECT_FALSE(app->appIcon());
        const QImage icon = app->icon();
        ASSERT_FALSE(icon.isNull());
        // Drawn art, not an empty canvas.
        EXPECT_EQ(qAlpha(icon.pixel(icon.width() / 2, icon.height() / 2)), 255);
    }
}

TEST_F(ApplicationIconTest, IconDictionaryGates)
{
    addRenditions({60});
    // Only the iPad dictionary: it is used.
    auto app =
        make(writeBundle(icons({{"CFBundleIconName", "AppIcon"}}, "CFBundleIcons~ipad")), device());
    ASSERT_TRUE(app);
    ASSERT_TRUE(app->appIcon());
    EXPECT_EQ(m_catalog->lastName, "AppIcon");
    EXPECT_EQ(m_catalog->lastUrl, QUrl::fromLocalFile(bundle() + "/Assets.car"));

    // "CFBundleIcons" wins even without a primary icon; the catalog is not asked.
    m_catalog->opens = 0;
    QVariantMap both = icons({{"CFBundleIconName", "AppIcon"}}, "CFBundleIcons~ipad");
    both["CFBundleIcons"] = QVariantMap{{"CFBundleAlternateIcons", QVariantMap{}}};
    app = make(writeBundle(both, kOtherInstall), device());
    ASSERT_TRUE(app);
    EXPECT_FALSE(app->appIcon());
    EXPECT_EQ(m_catalog->opens, 0);

    // Icons of the wrong shape.
    app = make(writeBundle({{"CFBundleIcons", "AppIcon"}}, kOtherInstall), device());
    EXPECT_FALSE(app->appIcon());
    app = make(writeBundle({{"CFBundleIcons", QVariantMap{{"CFBundlePrimaryIcon", "AppIcon"}}}},
                           kOtherInstall),
               device());
    EXPECT_FALSE(app->appIcon());
    EXPECT_EQ(m_catalog->opens, 0);
}

TEST_F(ApplicationIconTest, LooseFilesOutsideTheWidthsGiveNoIconAndSkipTheCatalog)
{
    addRenditions({60});
    const QString path = writeBundle(icons(
        {{"CFBundleIconFiles", QStringList{"AppIcon60x60"}}, {"CFBundleIconName", "AppIcon"}}));
    ASSERT_TRUE(picture(1024, Qt::red).save(path + "/AppIcon60x60@2x.png"));
    ASSERT_TRUE(picture(1024, Qt::red).save(path + "/AppIcon60x60@3x.png"));
    ASSERT_TRUE(picture(5, Qt::red).save(path + "/AppIcon60x60~tiny.png"));
    const auto app = make(path, device());
    ASSERT_TRUE(app);
    EXPECT_FALSE(app->appIcon());
    EXPECT_EQ(m_catalog->opens, 0);
    EXPECT_EQ(app->osIcon(), "App Icon - iOS");
}

TEST_F(ApplicationIconTest, LooseFilesKeepTheFirstMatchAsTheirFile)
{
    // Names with glob characters match only themselves.
    const QString path =
        writeBundle(icons({{"CFBundleIconFiles", QStringList{"Icon[1]", "Small", "Missing"}}}));
    ASSERT_TRUE(picture(1024, Qt::red).save(path + "/Icon[1]@2x.png"));
    ASSERT_TRUE(picture(40, Qt::blue).save(path + "/Small.png"));
    ASSERT_TRUE(picture(80, Qt::green).save(path + "/Small@2x.png"));
    ASSERT_TRUE(picture(30, Qt::black).save(path + "/Icon1.png"));
    const auto app = make(path, device());
    ASSERT_TRUE(app);
    const auto icon = app->appIcon();
    ASSERT_TRUE(icon);
    // The oversized first file is not added, yet it names the icon.
    EXPECT_EQ(icon->url, QUrl::fromLocalFile(path + "/Icon[1]@2x.png"));
    ASSERT_EQ(icon->image.representations().size(), 2);
    EXPECT_EQ(icon->image.representations()[0].width(), 40);
    EXPECT_EQ(icon->image.representations()[1].width(), 80);
    EXPECT_EQ(app->icon().width(), 80);
}

// An empty icon name matched every file of the bundle (the icon's file was
// then Info.plist), and "../../x" or "/etc/x" reached outside the bundle. Such
// names are no names: the catalog decides.
TEST_F(ApplicationIconTest, IconNamesNeverReachBeyondTheirOwnFiles)
{
    addRenditions({40});
    const QString outside = m_home.path() + "/outside";
    ASSERT_TRUE(picture(40, Qt::red).save(outside + ".png"));
    for (const QString &name :
         {QString(), QString("../../../outside"), outside, QString("sub/../../../outside")}) {
        const QString path = writeBundle(
            icons({{"CFBundleIconFiles", QStringList{name}}, {"CFBundleIconName", "AppIcon"}}));
        ASSERT_TRUE(picture(40, Qt::green).save(path + "/Other.png"));
        const auto app = make(path, device());
        ASSERT_TRUE(app);
        const auto icon = app->appIcon();
        ASSERT_TRUE(icon) << name.toStdString();
        EXPECT_TRUE(icon->url.toLocalFile().contains(Application::iconCachePrefix))
            << name.toStdString() << " " << icon->url.toLocalFile().toStdString();
    }
}

TEST_F(ApplicationIconTest, TheDemosGeneratedIconLoads)
{
    fixture::AppSpec spec;
    spec.identifier = "com.example.driftwood";
    spec.name = "Driftwood";
    spec.icons = true;
    const QString folder = m_home.path() + "/apps/" + kInstall;
    QDir().mkpath(folder);
    const QString path = fixture::FixtureTree().makeAppBundle(folder, spec);
    const auto app = make(path, device(Runtime::System::watchOS));
    ASSERT_TRUE(app);
    const auto icon = app->appIcon();
    ASSERT_TRUE(icon);
    EXPECT_EQ(icon->url, QUrl::fromLocalFile(path + "/AppIcon60x60@2x.png"));
    EXPECT_EQ(icon->image.representations().first().width(), 120);
    EXPECT_TRUE(
        samePixels(icon->image.representations().first(), QImage(path + "/AppIcon60x60@2x.png")));
    EXPECT_EQ(m_catalog->opens, 0);
}

TEST_F(ApplicationIconTest, CatalogRenditionsAndTheCacheFile)
{
    m_catalog->images.push_back({QSizeF(10, 10), std::nullopt});
    addRenditions({60, 1024, 20, 40, 29});
    const auto app = make(writeBundle(catalogOnly()), device());
    ASSERT_TRUE(app);
    const auto icon = app->appIcon();
    ASSERT_TRUE(icon);
    ASSERT_EQ(cacheFiles().size(), 1);
    const QString cache = m_home.path() + "/tmp/" + cacheFiles().first();
    EXPECT_EQ(icon->url, QUrl::fromLocalFile(cache));
    EXPECT_TRUE(cacheFiles().first().contains(QRegularExpression(
        "^CV-ICO-[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\\.png$")));
    // The narrowest rendition with a bitmap is what the cache holds.
    const QImage cached(cache);
    EXPECT_EQ(cached.width(), 20);
    EXPECT_EQ(cached.pixel(10, 10), colorFor(20).rgba());
    EXPECT_TRUE(samePixels(icon->image.largest(), cached));
}

TEST_F(ApplicationIconTest, ASingleOversizedRenditionIsStillTaken)
{
    addRenditions({1024});
    const auto app = make(writeBundle(catalogOnly()), device());
    ASSERT_TRUE(app);
    ASSERT_TRUE(app->appIcon());
    ASSERT_EQ(cacheFiles().size(), 1);
    EXPECT_EQ(QImageReader(m_home.path() + "/tmp/" + cacheFiles().first()).size(),
              QSize(1024, 1024));
}

TEST_F(ApplicationIconTest, CatalogFailuresGiveNoIcon)
{
    addRenditions({60});
    // No loose match, then the catalog.
    QVariantMap withFiles = icons({{"CFBundleIconFiles", QStringList{"Nothing"}}});
    auto app = make(writeBundle(withFiles), device());
    ASSERT_TRUE(app);
    EXPECT_FALSE(app->appIcon()); // no "CFBundleIconName"
    EXPECT_EQ(m_catalog->opens, 0);

    m_catalog->readable = false;
    app = make(writeBundle(catalogOnly()), device());
    EXPECT_FALSE(app->appIcon());
    EXPECT_EQ(m_catalog->queries, 0);

    m_catalog->readable = true;
    m_catalog->images = {{QSizeF(60, 60), std::nullopt}};
    app->loadIcons();
    EXPECT_FALSE(app->appIcon());
    EXPECT_TRUE(cacheFiles().isEmpty());

    // A platform without a reader.
    addRenditions({60});
    AssetCatalogReader::setFactory({});
    app->loadIcons();
    EXPECT_FALSE(app->appIcon());
    EXPECT_TRUE(cacheFiles().isEmpty());
}

TEST_F(ApplicationIconTest, APurgedCacheFileIsLookedUpAgain)
{
    addRenditions({40, 80});
    const auto phone = device();
    const auto app = make(writeBundle(catalogOnly()), phone);
    ASSERT_TRUE(app);
    const auto first = app->appIcon();
    ASSERT_TRUE(first);
    ASSERT_TRUE(QFile::remove(first->url.toLocalFile()));

    const QImage reloaded = app->icon();
    const auto second = app->appIcon();
    ASSERT_TRUE(second);
    EXPECT_NE(second->url, first->url);
    EXPECT_TRUE(QFile::exists(second->url.toLocalFile()));
    EXPECT_TRUE(samePixels(reloaded, first->image.largest()));
    EXPECT_EQ(m_catalog->opens, 2);

    // The catalog now gives nothing: the stand-by icon, with the info line.
    ASSERT_TRUE(QFile::remove(second->url.toLocalFile()));
    m_catalog->images.clear();
    Log::Capture log;
    EXPECT_TRUE(samePixels(app->icon(), app->osIconImage().largest()));
    EXPECT_FALSE(app->appIcon());
    ASSERT_EQ(log.count("Old app icon has been purged, unable to reload"), 1);
    EXPECT_EQ(log.entries().back().category, "toolset");
    EXPECT_EQ(log.entries().back().level, LogLevel::Info);
}

TEST_F(ApplicationIconTest, APurgedCacheFileOfAGoneDeviceKeepsTheImageInMemory)
{
    addRenditions({40});
    auto phone = device();
    const auto app = make(writeBundle(catalogOnly()), phone);
    ASSERT_TRUE(app);
    const auto first = app->appIcon();
    ASSERT_TRUE(first);
    m_devices.clear();
    phone.reset();
    // Work on the device's folder (a scan, a monitor delivery) may hold it a
    // moment longer.
    ASSERT_TRUE(test::waitUntil([&] { return !app->device(); }));
    ASSERT_TRUE(QFile::remove(first->url.toLocalFile()));

    Log::Capture log;
    EXPECT_TRUE(samePixels(app->icon(), first->image.largest()));
    EXPECT_EQ(app->appIcon()->url, first->url);
    EXPECT_TRUE(cacheFiles().isEmpty());
    EXPECT_FALSE(log.contains("Old app icon"));
    // Without the device the picture comes unmasked.
    const auto display = app->displayIcon(QSizeF(32, 32));
    ASSERT_TRUE(display);
    EXPECT_EQ(qAlpha(display->pixel(0, 0)), 255);

    // A loose file whose bundle has gone is shown from memory as well.
    const QString path = writeBundle(icons({{"CFBundleIconFiles", QStringList{"Icon"}}}));
    ASSERT_TRUE(picture(60, Qt::blue).save(path + "/Icon.png"));
    const auto loose = make(path, device());
    ASSERT_TRUE(loose);
    ASSERT_TRUE(QDir(path).removeRecursively());
    EXPECT_EQ(loose->icon().pixelColor(1, 1), QColor(Qt::blue));
}

TEST_F(ApplicationIconTest, DisplayIconMasksByPlatform)
{
    const QString path = writeBundle(icons({{"CFBundleIconFiles", QStringList{"Icon"}}}));
    ASSERT_TRUE(picture(120, Qt::blue).save(path + "/Icon@2x.png"));
    ASSERT_TRUE(picture(180, Qt::blue).save(path + "/Icon@3x.png"));
    const QSizeF size(32, 32);

    auto expected = [&](const QImage &thumbnail, qreal radius) {
        QPainterPath shape;
        shape.addRoundedRect(QRectF(0, 0, 32, 32), radius, radius);
        return *ImageHelpers::clipped(thumbnail, shape);
    };

    const auto phone = make(path, device(Runtime::System::iOS));
    const auto phoneIcon = phone->displayIcon(size);
    ASSERT_TRUE(phoneIcon);
    EXPECT_EQ(phoneIcon->size(), QSize(64, 64));
    EXPECT_EQ(phoneIcon->deviceIndependentSize(), size);
    EXPECT_EQ(qAlpha(phoneIcon->pixel(0, 0)), 0);
    EXPECT_EQ(qAlpha(phoneIcon->pixel(32, 32)), 255);
    // Beside a corner the iOS shape is filled where a circle is not.
    EXPECT_EQ(qAlpha(phoneIcon->pixel(2, 14)), 255);
    const QImage thumbnail = *ImageHelpers::thumbnail(phone->icon(), size);
    EXPECT_TRUE(samePixels(*phoneIcon, expected(thumbnail, 0.22 * 32)));

    const auto watch = make(path, device(Runtime::System::watchOS));
    const auto watchIcon = watch->displayIcon(size);
    ASSERT_TRUE(watchIcon);
    EXPECT_EQ(qAlpha(watchIcon->pixel(0, 0)), 0);
    EXPECT_EQ(qAlpha(watchIcon->pixel(32, 32)), 255);
    EXPECT_EQ(qAlpha(watchIcon->pixel(2, 14)), 0);
    EXPECT_TRUE(samePixels(*watchIcon, expected(thumbnail, 16)));

    // tvOS shows its stand-by art, unmasked: its edge stays filled.
    const auto tv = make(path, device(Runtime::System::tvOS));
    const auto tvIcon = tv->displayIcon(size);
    ASSERT_TRUE(tvIcon);
    EXPECT_EQ(tvIcon->size(), QSize(64, 64));
    EXPECT_EQ(qAlpha(tvIcon->pixel(0, 32)), 255);
    EXPECT_TRUE(samePixels(*tvIcon, *ImageHelpers::thumbnail(tv->osIconImage().bestFor(64), size)));

    // An App Clip gets the framed backdrop.
    QDir().rename(path + "/Info.plist", path + "/Old.plist");
    QVariantMap clipInfo = *PropertyList::readDictionary(path + "/Old.plist");
    QFile::remove(path + "/Old.plist");
    clipInfo["NSAppClip"] = QVariantMap{};
    ASSERT_TRUE(PropertyList::writeFile(path + "/Info.plist", clipInfo));
    const auto clip = make(path, device(Runtime::System::iOS));
    ASSERT_EQ(clip->executableType(), Application::ExecutableType::clip);
    const auto clipIcon = clip->displayIcon(size);
    ASSERT_TRUE(clipIcon);
    EXPECT_TRUE(samePixels(*clipIcon, *ImageHelpers::roundedRectBlurred(thumbnail, 0.22 * 32)));
}

TEST_F(ApplicationIconTest, AMoveReadsTheIconAgain)
{
    const QString path = writeBundle(icons({{"CFBundleIconFiles", QStringList{"Icon"}}}));
    ASSERT_TRUE(picture(60, Qt::blue).save(path + "/Icon.png"));
    const auto app = make(path, device());
    ASSERT_TRUE(app);
    ASSERT_TRUE(app->appIcon());

    const QString moved = writeBundle({}, kOtherInstall);
    ASSERT_TRUE(app->updateURL(QUrl::fromLocalFile(moved + "/")));
    EXPECT_FALSE(app->appIcon());
}

TEST_F(ApplicationIconTest, ConcurrentReloadsNeverTear)
{
    addRenditions({40});
    const auto app = make(writeBundle(catalogOnly()), device());
    ASSERT_TRUE(app);
    std::atomic<bool> done{false};
    std::thread reader([&] {
        while (!done) {
            const auto icon = app->appIcon();
            if (icon)
                EXPECT_EQ(icon->image.representations().size(), 1);
        }
    });
    std::thread writer([&] {
        for (int i = 0; i < 20; ++i)
            app->loadIcons();
    });
    for (int i = 0; i < 20; ++i) {
        ASSERT_TRUE(app->displayIcon(QSizeF(16, 16)));
        app->loadIcons();
    }
    writer.join();
    done = true;
    reader.join();
    EXPECT_TRUE(app->appIcon());
}

// Icons come from bundles anyone may build: only a PNG or a JPEG is read, only
// from a regular file, and only when decoding it stays within bounds; any
// other file leaves the stand-by icon, at once. Its 400 texts were inflated
// twice, to size a PNG and to read it: seconds, where the icons of an
// ordinary bundle take milliseconds.
TEST_F(ApplicationIconTest, LooseIconFilesAreReadOnlyWithinBounds)
{
    const auto encoded = [](const char *format, const QImage &image = picture(60, Qt::blue)) {
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        EXPECT_TRUE(image.save(&buffer, format));
        return bytes;
    };
    // Blue, and noise in red and green.
    QImage large(512, 512, QImage::Format_RGB32);
    QRandomGenerator noise(1);
    for (int i = 0; i < 512 * 512; ++i)
        large.setPixel(i % 512, i / 512, noise.generate() | 0xFF);
    const struct {
        const char *name;
        QByteArray bytes;
        bool shown;
    } cases[] = {
        {"PNG", encoded("png"), true},
        {"JPEG", encoded("jpeg"), true},
        {"PNG of 512 × 512", encoded("png", large), true},
        {"PNG of 400 texts", fixture::pngWithTexts(400, 8 << 20), false},
        // Four megabytes that inflate to four gigabytes, seconds of work.
        {"PNG inflating past its rows", fixture::pngOf(60, 60, false, qint64(4) << 30), false},
        {"BMP", encoded("bmp"), false},
        {"named pipe", {}, false},
    };
    std::map<std::string, double> seconds;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = writeBundle(icons({{"CFBundleIconFiles", QStringList{"Icon"}}}),
                                         QUuid::createUuid().toString(QUuid::WithoutBraces));
        const QString file = path + "/Icon@2x.png";
        if (c.bytes.isEmpty())
            ASSERT_EQ(mkfifo(QFile::encodeName(file).constData(), 0600), 0);
        else
            ASSERT_TRUE(writeFile(file, c.bytes));
        // Processor time, which a busy machine only adds to; the wall clock
        // only catches a stall.
        QElapsedTimer clock;
        clock.start();
        const double before = threadSeconds();
        const auto app = make(path, device());
        ASSERT_TRUE(app);
        EXPECT_LT(threadSeconds() - before, 1.0);
        EXPECT_LT(clock.elapsed(), 60000);
        EXPECT_EQ(app->appIcon().has_value(), c.shown);
        if (c.shown)
            EXPECT_GT(qBlue(app->icon().pixel(30, 30)), 240);
        else
            EXPECT_TRUE(samePixels(app->icon(), app->osIconImage().largest()));
        const double loading = threadSeconds();
        app->loadIcons();
        seconds[c.name] = threadSeconds() - loading;
    }
    // Reading the 3 MB file and walking its chunks costs about what decoding
    // the small icon does; inflating its texts would cost a hundred times more.
    EXPECT_LT(seconds["PNG of 400 texts"], 4 * seconds["PNG of 512 × 512"]);
}
