#pragma once

#include "core/Location.h"
#include "core/LocationArrayJson.h"
#include "platform/queues/DispatchQueue.h"

#include <QByteArray>
#include <QString>

#include <memory>
#include <optional>
#include <vector>

namespace corvane {

// "LastLocations.json": the last route loaded into the playback engine, kept
// across runs in the JSON form of writeLocationArray, written and read a
// piece at a time.
class LastLocationsStore {
public:
    static constexpr const char *fileName = "LastLocations.json";

    explicit LastLocationsStore(QString path);
    ~LastLocationsStore();
    LastLocationsStore(const LastLocationsStore &) = delete;
    LastLocationsStore &operator=(const LastLocationsStore &) = delete;

    // In the program's folder under Application Support, as the paths in
    // force now name it.
    static QString standardPath();
    QString path() const { return m_path; }

    // Nothing when a value is not finite: JSON has no form for it.
    static std::optional<QByteArray> encode(const std::vector<Location> &locations);
    // Nothing when the text is no such array; one bad element spoils it all.
    static std::optional<std::vector<Location>> decode(const QByteArray &json);

    // Nothing when the file cannot be read (a missing one, one that is no
    // regular file, or a route too large for memory); an empty route when
    // it does not decode.
    std::optional<std::vector<Location>> load() const;
    // Writes at once: an empty route removes the file; a route that does not
    // encode leaves the file as it was. False when nothing was written.
    bool save(const std::vector<Location> &locations) const;

    // Saves on the store's own serial queue, one after another in call
    // order, so an older route never lands after a newer one.
    void saveLater(std::shared_ptr<const std::vector<Location>> locations);
    // Returns once every save asked for before has run.
    void waitForSaves();

private:
    const QString m_path;
    const DispatchQueuePtr m_queue;
};

} // namespace corvane
