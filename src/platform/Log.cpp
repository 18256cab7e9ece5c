#include "platform/Log.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <cstdio>
#include <memory>
#include <mutex>
#include <sys/syscall.h>
#include <unistd.h>

namespace corvane {

namespace {

struct LogState {
    std::mutex mutex;
    QString filePath;
    qint64 maxBytes = 4 * 1024 * 1024;
    bool stderrEnabled = qEnvironmentVariable("CORVANE_LOG_STDERR") != "0";
    bool stderrDebug = !qEnvironmentVariableIsEmpty("CORVANE_LOG_DEBUG");
    std::vector<std::pair<const Log::Capture *, std::vector<LogEntry>>> captures;
};

LogState &state()
{
    static auto *s = new LogState;
    return *s;
}

QString escapeField(QString text)
{
    text.replace('\\', "\\\\");
    text.replace('\n', "\\n");
    text.replace('\t', "\\t");
    return text;
}

QString unescapeField(const QString &text)
{
    QString result;
    result.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == '\\' && i + 1 < text.size()) {
            const QChar next = text[++i];
            result += next == 'n' ? QChar('\n') : next == 't' ? QChar('\t') : next;
        } else {
            result += c;
        }
    }
    return result;
}

std::optional<LogLevel> levelFromName(const QString &name)
{
    for (auto level :
         {LogLevel::Debug, LogLevel::Info, LogLevel::Notice, LogLevel::Error, LogLevel::Fault})
        if (logLevelName(level) == name)
            return level;
    return std::nullopt;
}

// Reads the first `length` bytes: the file as it was when its length was
// taken, which was between two entries.
void readEntries(QFile &file, qint64 length, const QDateTime &since,
                 const std::function<void(LogEntry &&)> &each)
{
    while (file.pos() < length && !file.atEnd()) {
        QString line = QString::fromUtf8(file.readLine());
        if (line.endsWith('\n'))
            line.chop(1);
        const QStringList fields = line.split('\t');
        if (fields.size() != 7)
            continue;
        LogEntry entry;
        entry.time = QDateTime::fromString(fields[0], Qt::ISODateWithMs);
        const auto level = levelFromName(fields[1]);
        if (!entry.time.isValid() || !level || entry.time < since)
            continue;
        entry.level = *level;
        entry.processName = unescapeField(fields[2]);
        entry.pid = fields[3].toLongLong();
        entry.threadId = fields[4].toULongLong();
        entry.category = unescapeField(fields[5]);
        entry.message = unescapeField(fields[6]);
        each(std::move(entry));
    }
}

QString processName()
{
    // Never destroyed, as the placeholder pattern below.
    static const auto *name = new QString([] {
        QFile comm("/proc/self/comm");
        if (comm.open(QIODevice::ReadOnly))
            return QString::fromUtf8(comm.readAll()).trimmed();
        return QStringLiteral("corvane");
    }());
    return *name;
}

} // namespace

QString logLevelName(LogLevel level)
{
    switch (level) {
    case LogLevel::Debug: return "debug";
    case LogLevel::Info: return "info";
    case LogLevel::Notice: return "notice";
    case LogLevel::Error: return "error";
    case LogLevel::Fault: return "fault";
    }
    return "info";
}

QString Log::fill(const QString &format, const QStringList &arguments)
{
    // Never destroyed: objects that live until exit (the shared settings and
    // their file watch) still log as they go.
    static const auto *placeholder =
        new QRegularExpression(R"(%%|%(\{[^}]*\})?(@|ll[dui]|l[dui]|[dui]|f|s))");
    QString result;
    qsizetype last = 0;
    int next = 0;
    auto it = placeholder->globalMatch(format);
    while (it.hasNext()) {
        const auto match = it.next();
        result += QStringView(format).mid(last, match.capturedStart() - last);
        if (match.captured() == "%%")
            result += '%';
        else
            result += next < arguments.size() ? arguments[next++] : QStringLiteral("(null)");
        last = match.capturedEnd();
    }
    result += QStringView(format).mid(last);
    return result;
}

