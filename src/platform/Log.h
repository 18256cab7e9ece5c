#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <concepts>
#include <functional>
#include <string>
#include <vector>

namespace corvane {

enum class LogLevel { Debug, Info, Notice, Error, Fault };

QString logLevelName(LogLevel level);

struct LogEntry {
    QDateTime time;
    LogLevel level = LogLevel::Info;
    QString category;
    QString format;
    QString message;
    qint64 pid = 0;
    QString processName;
    quint64 threadId = 0;
};

namespace detail {
inline QString logArgument(const QString &value)
{
    return value;
}
inline QString logArgument(const char *value)
{
    return QString::fromUtf8(value);
}
inline QString logArgument(const std::string &value)
{
    return QString::fromStdString(value);
}
inline QString logArgument(const QUrl &value)
{
    return value.isLocalFile() ? value.toLocalFile() : value.toString();
}
inline QString logArgument(bool value)
{
    return value ? "YES" : "NO";
}
template <std::integral T> QString logArgument(T value)
{
    return QString::number(value);
}
template <std::floating_point T> QString logArgument(T value)
{
    return QString::number(value);
}
template <class T>
requires requires(const T &t)
{
    {
        t.description()
        } -> std::convertible_to<QString>;
}
QString logArgument(const T &value)
{
    return value.description();
}
} // namespace detail

// The program's log: one logger per category under the bundle identifier.
// "%@", "%{public}@" and the like are filled with the arguments in order.
class Log {
public:
    static constexpr const char *subsystem = "com.quendrith.corvane";

    explicit Log(QString category) : m_category(std::move(category)) {}

    static Log toolset() { return Log("toolset"); }
    static Log process() { return Log("process"); }
    static Log filewatcher() { return Log("filewatcher"); }
    static Log device() { return Log("device"); }
    static Log location() { return Log("location"); }
    static Log general() { return Log("general"); }

    template <class... A> void debug(const QString &format, const A &...args) const
    {
        write(LogLevel::Debug, format, {detail::logArgument(args)...});
    }
    template <class... A> void info(const QString &format, const A &...args) const
    {
        write(LogLevel::Info, format, {detail::logArgument(args)...});
    }
    template <class... A> void notice(const QString &format, const A &...args) const
    {
        write(LogLevel::Notice, format, {detail::logArgument(args)...});
    }
    template <class... A> void error(const QString &format, const A &...args) const
    {
        write(LogLevel::Error, format, {detail::logArgument(args)...});
    }
    template <class... A> void fault(const QString &format, const A &...args) const
    {
        write(LogLevel::Fault, format, {detail::logArgument(args)...});
    }

    void write(LogLevel level, const QString &format, const QStringList &arguments) const;

    QString category() const { return m_category; }

    static QString fill(const QString &format, const QStringList &arguments);

    // The file of info-and-above entries that the debug-log export reads.
    static void setFile(const QString &path, qint64 maxBytes = 4 * 1024 * 1024);
    static QString filePath();
    // The stored entries from `since` on, oldest first, as they were when the
    // reading began. The program logs on while they are read.
    static std::vector<LogEntry> entriesSince(const QDateTime &since);
    static void readEntriesSince(const QDateTime &since,
                                 const std::function<void(LogEntry &&)> &each);
    static void setStderrEnabled(bool enabled);

    // Keeps every entry written while it lives, for tests.
    class Capture {
    public:
        Capture();
        ~Capture();
        Capture(const Capture &) = delete;
        Capture &operator=(const Capture &) = delete;

        std::vector<LogEntry> entries() const;
        bool contains(const QString &text) const;
        int count(const QString &text) const;
        void clear();
    };

private:
    QString m_category;
};

} // namespace corvane
