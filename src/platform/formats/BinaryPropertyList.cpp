#include "platform/formats/BinaryPropertyList.h"

#include <QDateTime>
#include <QHash>
#include <QTimeZone>
#include <QtEndian>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <deque>
#include <limits>
#include <memory>
#include <vector>

namespace corvane::PropertyList {

namespace {

constexpr char kMagic[] = "bplist00";
constexpr quint64 kHeaderSize = 8;
constexpr quint64 kTrailerSize = 32;

constexpr qint64 kMaxDateMilliseconds = qint64(maxDateSeconds) * 1000;

enum Marker : uchar {
    kFalse = 0x08,
    kTrue = 0x09,
    kInteger = 0x1,
    kReal = 0x2,
    kDate = 0x33,
    kData = 0x4,
    kAscii = 0x5,
    kUtf16 = 0x6,
    kUid = 0x8,
    kArray = 0xA,
    kDictionary = 0xD,
};

quint64 readBigEndian(const uchar *bytes, int size)
{
    quint64 value = 0;
    for (int i = 0; i < size; ++i)
        value = value << 8 | bytes[i];
    return value;
}

void appendBigEndian(QByteArray &out, quint64 value, int size)
{
    for (int i = size - 1; i >= 0; --i)
        out.append(char(value >> (8 * i)));
}

// The fewest of 1, 2, 4 or 8 bytes that hold `value`.
int byteWidth(quint64 value)
{
    if (value <= 0xFF)
        return 1;
    if (value <= 0xFFFF)
        return 2;
    return value <= 0xFFFFFFFF ? 4 : 8;
}

class Decoder {
public:
    explicit Decoder(const QByteArray &bytes)
        : m_data(reinterpret_cast<const uchar *>(bytes.constData())), m_size(quint64(bytes.size()))
    {
    }

    std::optional<QVariant> decode()
    {
        if (!readTrailer() || m_count >= std::numeric_limits<quint32>::max())
            return std::nullopt;
        m_nodeBudget = maxNodesPerByte * m_size;
        m_slotPages.resize(size_t(m_count >> kSlotPageBits) + 1);
        const Object *root = object(m_top, 1);
        if (!root)
            return std::nullopt;
        return root->value;
    }

private:
    // State is kept only for the objects read, never for the trailer's
    // count: a table of a few bytes names millions of objects.
    struct Object {
        QVariant value;
        quint64 nodes = 0; // in the tree it stands for
        int height = 0;    // levels of containers in it
        bool reading = true;
    };

    bool readTrailer()
    {
        if (m_size < kHeaderSize + kTrailerSize || std::memcmp(m_data, kMagic, kHeaderSize) != 0)
            return false;
        const uchar *trailer = m_data + m_size - kTrailerSize;
        m_offsetSize = trailer[6];
        m_refSize = trailer[7];
        m_count = qFromBigEndian<quint64>(trailer + 8);
        m_top = qFromBigEndian<quint64>(trailer + 16);
        m_table = qFromBigEndian<quint64>(trailer + 24);
        const quint64 tableEnd = m_size - kTrailerSize;
        return m_offsetSize >= 1 && m_offsetSize <= 8 && m_refSize >= 1 && m_refSize <= 8 &&
               m_top < m_count && m_table >= kHeaderSize && m_table <= tableEnd &&
               m_count <= (tableEnd - m_table) / m_offsetSize;
    }

    // `level` is the one the object takes if it is a container.
    const Object *object(quint64 index, int level)
    {
        if (index >= m_count)
            return nullptr;
        if (const quint32 slot = slotOf(index)) {
            const Object &entry = m_objects[slot - 1];
            if (entry.reading) // it holds itself
                return nullptr;
            // Read first nearer the root, it may not fit down here.
            return level - 1 + entry.height <= maxNesting ? &entry : nullptr;
        }
        Object &entry = m_objects.emplace_back();
        setSlot(index, quint32(m_objects.size()));
        const quint64 offset = readBigEndian(m_data + m_table + index * m_offsetSize, m_offsetSize);
        if (offset < kHeaderSize || offset >= m_table || !read(entry, offset, level))
            return nullptr;
        entry.reading = false;
        return &entry;
    }

    quint32 slotOf(quint64 index) const
    {
        const auto &page = m_slotPages[size_t(index >> kSlotPageBits)];
        return page ? page[index & kSlotPageMask] : 0;
    }

    void setSlot(quint64 index, quint32 slot)
    {
        auto &page = m_slotPages[size_t(index >> kSlotPageBits)];
        if (!page)
            page = std::make_unique<quint32[]>(kSlotPageMask + 1);
        page[index & kSlotPageMask] = slot;
    }

