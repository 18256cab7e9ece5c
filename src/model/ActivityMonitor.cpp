#include "model/ActivityMonitor.h"

#include "core/ProcessRunner.h"
#include "core/Uuid.h"
#include "platform/files/SystemPaths.h"

#include <QRegularExpression>

#include <exception>

namespace corvane {

namespace {

constexpr auto kFreshness = std::chrono::seconds(2);

// ASCII white space, as \s of the process-list expressions.
bool isBlank(QChar c)
{
    const char16_t u = c.unicode();
    return u == u' ' || (u >= u'\t' && u <= u'\r');
}

bool isDigit(QChar c)
{
    return c.unicode() >= u'0' && c.unicode() <= u'9';
}

// [0-9A-Z\-]{36}: how CoreSimulator names its folders.
bool isFolderUuid(QStringView text)
{
    if (text.size() != 36)
        return false;
    for (QChar c : text) {
        const char16_t u = c.unicode();
        if (!((u >= u'0' && u <= u'9') || (u >= u'A' && u <= u'Z') || u == u'-'))
            return false;
    }
    return true;
}

struct ApplicationLine {
    QStringView pid;
    QStringView path;
    QStringView device;
    QStringView application;
};

// What the expression
//   ^\s*(\d+)\s+(\S+)\s+(\S+)\s+(\/.+\/Library\/Developer\/CoreSimulator\/Devices\/
//   ([0-9A-Z\-]{36})\/data\/Containers\/Bundle\/Application\/([0-9A-Z\-]{36})\/.*\.app\/.*)\s*$
// finds, in one pass (the expression is quadratic on a line that repeats the
// folder fragment without ".app/"): the pid, the path from its first "/" to
// the end of the line, and the UUIDs of the last fragment that some ".app/"
// follows. Lines hold no line breaks.
std::optional<ApplicationLine> matchApplicationLine(QStringView line)
{
    const qsizetype size = line.size();
    qsizetype at = 0;
    const auto skipBlanks = [&] {
        const qsizetype start = at;
        while (at < size && isBlank(line[at]))
            ++at;
        return at > start;
    };
    const auto skipWord = [&] {
        const qsizetype start = at;
        while (at < size && !isBlank(line[at]))
            ++at;
        return at > start;
    };
    skipBlanks();
    const qsizetype pidStart = at;
    while (at < size && isDigit(line[at]))
        ++at;
    if (at == pidStart)
        return std::nullopt;
    const QStringView pid = line.mid(pidStart, at - pidStart);
    if (!skipBlanks() || !skipWord() || !skipBlanks() || !skipWord() || !skipBlanks())
        return std::nullopt;
    if (at >= size || line[at] != u'/')
        return std::nullopt;
    const qsizetype pathStart = at;

    static constexpr QStringView devices = u"/Library/Developer/CoreSimulator/Devices/";
    static constexpr QStringView application = u"/data/Containers/Bundle/Application/";
    const qsizetype fragmentLength = devices.size() + 36 + application.size() + 36 + 1;
    const qsizetype lastApp = line.lastIndexOf(u".app/");
    if (lastApp < 0)
        return std::nullopt;

    std::optional<ApplicationLine> found;
    for (qsizetype i = line.indexOf(devices, pathStart + 2);
         i >= 0 && i + fragmentLength <= lastApp; i = line.indexOf(devices, i + 1)) {
        const QStringView device = line.mid(i + devices.size(), 36);
        const qsizetype afterDevice = i + devices.size() + 36;
        if (!isFolderUuid(device) || line.mid(afterDevice, application.size()) != application)
            continue;
        const QStringView app = line.mid(afterDevice + application.size(), 36);
        if (!isFolderUuid(app) || line[i + fragmentLength - 1] != u'/')
            continue;
        found = ApplicationLine{pid, line.mid(pathStart), device, app};
    }
    return found;
}

const QRegularExpression &simulatorExpression()
{
    static const QRegularExpression expression(
        R"(^\s*(\d+)\s+([^\s]+)\s+([^\s]+)\s+launchd_sim\s(\/.+\/Library\/Developer\/CoreSimulator\/Devices\/([0-9A-Z\-]{36,36})\/data\/var\/run\/launchd_bootstrap\.plist)\s*$)",
        QRegularExpression::MultilineOption);
    return expression;
}

std::optional<QRegularExpressionMatch> firstMatch(const QRegularExpression &expression,
                                                  const QString &line)
{
    if (!expression.isValid())
        return std::nullopt;
    QRegularExpressionMatch match = expression.match(line);
    if (!match.hasMatch())
        return std::nullopt;
    return match;
}

std::optional<std::int32_t> parsePid(QStringView digits)
{
    bool ok = false;
    const int pid = digits.toInt(&ok, 10);
    if (!ok)
        return std::nullopt;
    return std::int32_t(pid);
}

bool isNewline(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= 0x0A && u <= 0x0D) || u == 0x85 || u == 0x2028 || u == 0x2029;
}

} // namespace

