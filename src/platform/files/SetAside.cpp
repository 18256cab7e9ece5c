#include "platform/files/SetAside.h"

#include <QDateTime>
#include <QFile>

#include <filesystem>

namespace corvane {

SetAsideResult setAside(const QString &path)
{
    namespace fs = std::filesystem;
    const QString aside =
        path + ".unreadable-" + QDateTime::currentDateTime().toString("yyyyMMdd-HHmmss");
    const fs::path from = QFile::encodeName(path).toStdString();
    std::error_code error;
    if (!fs::exists(fs::symlink_status(from, error)))
        return {};
    const fs::path to = QFile::encodeName(aside).toStdString();
    if (!fs::exists(fs::symlink_status(to, error)))
        fs::rename(from, to, error);
    if (error || fs::exists(fs::symlink_status(from, error)))
        return {SetAsideResult::Outcome::failed, {}};
    return {SetAsideResult::Outcome::setAside, aside};
}

} // namespace corvane
