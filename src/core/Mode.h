#pragma once

#include <QString>

#include <sys/stat.h>

#include <cstdint>
#include <initializer_list>

namespace corvane {

// POSIX file-mode bits as a set over their raw value.
class Mode {
public:
    using RawValue = std::uint16_t;

    constexpr Mode() = default;
    constexpr explicit Mode(RawValue rawValue) : m_rawValue(rawValue) {}
    constexpr Mode(std::initializer_list<Mode> members)
    {
        for (const Mode member : members)
            m_rawValue |= member.m_rawValue;
    }

    static const Mode fifo, characterSpecial, directory, blockSpecial, regular, symbolicLink,
        socket;
    static const Mode ownerRead, ownerWrite, ownerExecute, groupRead, groupWrite, groupExecute,
        othersRead, othersWrite, othersExecute;

    constexpr RawValue rawValue() const { return m_rawValue; }
    constexpr bool contains(Mode other) const
    {
        return (m_rawValue & other.m_rawValue) == other.m_rawValue;
    }
    constexpr bool isEmpty() const { return m_rawValue == 0; }

    // A file-type letter ("D", "-", "L", …; none for no or an unknown type)
    // and "R", "W", "X" or "-" for each permission: 040755 is "DRWXR-XR-X".
    QString description() const;

    friend constexpr bool operator==(Mode, Mode) = default;
    friend constexpr Mode operator|(Mode a, Mode b)
    {
        return Mode(RawValue(a.m_rawValue | b.m_rawValue));
    }
    friend constexpr Mode operator&(Mode a, Mode b)
    {
        return Mode(RawValue(a.m_rawValue & b.m_rawValue));
    }
    friend constexpr Mode operator^(Mode a, Mode b)
    {
        return Mode(RawValue(a.m_rawValue ^ b.m_rawValue));
    }
    friend constexpr Mode operator-(Mode a, Mode b)
    {
        return Mode(RawValue(a.m_rawValue & ~b.m_rawValue));
    }
    Mode &operator|=(Mode other) { return *this = *this | other; }
    Mode &operator&=(Mode other) { return *this = *this & other; }
    Mode &operator-=(Mode other) { return *this = *this - other; }

private:
    RawValue m_rawValue = 0;
};

inline constexpr Mode Mode::fifo{RawValue(S_IFIFO)};
inline constexpr Mode Mode::characterSpecial{RawValue(S_IFCHR)};
inline constexpr Mode Mode::directory{RawValue(S_IFDIR)};
inline constexpr Mode Mode::blockSpecial{RawValue(S_IFBLK)};
inline constexpr Mode Mode::regular{RawValue(S_IFREG)};
inline constexpr Mode Mode::symbolicLink{RawValue(S_IFLNK)};
inline constexpr Mode Mode::socket{RawValue(S_IFSOCK)};
inline constexpr Mode Mode::ownerRead{RawValue(S_IRUSR)};
inline constexpr Mode Mode::ownerWrite{RawValue(S_IWUSR)};
inline constexpr Mode Mode::ownerExecute{RawValue(S_IXUSR)};
inline constexpr Mode Mode::groupRead{RawValue(S_IRGRP)};
inline constexpr Mode Mode::groupWrite{RawValue(S_IWGRP)};
inline constexpr Mode Mode::groupExecute{RawValue(S_IXGRP)};
inline constexpr Mode Mode::othersRead{RawValue(S_IROTH)};
inline constexpr Mode Mode::othersWrite{RawValue(S_IWOTH)};
inline constexpr Mode Mode::othersExecute{RawValue(S_IXOTH)};

} // namespace corvane