    bool fits(quint64 position, quint64 size) const
    {
        return position <= m_table && size <= m_table - position;
    }

    // The element count of the object at `position`, moving past it; nothing
    // when that many elements of `unitSize` bytes cannot follow.
    std::optional<quint64> count(uchar marker, quint64 &position, quint64 unitSize) const
    {
        quint64 value = marker & 0x0F;
        if (value == 0x0F) {
            if (!fits(position, 1) || m_data[position] >> 4 != kInteger)
                return std::nullopt;
            const int size = 1 << (m_data[position] & 0x0F);
            if (size > 8 || !fits(position + 1, quint64(size)))
                return std::nullopt;
            value = readBigEndian(m_data + position + 1, size);
            position += 1 + quint64(size);
        }
        if (!fits(position, 0) || value > (m_table - position) / unitSize)
            return std::nullopt;
        return value;
    }

    bool read(Object &entry, quint64 offset, int level)
    {
        const uchar marker = m_data[offset];
        const int info = marker & 0x0F;
        quint64 position = offset + 1;
        const uchar *at = m_data + position;
        entry.nodes = 1;
        switch (marker >> 4) {
        case 0x0:
            if (marker != kFalse && marker != kTrue)
                return false;
            entry.value = QVariant(marker == kTrue);
            return true;
        case kInteger: {
            // 1, 2 and 4 bytes hold unsigned values, 8 a signed one; 16 hold
            // an unsigned 64-bit value in their low half, the high half zero.
            const int size = 1 << info;
            if (size > 16 || !fits(position, quint64(size)))
                return false;
            if (size <= 8)
                entry.value = QVariant(qint64(readBigEndian(at, size)));
            else if (readBigEndian(at, 8) == 0)
                entry.value = *integerVariant(readBigEndian(at + 8, 8), false);
            else
                return false;
            return true;
        }
        case kReal:
            if (info == 2 && fits(position, 4))
                entry.value = QVariant(double(std::bit_cast<float>(qFromBigEndian<quint32>(at))));
            else if (info == 3 && fits(position, 8))
                entry.value = QVariant(std::bit_cast<double>(qFromBigEndian<quint64>(at)));
            else
                return false;
            return true;
        case kDate >> 4: {
            if (marker != kDate || !fits(position, 8))
                return false;
            const double seconds = std::bit_cast<double>(qFromBigEndian<quint64>(at));
            if (!(std::abs(seconds) <= maxDateSeconds))
                return false;
            const qint64 ms = referenceEpochSeconds * 1000 + std::llround(seconds * 1000);
            entry.value = QVariant(QDateTime::fromMSecsSinceEpoch(ms, QTimeZone::utc()));
            return true;
        }
        case kData:
        case kAscii: {
            const auto length = count(marker, position, 1);
            if (!length)
                return false;
            const char *bytes = reinterpret_cast<const char *>(m_data + position);
            if (marker >> 4 == kData)
                entry.value = QVariant(QByteArray(bytes, qsizetype(*length)));
            else
                entry.value = QVariant(QString::fromUtf8(bytes, qsizetype(*length)));
            return true;
        }
        case kUtf16: {
            const auto length = count(marker, position, 2);
            if (!length)
                return false;
            QString text(qsizetype(*length), Qt::Uninitialized);
            const uchar *units = m_data + position;
            for (qsizetype i = 0; i < text.size(); ++i)
                text[i] = QChar(qFromBigEndian<quint16>(units + 2 * i));
            entry.value = QVariant(text);
            return true;
        }
        case kUid:
            if (info >= 8 || !fits(position, quint64(info) + 1))
                return false;
            // Unsigned, of up to 8 bytes, as plain integers are read.
            entry.value = *integerVariant(readBigEndian(at, info + 1), false);
            return true;
        case kArray:
        case kDictionary: return readContainer(entry, marker, position, level);
        default: return false;
        }
    }

    bool readContainer(Object &entry, uchar marker, quint64 position, int level)
    {
        const bool dictionary = marker >> 4 == kDictionary;
        const auto length = count(marker, position, quint64(m_refSize) * (dictionary ? 2 : 1));
        if (!length || level > maxNesting)
            return false;
        entry.height = 1;
        const auto child = [&](quint64 i) -> const Object * {
            const Object *found =
                object(readBigEndian(m_data + position + i * m_refSize, m_refSize), level + 1);
            if (!found)
                return nullptr;
            entry.height = std::max(entry.height, found->height + 1);
            entry.nodes += found->nodes;
            return entry.nodes <= m_nodeBudget ? found : nullptr;
        };
        if (!dictionary) {
            QVariantList list;
            list.reserve(qsizetype(*length));
            for (quint64 i = 0; i < *length; ++i) {
                const Object *item = child(i);
                if (!item)
                    return false;
                list.append(item->value);
            }
            entry.value = QVariant(list);
            return true;
        }
        QVariantMap map;
        for (quint64 i = 0; i < *length; ++i) {
            const Object *key = child(i);
            if (!key || key->value.typeId() != QMetaType::QString)
                return false;
            const Object *value = child(*length + i);
            if (!value)
                return false;
            insertInOrder(map, key->value.toString(), value->value);
        }
        entry.value = QVariant(map);
        return true;
    }

