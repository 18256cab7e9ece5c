#include "platform/PropertyList.h"

#include <QDateTime>
#include <QFile>
#include <QSaveFile>
#include <QTimeZone>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <plist/plist.h>

namespace corvane::PropertyList {

namespace {

struct PlistDeleter {
    void operator()(void *node) const { plist_free(plist_t(node)); }
};
using PlistPtr = std::unique_ptr<void, PlistDeleter>;

struct FreeDeleter {
    void operator()(void *memory) const { std::free(memory); }
};
template <class T> using Malloced = std::unique_ptr<T, FreeDeleter>;

// Seconds between 1970 and the property-list epoch, 2001-01-01.
constexpr qint64 kReferenceOffset = 978307200;

constexpr int kMaxDepth = 512;

// The text of a dictionary key, or nothing when it cannot be read safely.
// The library offers no length-aware reader for keys, and its copying one
// asserts that the key holds no NUL (a UTF-16 key of a binary file can).
// Its XML writer emits a key's full stored length, so a NUL shows there; a
// key without one is what the copying reader expects. Input without a NUL
// byte (most XML) cannot make such a key, and skips the check.
std::optional<QString> keyText(plist_t keyNode, bool inputHoldsNul)
{
    if (!keyNode || plist_get_node_type(keyNode) != PLIST_KEY)
        return std::nullopt;
    if (inputHoldsNul) {
        char *xml = nullptr;
        uint32_t xmlLength = 0;
        plist_to_xml(keyNode, &xml, &xmlLength);
        const Malloced<char> ownedXml(xml);
        if (!xml || std::memchr(xml, 0, xmlLength))
            return std::nullopt;
    }
    char *key = nullptr;
    plist_get_key_val(keyNode, &key);
    const Malloced<char> ownedKey(key);
    if (!key)
        return std::nullopt;
    return QString::fromUtf8(key);
}

std::optional<QVariant> toVariant(plist_t node, int depth, bool inputHoldsNul)
{
    if (!node || depth > kMaxDepth)
        return std::nullopt;
    switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
        uint8_t value = 0;
        plist_get_bool_val(node, &value);
        return QVariant(value != 0);
    }
    case PLIST_UINT: {
        // libplist 2.2 keeps every integer unsigned; negative values come back
        // as their two's complement.
        uint64_t value = 0;
        plist_get_uint_val(node, &value);
        return QVariant(qint64(value));
    }
    case PLIST_REAL: {
        double value = 0;
        plist_get_real_val(node, &value);
        return QVariant(value);
    }
    case PLIST_STRING: {
        // By pointer and length: the copying accessor asserts that the text
        // holds no NUL, which a file can make false.
        uint64_t length = 0;
        const char *raw = plist_get_string_ptr(node, &length);
        if (!raw || length > uint64_t(std::numeric_limits<qsizetype>::max()))
            return std::nullopt;
        return QVariant(QString::fromUtf8(raw, qsizetype(length)));
    }
    case PLIST_DATA: {
        uint64_t length = 0;
        const char *raw = plist_get_data_ptr(node, &length);
        if (!raw || length > uint64_t(std::numeric_limits<qsizetype>::max()))
            return QVariant(QByteArray());
        return QVariant(QByteArray(raw, qsizetype(length)));
    }
    case PLIST_DATE: {
        int32_t seconds = 0;
        int32_t micros = 0;
        plist_get_date_val(node, &seconds, &micros);
        // Binary dates are doubles: ".033" arrives as 32999 µs.
        const qint64 ms = (kReferenceOffset + seconds) * 1000 + std::llround(micros / 1000.0);
        return QVariant(QDateTime::fromMSecsSinceEpoch(ms, QTimeZone::utc()));
    }
    case PLIST_ARRAY: {
        QVariantList list;
        const uint32_t size = plist_array_get_size(node);
        for (uint32_t i = 0; i < size; ++i) {
            auto item = toVariant(plist_array_get_item(node, i), depth + 1, inputHoldsNul);
            if (!item)
                return std::nullopt;
            list.append(*item);
        }
        return QVariant(list);
    }
    case PLIST_DICT: {
        QVariantMap map;
        plist_dict_iter iter = nullptr;
        plist_dict_new_iter(node, &iter);
        Malloced<void> ownedIter(iter);
        for (;;) {
            plist_t value = nullptr;
            plist_dict_next_item(node, iter, nullptr, &value);
            if (!value)
                break;
            const auto key = keyText(plist_dict_item_get_key(value), inputHoldsNul);
            if (!key)
                return std::nullopt;
            auto item = toVariant(value, depth + 1, inputHoldsNul);
            if (!item)
                return std::nullopt;
            map.insert(*key, *item);
        }
        return QVariant(map);
    }
    case PLIST_UID: {
        uint64_t value = 0;
        plist_get_uid_val(node, &value);
        return QVariant(qint64(value));
    }
    default: return std::nullopt;
    }
}

