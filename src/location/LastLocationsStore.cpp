#include "location/LastLocationsStore.h"

#include "core/LocationArrayJson.h"
#include "platform/files/AtomicFile.h"
#include "platform/Log.h"
#include "platform/files/PendingSaves.h"
#include "platform/files/RegularFile.h"
#include "platform/files/SystemPaths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cstring>

namespace corvane {

namespace {

bool writeRoute(const QString &path, const std::vector<Location> &locations)
{
    if (locations.empty()) {
        QFile::remove(path);
        return false;
    }
    const QString folder = QFileInfo(path).absolutePath();
    if (!QFileInfo::exists(folder))
        QDir().mkpath(folder);
    AtomicFile file(path);
    if (!file.open())
        return false;
    // A value that has no JSON form leaves the old file as it was.
    if (!writeLocationArray(locations,
                            [&](const QByteArray &piece) { return file.write(piece); })) {
        file.discard();
        return false;
    }
    return file.commit();
}

} // namespace

LastLocationsStore::LastLocationsStore(QString path)
    : m_path(std::move(path)),
      m_queue(DispatchQueue::makeSerial("com.quendrith.corvane.locations.save"))
{
}

LastLocationsStore::~LastLocationsStore() = default;

QString LastLocationsStore::standardPath()
{
    return SystemPaths::current().programSupportDir() + '/' + fileName;
}

std::optional<QByteArray> LastLocationsStore::encode(const std::vector<Location> &locations)
{
    QByteArray json;
    if (!writeLocationArray(locations, [&](const QByteArray &piece) {
            json += piece;
            return true;
        }))
        return std::nullopt;
    return json;
}

std::optional<std::vector<Location>> LastLocationsStore::decode(const QByteArray &json)
{
    qsizetype offset = 0;
    return readLocationArray([&](char *buffer, qint64 length) {
        const qint64 count = std::min<qint64>(length, json.size() - offset);
        std::memcpy(buffer, json.constData() + offset, size_t(count));
        offset += count;
        return count;
    });
}

std::optional<std::vector<Location>> LastLocationsStore::load() const
{
    RegularFile file(m_path);
    if (!file.isOpen()) {
        if (file.error() != RegularFile::Error::missing)
            Log::location().error("%{PUBLIC}@", file.errorDescription(m_path));
        return std::nullopt;
    }
    try {
        bool readFailed = false;
        auto locations = readLocationArray(
            [&](char *buffer, qint64 length) { return file.read(buffer, length); }, &readFailed);
        if (readFailed) {
            Log::location().error("%{PUBLIC}@", file.errorDescription(m_path));
            return std::nullopt;
        }
        if (!locations) {
            Log::location().error("%{PUBLIC}@ holds no route that can be read", m_path);
            return std::vector<Location>();
        }
        return locations;
    } catch (const std::bad_alloc &) {
        Log::location().error("%{PUBLIC}@ holds a route too large to load", m_path);
        return std::nullopt;
    }
}

bool LastLocationsStore::save(const std::vector<Location> &locations) const
{
    return writeRoute(m_path, locations);
}

void LastLocationsStore::saveLater(std::shared_ptr<const std::vector<Location>> locations)
{
    // The work needs nothing of the store, which may go first; quitting
    // waits for it.
    m_queue->async(
        [path = m_path, locations = std::move(locations), pending = PendingSaves::begin()] {
            bool saved = false;
            try {
                saved = writeRoute(path, *locations);
            } catch (const std::bad_alloc &) {
            }
            if (!saved && !locations->empty())
                Log::location().error("The route was not saved to %{PUBLIC}@", path);
        });
}

void LastLocationsStore::waitForSaves()
{
    m_queue->sync([] {});
}

} // namespace corvane
