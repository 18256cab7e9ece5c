#pragma once

#include <QUrl>

#include <sys/stat.h>

#include <ctime>
#include <filesystem>
#include <string>
#include <utility>
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

    // Folders opened on the way to items, kept open for the next items of
    // one copy, so that the items of one folder do not walk from "/" each
    // time. A kept folder is the one that was opened, even when it is moved
    // meanwhile: keep them only for as long as nothing else moves the folders
    // copied into or out of. Holds a few, the least recently used going.
    class OpenFolders {
    public:
        OpenFolders() = default;
        ~OpenFolders() { clear(); }
        OpenFolders(const OpenFolders &) = delete;
        OpenFolders &operator=(const OpenFolders &) = delete;

        void clear();

    private:
        friend class ItemLocation;
        // The descriptor of the folder at `path`, or -1.
        int find(const std::string &path);
        bool holds(const std::string &path) const;
        // Takes the descriptor over; returns it.
        int keep(std::string path, int fd);

        std::vector<std::pair<std::string, int>> m_folders; // most recently used last
    };

    // Throws when the root is not absolute, or a component is "." or "..".
    ItemLocation(std::filesystem::path root, const std::filesystem::path &relative);

    // The item at `path` as `relative` below some folder; when `path` does
    // not end in that path, below the folder that holds it.
    static ItemLocation below(const std::filesystem::path &path,
                              const std::filesystem::path &relative);

    const std::filesystem::path &root() const { return m_root; }
    std::filesystem::path path() const;
    // The same, as the bytes the kernel takes.
    std::string native() const;
    // The root itself when the item lies directly in it.
    ItemLocation parent() const;

    // The item's own permission bits and times (a link's, not its target's).
    Attributes attributes() const;
    // Whether the item is a folder that `folders` keep open.
    bool isKeptIn(const OpenFolders &folders) const;
    // Creates the item as a directory, and every missing folder above it (the
    // root's included), all with the default mode, so that what goes inside
    // can be created before the item gets its own attributes. An existing
    // directory is left as it is; anything else there fails with "file
    // exists". True when the item below the root was created here. With
    // `folders`, the item's folder is taken from them or kept there.
    bool makeDirectory(OpenFolders *folders = nullptr) const;
    // Gives the directory its permission bits, then its times.
    void applyAttributes(const Attributes &attributes) const;
    enum class Copy { copied, special, missing };
    // Copies the item into the destination, whose folder exists: a file's
    // content (in the kernel where it can, holes kept), permission bits and
    // times; a link as a link with the same target text; a directory as an
    // empty one. Sockets, pipes and devices are not copied (`special`). An
    // existing destination fails with "file exists". `missing` when the item
    // is not there. With `folders`, the two folders are taken from them or
    // kept there.
    Copy copyItem(const ItemLocation &destination, OpenFolders *folders = nullptr) const;

private:
    // Already plain: the root normal and absolute, no component empty, "."
    // or "..".
    ItemLocation(std::filesystem::path root, std::vector<std::string> components);
    // The folder of the first `count` components, as openBelow makes and
    // opens it, through `folders`; the descriptor stays theirs.
    int openKept(size_t count, bool *created, OpenFolders &folders) const;

    std::filesystem::path m_root;
    std::vector<std::string> m_components;
};

} // namespace corvane
