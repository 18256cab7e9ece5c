#include "platform/PropertyList.h"

#include "platform/AtomicFile.h"
#include "platform/BinaryPropertyList.h"
#include "platform/RegularFile.h"

#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <plist/plist.h>
#include <string_view>

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

// The text of a dictionary key, or nothing when it cannot be read safely.
// The library offers no length-aware reader for keys, and its copying one
// asserts that the key holds no NUL (a raw NUL in the text can make one).
// Its XML writer emits a key's full stored length, so a NUL shows there; a
// key without one is what the copying reader expects. Input without a NUL
// byte cannot make such a key, and skips the check.
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

// `level` is the one the node takes if it is a container.
std::optional<QVariant> toVariant(plist_t node, int level, bool inputHoldsNul)
{
    if (!node)
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
        // The library hands dates out as 32-bit seconds; its binary form
        // keeps the whole value.
        char *binary = nullptr;
        uint32_t length = 0;
        plist_to_bin(node, &binary, &length);
        const Malloced<char> owned(binary);
        return binary ? parseBinary(QByteArray::fromRawData(binary, length)) : std::nullopt;
    }
    case PLIST_ARRAY: {
        if (level > maxNesting)
            return std::nullopt;
        // Walked with the iterator: reaching an item by its index walks the
        // list from its start.
        QVariantList list;
        plist_array_iter iter = nullptr;
        plist_array_new_iter(node, &iter);
        const Malloced<void> ownedIter(iter);
        for (;;) {
            plist_t child = nullptr;
            plist_array_next_item(node, iter, &child);
            if (!child)
                break;
            auto item = toVariant(child, level + 1, inputHoldsNul);
            if (!item)
                return std::nullopt;
            list.append(*item);
        }
        return QVariant(list);
    }
    case PLIST_DICT: {
        if (level > maxNesting)
            return std::nullopt;
        QVariantMap map;
        plist_dict_iter iter = nullptr;
        plist_dict_new_iter(node, &iter);
        const Malloced<void> ownedIter(iter);
        for (;;) {
            plist_t value = nullptr;
            plist_dict_next_item(node, iter, nullptr, &value);
            if (!value)
                break;
            const auto key = keyText(plist_dict_item_get_key(value), inputHoldsNul);
            if (!key)
                return std::nullopt;
            auto item = toVariant(value, level + 1, inputHoldsNul);
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

// Whether XML property-list text nests its containers no deeper than
// `maxNesting`. The library builds its tree without recursing but frees and
// copies it recursively, so deeper text must never reach it. The scan skips
// exactly what the library's reader skips (comments, CDATA and processing
// instructions, a DOCTYPE, double-quoted attribute values) and stops where
// that reader stops; text that reader refuses is refused here as well.
class XmlNestingScan {
public:
    explicit XmlNestingScan(const QByteArray &text)
        : m_at(text.constData()), m_end(text.constData() + text.size())
    {
    }

    bool withinLimit()
    {
        int depth = 0;
        bool rootSeen = false;
        for (;;) {
            skipSpace();
            if (m_at == m_end)
                return true;
            if (*m_at != '<' || ++m_at == m_end)
                return false;
            if (*m_at == '?') {
                if (!seek("?>", true))
                    return false;
                m_at += 2;
                continue;
            }
            if (*m_at == '!') {
                if (!skipDeclaration())
                    return false;
                continue;
            }
            const auto tag = readTag();
            if (!tag)
                return false;
            if (tag->name == "plist" || tag->name == "/plist")
                continue;
            if (tag->name.starts_with('/')) {
                if (--depth <= 0) // the root is closed, and reading ends
                    return true;
                continue;
            }
            const bool container = tag->name == "array" || tag->name == "dict";
            if (!container && !isScalar(tag->name))
                return false;
            // An empty root still takes what follows it as its items.
            if (container && (!tag->empty || !rootSeen) && ++depth > maxNesting)
                return false;
            if (!container && !tag->empty && !skipText(tag->name))
                return false;
            if (!container && !rootSeen)
                return true; // a lone value is the whole list
            rootSeen = true;
        }
    }

private:
    struct Tag {
        std::string_view name;
        bool empty;
    };

    static bool isScalar(std::string_view name)
    {
        for (const std::string_view scalar :
             {"key", "string", "integer", "real", "true", "false", "data", "date"}) {
            if (name == scalar)
                return true;
        }
        return false;
    }

    bool startsWith(std::string_view text) const
    {
        return size_t(m_end - m_at) >= text.size() &&
               std::memcmp(m_at, text.data(), text.size()) == 0;
    }

    void skipSpace()
    {
        while (m_at < m_end && (*m_at == ' ' || *m_at == '\t' || *m_at == '\r' || *m_at == '\n'))
            ++m_at;
    }

    // Moves past a double-quoted run starting at the cursor.
    bool skipQuoted()
    {
        const void *close = std::memchr(m_at + 1, '"', size_t(m_end - m_at - 1));
        if (!close)
            return false;
        m_at = static_cast<const char *>(close);
        return true;
    }

    // Moves to the next `text`, or to any of `chars` when `any`.
    bool seek(std::string_view text, bool quotes, bool any = false)
    {
        for (; m_at < m_end; ++m_at) {
            if (any ? text.find(*m_at) != std::string_view::npos : startsWith(text))
                return true;
            if (quotes && *m_at == '"' && !skipQuoted())
                return false;
        }
        return false;
    }

    // A comment or a DOCTYPE, the cursor on its "!".
    bool skipDeclaration()
    {
        if (startsWith("!--")) {
            m_at += 3;
            if (!seek("-->", false))
                return false;
            m_at += 3;
            return true;
        }
        if (!startsWith("!DOCTYPE") || m_end - m_at <= 8)
            return false;
        m_at += 8;
        if (!seek("[>", true, true))
            return false;
        if (*m_at == '[' && !seek("]>", true))
            return false;
        m_at += *m_at == '>' ? 1 : 2;
        return true;
    }

    std::optional<Tag> readTag()
    {
        const char *name = m_at;
        if (!seek(" \r\n\t<>", false, true))
            return std::nullopt;
        const char *nameEnd = m_at;
        if (*m_at != '>' && !seek("<>", true, true))
            return std::nullopt;
        if (*m_at != '>')
            return std::nullopt;
        Tag tag{{name, size_t(nameEnd - name)}, m_at[-1] == '/'};
        // "<array/>": the slash is read as part of the name.
        if (tag.empty && m_at - 1 < nameEnd)
            tag.name = tag.name.substr(0, size_t(m_at - 1 - name));
        ++m_at;
        return tag;
    }

    // The text of a value up to its end tag, where comments and CDATA may
    // hold anything.
    bool skipText(std::string_view name)
    {
        for (;;) {
            const void *open = std::memchr(m_at, '<', size_t(m_end - m_at));
            if (!open)
                return false;
            m_at = static_cast<const char *>(open) + 1;
            if (startsWith("/"))
                break;
            if (startsWith("!--")) {
                m_at += 3;
                if (!seek("-->", false))
                    return false;
                m_at += 3;
            } else if (startsWith("![CDATA[")) {
                m_at += 8;
                if (!seek("]]>", false))
                    return false;
                m_at += 3;
            } else {
                return false;
            }
        }
        ++m_at;
        if (!startsWith(name))
            return false;
        m_at += name.size();
        skipSpace();
        if (m_at == m_end || *m_at != '>')
            return false;
        ++m_at;
        return true;
    }

    const char *m_at;
    const char *m_end;
};

} // namespace

std::optional<QVariant> parse(const QByteArray &bytes)
{
    if (bytes.startsWith("bplist00"))
        return parseBinary(bytes);
    if (bytes.isEmpty() || bytes.size() > qsizetype(UINT32_MAX) ||
        !XmlNestingScan(bytes).withinLimit())
        return std::nullopt;
    plist_t root = nullptr;
    plist_from_xml(bytes.constData(), uint32_t(bytes.size()), &root);
    PlistPtr owned(root);
    return toVariant(root, 1, bytes.contains('\0'));
}

std::optional<QVariant> readFile(const QString &path)
{
    const auto bytes = RegularFile::readWhole(path, maxFileBytes);
    if (!bytes)
        return std::nullopt;
    return parse(*bytes);
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
    // The library's nodes take neither dates past 32-bit seconds nor strings
    // holding a NUL; its binary reader takes both whole. XML dates have whole
    // seconds.
    const QByteArray binary = encodeBinary(value, true);
    if (binary.isEmpty() || binary.size() > qsizetype(UINT32_MAX))
        return {};
    plist_t root = nullptr;
    plist_from_bin(binary.constData(), uint32_t(binary.size()), &root);
    const PlistPtr ownedRoot(root);
    if (!root)
        return {};
    char *raw = nullptr;
    uint32_t length = 0;
    plist_to_xml(root, &raw, &length);
    const Malloced<char> owned(raw);
    return raw ? QByteArray(raw, qsizetype(length)) : QByteArray();
}

QByteArray toBinary(const QVariant &value)
{
    return encodeBinary(value);
}

bool writeFile(const QString &path, const QVariant &value, bool binary)
{
    const QByteArray bytes = binary ? toBinary(value) : toXml(value);
    if (bytes.isEmpty())
        return false;
    return AtomicFile::save(path, bytes);
}

} // namespace corvane::PropertyList
