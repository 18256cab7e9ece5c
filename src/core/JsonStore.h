#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QString>

#include <optional>
#include <vector>

namespace corvane {

// Helpers of the program's JSON stores (the preset files). Reading is
// lenient per key: a value that is missing, null or of the wrong type gives
// nothing, and the caller keeps its default. Writing is compact with the keys
// in the order given, as the stores have always written them.

std::optional<QString> jsonString(const QJsonObject &object, const char *key);
// Only whole numbers that fit 64 bits.
std::optional<qint64> jsonInteger(const QJsonObject &object, const char *key);
std::optional<double> jsonNumber(const QJsonObject &object, const char *key);

// The compact text of one value ("\"a\\\"b\"", "37.5").
QByteArray jsonLiteral(const QJsonValue &value);
// "key":value
QByteArray jsonMember(const char *key, const QJsonValue &value);
// {member,member,...}
QByteArray jsonObjectText(const QList<QByteArray> &members);

// Each element through `decode`, which gives a null pointer for an element
// it refuses. Nothing when the text is no JSON array. Without `skipped`, one
// refused element fails the whole list; with it, refused elements are left
// out and counted there.
template <class Pointer, class Decode>
std::optional<std::vector<Pointer>> decodeJsonArray(const QByteArray &json, Decode decode,
                                                    int *skipped = nullptr)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !document.isArray())
        return std::nullopt;
    if (skipped)
        *skipped = 0;
    std::vector<Pointer> elements;
    for (const QJsonValue &element : document.array()) {
        Pointer decoded = decode(element);
        if (!decoded) {
            if (!skipped)
                return std::nullopt;
            ++*skipped;
            continue;
        }
        elements.push_back(std::move(decoded));
    }
    return elements;
}

// [encode(a),encode(b),...]
template <class Element, class Encode>
QByteArray encodeJsonArray(const std::vector<Element> &elements, Encode encode)
{
    QByteArray json = "[";
    for (size_t i = 0; i < elements.size(); ++i) {
        if (i > 0)
            json += ',';
        json += encode(elements[i]);
    }
    return json + ']';
}

// Replaces the file whole or not at all (AtomicFile), so that a reader, a
// crash or a full disk never leaves it half-written. False, logged, when it
// was left as it was.
bool writeFileAtomically(const QString &path, const QByteArray &bytes);

// A store file larger than this is refused: no list of presets comes near.
constexpr qint64 storeFileMaxBytes = 64 * 1024 * 1024;

// The bytes of a store file (a regular file within storeFileMaxBytes).
// Nothing when there is no file or it could not be read; the latter is
// logged and sets `unreadable`.
std::optional<QByteArray> readStoreFile(const QString &path, bool &unreadable);

// Logs a store file that holds no list (`skipped` < 0) or whose list had
// that many elements left out.
void logUnreadStore(const QString &path, int skipped);

// A store's list, read element by element: what cannot be read is left
// out. `notReadWhole` is set, with a log line, when the file could not be
// read, was no list or had elements left out; the store then sets the file
// aside before it first writes over it.
template <class Pointer, class Decode>
std::vector<Pointer> loadJsonStore(const QString &path, Decode decode, bool &notReadWhole)
{
    notReadWhole = false;
    const std::optional<QByteArray> bytes = readStoreFile(path, notReadWhole);
    if (!bytes)
        return {};
    int skipped = 0;
    auto elements = decodeJsonArray<Pointer>(*bytes, decode, &skipped);
    notReadWhole = !elements || skipped > 0;
    if (notReadWhole)
        logUnreadStore(path, elements ? skipped : -1);
    return elements ? std::move(*elements) : std::vector<Pointer>();
}

// Before a store writes over a file it did not read whole (`notReadWhole`),
// renames it "<name>.unreadable-<yyyyMMdd-HHmmss>" beside itself, so that
// nothing in it is lost to the save, and clears the flag. True when the
// store may write: no such file is left in the way.
bool setAsideUnreadFile(const QString &path, bool &notReadWhole);

} // namespace corvane
