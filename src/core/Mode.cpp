#include "core/Mode.h"

namespace corvane {

QString Mode::description() const
{
    QString text;
    switch (m_rawValue & S_IFMT) {
    case S_IFBLK: text += 'B'; break;
    case S_IFCHR: text += 'C'; break;
    case S_IFDIR: text += 'D'; break;
    case S_IFLNK: text += 'L'; break;
    case S_IFSOCK: text += 'S'; break;
    case S_IFIFO: text += 'P'; break;
    case S_IFREG: text += '-'; break;
    default: break;
    }
    static constexpr Mode permissions[] = {ownerRead,  ownerWrite,  ownerExecute,
                                           groupRead,  groupWrite,  groupExecute,
                                           othersRead, othersWrite, othersExecute};
    static constexpr char letters[] = {'R', 'W', 'X'};
    for (int i = 0; i < 9; ++i)
        text += contains(permissions[i]) ? letters[i % 3] : '-';
    return text;
}

} // namespace corvane
