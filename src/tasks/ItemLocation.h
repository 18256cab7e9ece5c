#pragma once

#include <QUrl>

#include <sys/stat.h>

#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

namespace corvane {

// An item found below a folder, split into that folder (the root, which is
// trusted: links in its own path are followed) and the components below it,
// with the file operations the archive copies need. Below the root nothing is
// followed: every component is opened without following links, so a link
// there fails the operation rather than leading somewhere else. Paths are
// native byte strings, so names that are not UTF-8 are reached as they are.
// Failures throw std::filesystem::filesystem_error.
class ItemLocation {
public:
    struct Attributes {
        mode_t permissions = 0;
        timespec accessed{};
        timespec modified{};
    };

    // Throws when the root is not absolute, or a component is "." or "..".
    ItemLocation(std::filesystem::path root, const std::filesystem::path &relative);

    // The item at `path` as `relative` below some folder; when `path` does
    // not end in that path, below the folder that holds it.
    static ItemLocation below(const std::filesystem::path &path,
                              const std::filesystem::path &relative);

    const std::filesystem::path &root() const { return m_root; }
    std::filesystem::path path() const;
    // For coordination and logs.
    QUrl url() const;
    // The root itself when the item lies directly in it.
    ItemLocation parent() const;

    // The item's own permission bits and times (a link's, not its target's).
    Attributes attributes() const;
    // Creates the item as a directory, and every missing folder above it (the
    // root's included), all with the default mode, so that what goes inside
    // can be created before the item gets its own attributes. An existing
    // directory is left as it is; anything else there fails with "file
    // exists". True when the item below the root was created here.
    bool makeDirectory() const;
    // Gives the directory its permission bits, then its times.
    void applyAttributes(const Attributes &attributes) const;
    enum class Copy { copied, special, missing };
    // Copies the item into the destination, whose folder exists: a file's
    // content (in the kernel where it can, holes kept), permission bits and
    // times; a link as a link with the same target text; a directory as an
    // empty one. Sockets, pipes and devices are not copied (`special`). An
    // existing destination fails with "file exists". `missing` when the item
    // is not there.
    Copy copyItem(const ItemLocation &destination) const;

private:
    std::filesystem::path m_root;
    std::vector<std::string> m_components;
};

} // namespace corvane