plist_t fromVariant(const QVariant &value, int depth)
{
    if (depth > kMaxDepth)
        return nullptr;
    if (value.metaType() == QMetaType::fromType<Uid>())
        return plist_new_uid(value.value<Uid>().value);
    switch (value.typeId()) {
    case QMetaType::Bool: return plist_new_bool(value.toBool() ? 1 : 0);
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::Long:
    case QMetaType::Short: return plist_new_uint(uint64_t(value.toLongLong()));
    case QMetaType::UInt:
    case QMetaType::ULongLong:
    case QMetaType::ULong: return plist_new_uint(value.toULongLong());
    case QMetaType::Double:
    case QMetaType::Float: return plist_new_real(value.toDouble());
    case QMetaType::QString: return plist_new_string(value.toString().toUtf8().constData());
    case QMetaType::QByteArray: {
        const QByteArray bytes = value.toByteArray();
        return plist_new_data(bytes.constData(), uint64_t(bytes.size()));
    }
    case QMetaType::QDateTime: {
        const qint64 ms = value.toDateTime().toMSecsSinceEpoch() - kReferenceOffset * 1000;
        const qint64 seconds = ms >= 0 ? ms / 1000 : -((-ms + 999) / 1000);
        return plist_new_date(int32_t(seconds), int32_t((ms - seconds * 1000) * 1000));
    }
    case QMetaType::QVariantList:
    case QMetaType::QStringList: {
        plist_t array = plist_new_array();
        for (const QVariant &item : value.toList()) {
            plist_t child = fromVariant(item, depth + 1);
            if (!child) {
                plist_free(array);
                return nullptr;
            }
            plist_array_append_item(array, child);
        }
        return array;
    }
    case QMetaType::QVariantMap: {
        plist_t dict = plist_new_dict();
        const QVariantMap map = value.toMap();
        for (auto it = map.begin(); it != map.end(); ++it) {
            plist_t child = fromVariant(it.value(), depth + 1);
            if (!child) {
                plist_free(dict);
                return nullptr;
            }
            plist_dict_set_item(dict, it.key().toUtf8().constData(), child);
        }
        return dict;
    }
    default: return nullptr;
    }
}

} // namespace

std::optional<QVariant> parse(const QByteArray &bytes)
{
    if (bytes.isEmpty() || bytes.size() > qsizetype(UINT32_MAX))
        return std::nullopt;
    plist_t root = nullptr;
    plist_from_memory(bytes.constData(), uint32_t(bytes.size()), &root);
    PlistPtr owned(root);
    return toVariant(root, 0, bytes.startsWith("bplist") || bytes.contains('\0'));
}

std::optional<QVariant> readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return parse(file.readAll());
}

std::optional<QVariantMap> readDictionary(const QString &path)
{
    auto value = readFile(path);
    if (!value || value->typeId() != QMetaType::QVariantMap)
        return std::nullopt;
    return value->toMap();
}

QByteArray toXml(const QVariant &value)
{
    PlistPtr root(fromVariant(value, 0));
    if (!root)
        return {};
    char *raw = nullptr;
    uint32_t length = 0;
    plist_to_xml(plist_t(root.get()), &raw, &length);
    Malloced<char> owned(raw);
    return raw ? QByteArray(raw, qsizetype(length)) : QByteArray();
}

QByteArray toBinary(const QVariant &value)
{
    PlistPtr root(fromVariant(value, 0));
    if (!root)
        return {};
    char *raw = nullptr;
    uint32_t length = 0;
    plist_to_bin(plist_t(root.get()), &raw, &length);
    Malloced<char> owned(raw);
    return raw ? QByteArray(raw, qsizetype(length)) : QByteArray();
}

bool writeFile(const QString &path, const QVariant &value, bool binary)
{
    const QByteArray bytes = binary ? toBinary(value) : toXml(value);
    if (bytes.isEmpty())
        return false;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(bytes);
    return file.commit();
}

} // namespace corvane::PropertyList