ActivityMonitor::ActivityMonitor(ClockFunction clock)
    : m_clock(clock ? std::move(clock) : [] { return std::chrono::system_clock::now(); }),
      m_snapshot(std::make_shared<const ProcessList>())
{
}

std::shared_ptr<ActivityMonitor> ActivityMonitor::shared()
{
    static const std::shared_ptr<ActivityMonitor> instance(new ActivityMonitor({}));
    return instance;
}

std::shared_ptr<ActivityMonitor> ActivityMonitor::make(ClockFunction clock)
{
    return std::shared_ptr<ActivityMonitor>(new ActivityMonitor(std::move(clock)));
}

std::optional<ActivityMonitor::SimulatorProcess>
ActivityMonitor::ProcessList::simulatorProcess(const QUuid &deviceUUID) const
{
    for (const auto &process : simulators)
        if (process.deviceUUID == deviceUUID)
            return process;
    return std::nullopt;
}

std::optional<ActivityMonitor::SimApplicationProcess>
ActivityMonitor::ProcessList::applicationProcess(const QUuid &applicationUUID) const
{
    for (const auto &process : applications)
        if (process.applicationUUID == applicationUUID)
            return process;
    return std::nullopt;
}

ActivityMonitor::Snapshot ActivityMonitor::latestSnapshot()
{
    std::lock_guard lock(m_mutex);
    if (isStale(m_clock()) && !m_listingScheduled) {
        m_listingScheduled = true;
        DispatchQueue::background()->async([weak = weakAs<ActivityMonitor>()] {
            if (auto monitor = weak.lock())
                monitor->listScheduled();
        });
    }
    return m_snapshot;
}

ActivityMonitor::Snapshot ActivityMonitor::snapshot() const
{
    std::lock_guard lock(m_mutex);
    return m_snapshot;
}

void ActivityMonitor::listScheduled()
{
    for (;;) {
        TimePoint started;
        {
            std::lock_guard lock(m_mutex);
            started = m_clock();
            if (!isStale(started)) {
                m_listingScheduled = false;
                return;
            }
            m_lastCheck = started;
        }
        readProcesses();
        std::lock_guard lock(m_mutex);
        // Marked out of date while ps ran: what it listed may predate the
        // change, so list again.
        if (m_lastCheck == started) {
            m_listingScheduled = false;
            return;
        }
    }
}

std::shared_ptr<NotificationObserver> ActivityMonitor::observeChanges(DispatchQueuePtr queue,
                                                                      std::function<void()> handler)
{
    return observeNotification<ActivityMonitor>(
        processesDidChange, sharedAs<ActivityMonitor>(), std::move(queue),
        [handler = std::move(handler)](const Notification &,
                                       const std::shared_ptr<ActivityMonitor> &) { handler(); });
}

std::optional<ActivityMonitor::SimulatorProcess>
ActivityMonitor::simulatorProcess(const QUuid &deviceUUID)
{
    refreshIfStale();
    std::lock_guard lock(m_mutex);
    return m_snapshot->simulatorProcess(deviceUUID);
}

std::optional<ActivityMonitor::SimApplicationProcess>
ActivityMonitor::applicationProcess(const QUuid &applicationUUID)
{
    refreshIfStale();
    std::lock_guard lock(m_mutex);
    return m_snapshot->applicationProcess(applicationUUID);
}

bool ActivityMonitor::isStale(TimePoint now) const
{
    return now - m_lastCheck > kFreshness;
}