    const uchar *m_data;
    quint64 m_size;
    int m_offsetSize = 0;
    int m_refSize = 0;
    quint64 m_count = 0;
    quint64 m_top = 0;
    quint64 m_table = 0;
    quint64 m_nodeBudget = 0;
    std::deque<Object> m_objects; // in the order read; never moved
    // By object number, where in `m_objects` it was read, plus one; zero
    // for one not read. In pages of 1024 numbers, each made when one of
    // them is first read.
    static constexpr int kSlotPageBits = 10;
    static constexpr quint64 kSlotPageMask = (quint64(1) << kSlotPageBits) - 1;
    std::vector<std::unique_ptr<quint32[]>> m_slotPages;
};

class Encoder {
public:
    QByteArray encode(const QVariant &root)
    {
        if (!add(root, 1))
            return {};
        const int refSize = byteWidth(m_objects.size() - 1);
        QByteArray out(kMagic, kHeaderSize);
        std::vector<quint64> offsets;
        offsets.reserve(m_objects.size());
        for (const Object &object : m_objects) {
            offsets.push_back(quint64(out.size()));
            out += object.head;
            for (const quint64 ref : object.refs)
                appendBigEndian(out, ref, refSize);
        }
        const quint64 table = quint64(out.size());
        const int offsetSize = byteWidth(offsets.back());
        for (const quint64 offset : offsets)
            appendBigEndian(out, offset, offsetSize);
        out.append(6, '\0');
        out.append(char(offsetSize));
        out.append(char(refSize));
        appendBigEndian(out, m_objects.size(), 8);
        appendBigEndian(out, 0, 8);
        appendBigEndian(out, table, 8);
        return out;
    }

private:
    // A leaf's whole encoding, or a container's marker and count before the
    // references that follow it.
    struct Object {
        QByteArray head;
        std::vector<quint64> refs;
    };

    static QByteArray integer(quint64 value)
    {
        const int size = byteWidth(value);
        QByteArray out(1, char(kInteger << 4 | std::countr_zero(unsigned(size))));
        appendBigEndian(out, value, size);
        return out;
    }

    static QByteArray signedInteger(qint64 value)
    {
        if (value >= 0)
            return integer(quint64(value));
        QByteArray out(1, char(kInteger << 4 | 3));
        appendBigEndian(out, quint64(value), 8);
        return out;
    }

    static QByteArray unsignedInteger(quint64 value)
    {
        if (value <= quint64(std::numeric_limits<qint64>::max()))
            return integer(value);
        QByteArray out(1, char(kInteger << 4 | 4));
        appendBigEndian(out, 0, 8);
        appendBigEndian(out, value, 8);
        return out;
    }

    static QByteArray head(uchar type, quint64 count)
    {
        if (count < 0x0F)
            return QByteArray(1, char(type << 4 | count));
        return char(type << 4 | 0x0F) + integer(count);
    }

    static QByteArray real(double value)
    {
        QByteArray out(1, char(kReal << 4 | 3));
        appendBigEndian(out, std::bit_cast<quint64>(value), 8);
        return out;
    }

    // A NUL goes in the UTF-16 form: readers that end an ASCII string at a
    // NUL take a UTF-16 one whole.
    static QByteArray string(const QString &text)
    {
        const bool ascii = std::all_of(text.begin(), text.end(), [](QChar c) {
            return c.unicode() != 0 && c.unicode() < 0x80;
        });
        QByteArray out = head(ascii ? kAscii : kUtf16, quint64(text.size()));
        if (ascii)
            return out + text.toLatin1();
        for (const QChar c : text)
            appendBigEndian(out, c.unicode(), 2);
        return out;
    }

    static std::optional<QByteArray> date(const QDateTime &value)
    {
        const auto ms = dateMilliseconds(value);
        if (!ms)
            return std::nullopt;
        const double seconds = double(*ms - referenceEpochSeconds * 1000) / 1000;
        QByteArray out(1, char(kDate));
        appendBigEndian(out, std::bit_cast<quint64>(seconds), 8);
        return out;
    }

