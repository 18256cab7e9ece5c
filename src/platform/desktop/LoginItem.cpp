#include "platform/desktop/LoginItem.h"

#include "platform/files/AtomicFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace corvane {

namespace {

// An autostart entry is a few lines; anything far larger is not one.
constexpr qint64 kMaximumEntrySize = 1024 * 1024;

bool isTrue(const QByteArray &value)
{
    return value.compare("true", Qt::CaseInsensitive) == 0 || value == "1";
}

bool isFalse(const QByteArray &value)
{
    return value.compare("false", Qt::CaseInsensitive) == 0 || value == "0";
}

// Escapes that readers undo before they split the value into arguments.
QString escapedAsString(const QString &value)
{
    QString escaped;
    escaped.reserve(value.size() + 8);
    for (const QChar c : value) {
        switch (c.unicode()) {
        case '\\': escaped += QLatin1String("\\\\"); break;
        case '\n': escaped += QLatin1String("\\n"); break;
        case '\t': escaped += QLatin1String("\\t"); break;
        case '\r': escaped += QLatin1String("\\r"); break;
        default: escaped += c;
        }
    }
    return escaped;
}

} // namespace

QString LoginItem::entryPath(const SystemPaths &paths)
{
    if (paths.autostartDir.isEmpty())
        return {};
    return paths.autostartDir + "/" + identifier + ".desktop";
}

bool LoginItem::isEnabled(const SystemPaths &paths)
{
    const QString path = entryPath(paths);
    if (path.isEmpty() || !QFileInfo(path).isFile())
        return false;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    return contentsAreEnabled(file.read(kMaximumEntrySize));
}

bool LoginItem::setEnabled(bool enabled, const SystemPaths &paths)
{
    QString name = QCoreApplication::applicationName();
    if (name.isEmpty())
        name = "Corvane";
    return setEnabled(enabled, QCoreApplication::applicationFilePath(), name, paths);
}

bool LoginItem::setEnabled(bool enabled, const QString &programPath, const QString &name,
                           const SystemPaths &paths)
{
    const QString path = entryPath(paths);
    if (path.isEmpty())
        return false;
    if (!enabled) {
        const QFileInfo info(path);
        if (!info.exists() && !info.isSymLink())
            return true;
        return QFile::remove(path);
    }
    if (programPath.isEmpty() || !QDir().mkpath(paths.autostartDir))
        return false;
    return AtomicFile::save(path, entryContents(programPath, name));
}

QByteArray LoginItem::entryContents(const QString &programPath, const QString &name)
{
    // A name on one line: line breaks would end the value early.
    QString oneLineName = name;
    oneLineName.replace('\n', ' ').replace('\r', ' ');
    QString text;
    text += "[Desktop Entry]\n";
    text += "Type=Application\n";
    text += "Name=" + escapedAsString(oneLineName) + "\n";
    text += "Exec=" + execArgument(programPath) + "\n";
    return text.toUtf8();
}

QString LoginItem::execArgument(const QString &programPath)
{
    QString quoted;
    quoted.reserve(programPath.size() + 8);
    quoted += '"';
    for (const QChar c : programPath) {
        if (c == '"' || c == '`' || c == '$' || c == '\\')
            quoted += '\\';
        // A lone percent sign would start a field code.
        if (c == '%')
            quoted += '%';
        quoted += c;
    }
    quoted += '"';
    return escapedAsString(quoted);
}

bool LoginItem::contentsAreEnabled(const QByteArray &contents)
{
    bool inMainGroup = false;
    for (const QByteArray &rawLine : contents.split('\n')) {
        const QByteArray line = rawLine.trimmed();
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        if (line.startsWith('[')) {
            inMainGroup = line == "[Desktop Entry]";
            continue;
        }
        if (!inMainGroup)
            continue;
        const qsizetype equals = line.indexOf('=');
        if (equals < 0)
            continue;
        const QByteArray key = line.left(equals).trimmed();
        const QByteArray value = line.mid(equals + 1).trimmed();
        if (key == "Hidden" && isTrue(value))
            return false;
        if (key == "X-GNOME-Autostart-enabled" && isFalse(value))
            return false;
    }
    return true;
}

} // namespace corvane
