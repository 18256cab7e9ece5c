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

// Replaces the file in one step (QSaveFile), so that a reader or a crash
// never sees it half-written. False when it was left as it was.
bool writeFileAtomically(const QString &path, const QByteArray &bytes);

} // namespace corvane
