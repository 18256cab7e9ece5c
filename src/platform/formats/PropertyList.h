#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>

#include <optional>

namespace corvane::PropertyList {

// An object reference of a keyed archive, written as the property list's UID
// type. Parsing reads UIDs back as plain integers.
struct Uid {
    quint64 value = 0;
    bool operator==(const Uid &) const = default;
};

// Containers nest at most this deep in anything read or written; the root
// container is the first level.
constexpr int maxNesting = 512;

// Parses XML or binary property-list bytes. Dictionaries become QVariantMap,
// arrays QVariantList, integers qint64 (quint64 above its range), reals
// double, dates QDateTime (UTC), data QByteArray. Bytes that are no property
// list give nothing.
std::optional<QVariant> parse(const QByteArray &bytes);
// Bundle, device and settings files are small; a larger file, or anything
// but a regular file, is not read.
constexpr qint64 maxFileBytes = 16 * 1024 * 1024;
std::optional<QVariant> readFile(const QString &path);
// The dictionary at the root, or nothing.
std::optional<QVariantMap> readDictionary(const QString &path);

// Written: the types parse gives, any C++ integer type, float, QStringList
// and Uid. Empty for any other value, an invalid date, a date more than
// about three million years from 2001, or in XML a text it cannot hold:
// what is written always reads back.
QByteArray toXml(const QVariant &value);
QByteArray toBinary(const QVariant &value);

// Written whole or not at all (AtomicFile); false when the file was left as
// it was.
bool writeFile(const QString &path, const QVariant &value, bool binary = false);

} // namespace corvane::PropertyList

Q_DECLARE_METATYPE(corvane::PropertyList::Uid)