void ActivityMonitor::refreshIfStale()
{
    {
        // Checking and advancing under one lock lets only one of several
        // simultaneous questions run ps.
        std::lock_guard lock(m_mutex);
        const TimePoint now = m_clock();
        if (!isStale(now))
            return;
        m_lastCheck = now;
    }
    readProcesses();
}

void ActivityMonitor::refreshProcesses()
{
    {
        std::lock_guard lock(m_mutex);
        m_lastCheck = m_clock();
    }
    readProcesses();
}

void ActivityMonitor::readProcesses()
{
    // Listings may overlap (a menu's in the background, an action's on its
    // queue): one that started earlier never replaces a later one's list.
    const auto reading = m_readings.begin();
    std::optional<QString> output;
    try {
        output = runProcess(SystemPaths::current().ps, psArguments(), listingTimeLimit);
    } catch (const std::exception &) {
        // The runner has logged it; the old lists stay.
        return;
    }
    if (!output)
        return;
    auto list = std::make_shared<const ProcessList>(parseProcessList(*output));
    bool changed = false;
    m_readings.applyIfNewest(reading, [&] {
        std::lock_guard lock(m_mutex);
        changed = *list != *m_snapshot;
        if (changed)
            m_snapshot = std::move(list);
    });
    if (changed)
        postNotification(processesDidChange, shared_from_this());
}

void ActivityMonitor::markOutOfDate()
{
    std::lock_guard lock(m_mutex);
    m_lastCheck = TimePoint();
}

std::vector<ActivityMonitor::SimApplicationProcess> ActivityMonitor::applicationProcesses() const
{
    std::lock_guard lock(m_mutex);
    return m_snapshot->applications;
}

std::vector<ActivityMonitor::SimulatorProcess> ActivityMonitor::simulatorProcesses() const
{
    std::lock_guard lock(m_mutex);
    return m_snapshot->simulators;
}

ActivityMonitor::TimePoint ActivityMonitor::lastCheck() const
{
    std::lock_guard lock(m_mutex);
    return m_lastCheck;
}

QStringList ActivityMonitor::psArguments()
{
#ifdef Q_OS_MACOS
    return {"-ex"};
#else
    // procps' "-ex" adds a state column and the environment, which the
    // expressions do not expect.
    return {"-e", "-ww", "-o", "pid=,tty=,time=,args="};
#endif
}

std::optional<ActivityMonitor::SimApplicationProcess>
ActivityMonitor::parseApplicationProcess(const QString &line)
{
    const auto match = matchApplicationLine(line);
    if (!match)
        return std::nullopt;
    const auto pid = parsePid(match->pid);
    if (!pid)
        return std::nullopt;
    const auto deviceUUID = parseUuid(match->device);
    const auto applicationUUID = parseUuid(match->application);
    if (!deviceUUID || !applicationUUID)
        return std::nullopt;
    return SimApplicationProcess{*pid, QUrl::fromLocalFile(match->path.toString()), *deviceUUID,
                                 *applicationUUID};
}

std::optional<ActivityMonitor::SimulatorProcess>
ActivityMonitor::parseSimulatorProcess(const QString &line)
{
    const auto match = firstMatch(simulatorExpression(), line);
    if (!match)
        return std::nullopt;
    const auto pid = parsePid(match->capturedView(1));
    const auto deviceUUID = parseUuid(match->capturedView(5));
    if (!pid || !deviceUUID)
        return std::nullopt;
    return SimulatorProcess{*pid, *deviceUUID};
}

ActivityMonitor::ProcessList ActivityMonitor::parseProcessList(const QString &output)
{
    ProcessList list;
    std::vector<QString> lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i <= output.size(); ++i) {
        if (i < output.size() && !isNewline(output[i]))
            continue;
        const QStringView line = QStringView(output).mid(start, i - start);
        start = i + 1;
        if (line.contains(u"CoreSimulator"))
            lines.push_back(line.toString());
    }
    // Each expression needs its own literal, so lines without it are not
    // worth a match.
    for (const QString &line : lines)
        if (line.contains(u"/data/Containers/Bundle/Application/"))
            if (auto process = parseApplicationProcess(line))
                list.applications.push_back(std::move(*process));
    for (const QString &line : lines)
        if (line.contains(u"launchd_sim"))
            if (auto process = parseSimulatorProcess(line))
                list.simulators.push_back(std::move(*process));
    return list;
}

} // namespace corvane
