#include "platform/desktop/OpenPanel.h"

#include "platform/queues/DispatchQueue.h"

#include <QFileInfo>
#include <QMimeDatabase>

#include <mutex>

namespace corvane {

namespace {

class CancellingOpenPanel : public OpenPanel {
public:
    QStringList runModal(const OpenPanelSpec &) override { return {}; }
    void begin(const OpenPanelSpec &, Completion completion) override
    {
        DispatchQueue::main()->async([completion] {
            if (completion)
                completion({});
        });
    }
};

std::mutex g_mutex;
std::shared_ptr<OpenPanel> g_shared;

// The MIME type families a uniform type name stands for.
QString mimePrefix(const QString &type)
{
    if (type == QLatin1String("public.image"))
        return QStringLiteral("image/");
    if (type == QLatin1String("public.movie"))
        return QStringLiteral("video/");
    return {};
}

QStringList patternsFor(const QString &type)
{
    const QString prefix = mimePrefix(type);
    if (prefix.isEmpty())
        return {QStringLiteral("*.") + type};
    QStringList patterns;
    for (const QMimeType &mime : QMimeDatabase().allMimeTypes()) {
        if (mime.name().startsWith(prefix))
            patterns += mime.globPatterns();
    }
    patterns.removeDuplicates();
    return patterns;
}

} // namespace

QStringList OpenPanel::bundleExtensions()
{
    return {QStringLiteral("app"), QStringLiteral("xcappdata")};
}

bool OpenPanel::isBundle(const QString &path)
{
    const QFileInfo info(path);
    return info.isDir() && bundleExtensions().contains(info.suffix(), Qt::CaseInsensitive);
}

bool OpenPanel::allows(const QStringList &allowedTypes, const QString &path)
{
    if (allowedTypes.isEmpty())
        return true;
    const QFileInfo info(path);
    for (const QString &type : allowedTypes) {
        const QString prefix = mimePrefix(type);
        if (prefix.isEmpty()) {
            if (info.suffix().compare(type, Qt::CaseInsensitive) == 0)
                return true;
        } else if (QMimeDatabase().mimeTypeForFile(info).name().startsWith(prefix)) {
            return true;
        }
    }
    return false;
}

QStringList OpenPanel::nameFilters(const QStringList &allowedTypes)
{
    if (allowedTypes.isEmpty())
        return {};
    QStringList patterns;
    for (const QString &type : allowedTypes)
        patterns += patternsFor(type);
    patterns.removeDuplicates();
    return {QStringLiteral("(%1)").arg(patterns.join(QLatin1Char(' ')))};
}

std::shared_ptr<OpenPanel> OpenPanel::shared()
{
    std::lock_guard lock(g_mutex);
    if (!g_shared)
        g_shared = std::make_shared<CancellingOpenPanel>();
    return g_shared;
}

void OpenPanel::setShared(std::shared_ptr<OpenPanel> panel)
{
    std::lock_guard lock(g_mutex);
    g_shared = std::move(panel);
}

QStringList RecordingOpenPanel::next()
{
    if (m_answers.empty())
        return {};
    QStringList answer = m_answers.front();
    m_answers.erase(m_answers.begin());
    return answer;
}

QStringList RecordingOpenPanel::runModal(const OpenPanelSpec &spec)
{
    presented.push_back(spec);
    return next();
}

void RecordingOpenPanel::begin(const OpenPanelSpec &spec, Completion completion)
{
    presented.push_back(spec);
    DispatchQueue::main()->async([completion, answer = next()] {
        if (completion)
            completion(answer);
    });
}

} // namespace corvane
