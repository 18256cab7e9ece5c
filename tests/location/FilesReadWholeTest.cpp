#include "core/JsonStore.h"
#include "csv/location/CSVParser.h"
#include "location/GPXParser.h"
#include "location/LastLocationsStore.h"
#include "location/LocationPresetRepository.h"
#include "model/StatusBarPresetRepository.h"
#include "platform/Log.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QUrl>
#include <gtest/gtest.h>

#include <functional>
#include <sys/stat.h>

using namespace corvane;

namespace {

bool failsToOpen(const std::function<void()> &open)
{
    try {
        open();
    } catch (const GPXParser::Error &error) {
        return error.code() == GPXParser::ParserError::resourceNotFoundError;
    } catch (const CSVError &error) {
        return error.code() == CSVError::Code::cannotOpenFile;
    }
    return false;
}

} // namespace

// A named pipe or a device where a store or a route file belongs is an error
// at once (a blocking open or an endless read would hang), and a store file
// past its bound is refused with a log line; route files have no such bound.
TEST(FilesReadWhole, PipesDevicesAndHugeStoresAreRefusedAtOnce)
{
    QTemporaryDir dir;
    struct Kind {
        const char *name;
        std::function<bool(const QString &)> make;
        const char *logged;
        bool storesOnly;
    };
    const Kind kinds[] = {
        {"pipe", [](const QString &path) { return ::mkfifo(QFile::encodeName(path), 0600) == 0; },
         "could not be opened: it is no regular file.", false},
        {"device", [](const QString &path) { return QFile::link("/dev/zero", path); },
         "could not be opened: it is no regular file.", false},
        {"huge",
         [](const QString &path) {
             QFile file(path);
             return file.open(QIODevice::WriteOnly) && file.resize(storeFileMaxBytes + 1);
         },
         "is larger than 64 MiB and was not read.", true}};
    // The last locations are a route too: not capped, but logged.
    struct Reader {
        const char *fileName;
        std::function<bool(const QString &)> refuses;
        bool capped;
        bool logs;
    };
    const Reader readers[] = {
        {"LocationPresets.json",
         [](const QString &path) {
             return LocationPresetRepository::make(path)->presets().empty();
         },
         true, true},
        {"StatusBarPresets.json",
         [](const QString &path) {
             return StatusBarPresetRepository::make(path)->presets().empty();
         },
         true, true},
        {"LastLocations.json", [](const QString &path) { return !LastLocationsStore(path).load(); },
         false, true},
        {"route.gpx",
         [](const QString &path) {
             return failsToOpen([&] { GPXParser parser{QUrl::fromLocalFile(path)}; });
         },
         false, false},
        {"route.csv",
         [](const QString &path) {
             return failsToOpen([&] { CSVParser parser{QUrl::fromLocalFile(path)}; });
         },
         false, false}};
    for (const Kind &kind : kinds) {
        ASSERT_TRUE(QDir(dir.path()).mkdir(kind.name));
        for (const Reader &reader : readers) {
            if (kind.storesOnly && !reader.capped)
                continue;
            SCOPED_TRACE(std::string(kind.name) + " " + reader.fileName);
            const QString path = dir.filePath(QString(kind.name) + '/' + reader.fileName);
            ASSERT_TRUE(kind.make(path));
            Log::Capture capture;
            EXPECT_TRUE(reader.refuses(path));
            if (reader.logs)
                EXPECT_TRUE(capture.contains(path + ' ' + kind.logged));
        }
    }
}