    static std::optional<QByteArray> leaf(const QVariant &value)
    {
        if (value.metaType() == QMetaType::fromType<Uid>()) {
            const quint64 uid = value.value<Uid>().value;
            const int size = byteWidth(uid);
            QByteArray out(1, char(kUid << 4 | (size - 1)));
            appendBigEndian(out, uid, size);
            return out;
        }
        if (const auto number = integerOf(value))
            return number->isUnsigned ? unsignedInteger(number->bits)
                                      : signedInteger(qint64(number->bits));
        switch (value.typeId()) {
        case QMetaType::Bool: return QByteArray(1, char(value.toBool() ? kTrue : kFalse));
        case QMetaType::Double:
        case QMetaType::Float: return real(value.toDouble());
        case QMetaType::QByteArray: {
            const QByteArray bytes = value.toByteArray();
            return head(kData, quint64(bytes.size())) + bytes;
        }
        case QMetaType::QDateTime: return date(value.toDateTime());
        default: return std::nullopt;
        }
    }

    // Equal strings are written once, as the platform's own writer does.
    quint64 addString(const QString &text)
    {
        const auto found = m_strings.constFind(text);
        if (found != m_strings.constEnd())
            return *found;
        m_objects.push_back({string(text), {}});
        m_strings.insert(text, m_objects.size() - 1);
        return m_objects.size() - 1;
    }

    // A container of `items`, after the references to its keys when it is a
    // dictionary.
    std::optional<quint64> addContainer(uchar type, const QStringList &keys,
                                        const QVariantList &items, int level)
    {
        if (level > maxNesting)
            return std::nullopt;
        const quint64 index = m_objects.size();
        m_objects.push_back({head(type, quint64(items.size())), {}});
        std::vector<quint64> refs;
        refs.reserve(size_t(keys.size() + items.size()));
        for (const QString &key : keys)
            refs.push_back(addString(key));
        for (const QVariant &item : items) {
            const auto ref = add(item, level + 1);
            if (!ref)
                return std::nullopt;
            refs.push_back(*ref);
        }
        m_objects[index].refs = std::move(refs);
        return index;
    }

    std::optional<quint64> add(const QVariant &value, int level)
    {
        switch (value.typeId()) {
        case QMetaType::QString: return addString(value.toString());
        case QMetaType::QVariantList:
        case QMetaType::QStringList: return addContainer(kArray, {}, value.toList(), level);
        case QMetaType::QVariantMap: {
            const QVariantMap map = value.toMap();
            return addContainer(kDictionary, map.keys(), map.values(), level);
        }
        default: break;
        }
        auto bytes = leaf(value);
        if (!bytes)
            return std::nullopt;
        m_objects.push_back({std::move(*bytes), {}});
        return m_objects.size() - 1;
    }

    std::vector<Object> m_objects;
    QHash<QString, quint64> m_strings;
};

} // namespace

std::optional<QVariant> parseBinary(const QByteArray &bytes)
{
    return Decoder(bytes).decode();
}

QByteArray encodeBinary(const QVariant &value)
{
    return Encoder().encode(value);
}

std::optional<Integer> integerOf(const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::Short:
    case QMetaType::Int:
    case QMetaType::Long:
    case QMetaType::LongLong: return Integer{quint64(value.toLongLong()), false};
    case QMetaType::UChar:
    case QMetaType::UShort:
    case QMetaType::UInt:
    case QMetaType::ULong:
    case QMetaType::ULongLong: return Integer{value.toULongLong(), true};
    default: return std::nullopt;
    }
}

std::optional<QVariant> integerVariant(quint64 magnitude, bool negative)
{
    constexpr quint64 maxSigned = quint64(std::numeric_limits<qint64>::max());
    if (!negative)
        return magnitude <= maxSigned ? QVariant(qint64(magnitude)) : QVariant(magnitude);
    if (magnitude > maxSigned + 1)
        return std::nullopt;
    return QVariant(qint64(0 - magnitude)); // two's complement: -2^63 included
}

std::optional<qint64> dateMilliseconds(const QDateTime &date)
{
    if (!date.isValid())
        return std::nullopt;
    const qint64 ms = date.toMSecsSinceEpoch();
    const qint64 epoch = referenceEpochSeconds * 1000;
    if (ms < epoch - kMaxDateMilliseconds || ms > epoch + kMaxDateMilliseconds)
        return std::nullopt;
    return ms;
}

void insertInOrder(QVariantMap &map, const QString &key, const QVariant &value)
{
    if (map.isEmpty() || map.lastKey() < key)
        map.insert(map.cend(), key, value);
    else
        map.insert(key, value);
}

} // namespace corvane::PropertyList
