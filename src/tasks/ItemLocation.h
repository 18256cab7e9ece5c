#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

#include <sys/stat.h>

#include <ctime>
#include <optional>

namespace corvane {

// An item found below a folder, split into that folder (the root, which is
// trusted: links in its own path are followed) and the components below it,
// with the file operations the archive copies need. Below the root nothing is
// followed: every component is opened without following links, so a link
// there fails the operation rather than leading somewhere else. Failures
// throw std::filesystem::filesystem_error.
class ItemLocation {
public:
    struct Attributes {
        mode_t permissions = 0;
        timespec accessed{};
        timespec modified{};
    };

    // Throws when the root is not absolute, or a component is empty, "." or
    // "..".
    ItemLocation(QString root, QStringList components);

    // The location of `url` as `relativePath` (a directory's with its trailing
    // "/") below some folder; when `url` does not end in that path, below the
    // folder that holds it.
    static ItemLocation below(const QUrl &url, const QString &relativePath);

    QString root() const { return m_root; }
    const QStringList &components() const { return m_components; }
    QString path() const;
    QUrl url() const { return QUrl::fromLocalFile(path()); }
    // The root itself when the item lies directly in it.
    ItemLocation parent() const;

    // The item's own permission bits and times (a link's, not its target's).
    Attributes attributes() const;
    // Creates the item as a directory and every missing folder above it, the
    // root's included, each with the attributes when given (else the default
    // mode). An existing directory is left as it is; anything else there
    // fails with "file exists".
    void makeDirectory(const std::optional<Attributes> &attributes) const;
    // Copies the item into the destination, whose folder exists: a file's
    // content (in the kernel where it can), permission bits and times; a link
    // as a link with the same target text; a directory as an empty one.
    // Sockets, pipes and devices are not copied. An existing destination fails
    // with "file exists". False when the item has vanished.
    bool copyItem(const ItemLocation &destination) const;

private:
    QString m_root;
    QStringList m_components;
};

} // namespace corvane