void Log::write(LogLevel level, const QString &format, const QStringList &arguments) const
{
    LogEntry entry;
    entry.time = QDateTime::currentDateTimeUtc();
    entry.level = level;
    entry.category = m_category;
    entry.format = format;
    entry.message = fill(format, arguments);
    entry.pid = getpid();
    entry.processName = processName();
    entry.threadId = quint64(syscall(SYS_gettid));

    auto &s = state();
    std::lock_guard lock(s.mutex);
    for (auto &capture : s.captures)
        capture.second.push_back(entry);

    if (s.stderrEnabled && (level != LogLevel::Debug || s.stderrDebug)) {
        const QByteArray line = QStringLiteral("[%1] %2: %3\n")
                                    .arg(m_category, logLevelName(level), entry.message)
                                    .toUtf8();
        std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
    }

    if (level == LogLevel::Debug || s.filePath.isEmpty())
        return;
    QFile file(s.filePath);
    if (file.exists() && file.size() > s.maxBytes) {
        const QString rotated = s.filePath + ".1";
        QFile::remove(rotated);
        QFile::rename(s.filePath, rotated);
    }
    if (!file.open(QIODevice::Append | QIODevice::Text))
        return;
    const QStringList fields{entry.time.toString(Qt::ISODateWithMs),
                             logLevelName(level),
                             escapeField(entry.processName),
                             QString::number(entry.pid),
                             QString::number(entry.threadId),
                             escapeField(m_category),
                             escapeField(entry.message)};
    file.write((fields.join('\t') + '\n').toUtf8());
}

void Log::setFile(const QString &path, qint64 maxBytes)
{
    auto &s = state();
    std::lock_guard lock(s.mutex);
    s.filePath = path;
    s.maxBytes = maxBytes;
    if (!path.isEmpty())
        QDir().mkpath(QFileInfo(path).absolutePath());
}

QString Log::filePath()
{
    auto &s = state();
    std::lock_guard lock(s.mutex);
    return s.filePath;
}

void Log::readEntriesSince(const QDateTime &since, const std::function<void(LogEntry &&)> &each)
{
    // Only opening the files and taking their lengths holds the lock: what
    // is written or rotated after that is not read, and the open files stay
    // readable whatever is renamed or removed meanwhile.
    std::vector<std::pair<std::unique_ptr<QFile>, qint64>> files;
    {
        auto &s = state();
        std::lock_guard lock(s.mutex);
        if (s.filePath.isEmpty())
            return;
        for (const QString &path : {s.filePath + ".1", s.filePath}) {
            auto file = std::make_unique<QFile>(path);
            if (!file->open(QIODevice::ReadOnly))
                continue;
            const qint64 length = file->size();
            files.emplace_back(std::move(file), length);
        }
    }
    for (auto &[file, length] : files)
        readEntries(*file, length, since, each);
}

std::vector<LogEntry> Log::entriesSince(const QDateTime &since)
{
    std::vector<LogEntry> entries;
    readEntriesSince(since, [&](LogEntry &&entry) { entries.push_back(std::move(entry)); });
    return entries;
}

void Log::setStderrEnabled(bool enabled)
{
    auto &s = state();
    std::lock_guard lock(s.mutex);
    s.stderrEnabled = enabled;
}

Log::Capture::Capture()
{
    auto &s = state();
    std::lock_guard lock(s.mutex);
    s.captures.emplace_back(this, std::vector<LogEntry>{});
}

Log::Capture::~Capture()
{
    auto &s = state();
    std::lock_guard lock(s.mutex);
    std::erase_if(s.captures, [this](const auto &capture) { return capture.first == this; });
}

std::vector<LogEntry> Log::Capture::entries() const
{
    auto &s = state();
    std::lock_guard lock(s.mutex);
    for (const auto &capture : s.captures)
        if (capture.first == this)
            return capture.second;
    return {};
}

bool Log::Capture::contains(const QString &text) const
{
    return count(text) > 0;
}

int Log::Capture::count(const QString &text) const
{
    int n = 0;
    for (const auto &entry : entries())
        if (entry.message.contains(text))
            ++n;
    return n;
}

void Log::Capture::clear()
{
    auto &s = state();
    std::lock_guard lock(s.mutex);
    for (auto &capture : s.captures)
        if (capture.first == this)
            capture.second.clear();
}

} // namespace corvane
