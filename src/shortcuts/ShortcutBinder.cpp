#include "shortcuts/ShortcutBinder.h"

#include "platform/queues/DispatchQueue.h"
#include "shortcuts/ShortcutMonitor.h"

#include <mutex>
#include <stdexcept>

namespace corvane {

namespace {
std::mutex g_mutex;
bool g_installed = false;
std::shared_ptr<ShortcutBinder> g_binder;
} // namespace

std::shared_ptr<ShortcutBinder> ShortcutBinder::sharedBinder()
{
    std::lock_guard lock(g_mutex);
    if (!g_installed) {
        g_binder = std::make_shared<ShortcutBinder>();
        g_installed = true;
    }
    return g_binder;
}

void ShortcutBinder::setSharedBinder(std::shared_ptr<ShortcutBinder> binder)
{
    std::lock_guard lock(g_mutex);
    g_binder = std::move(binder);
    g_installed = true;
}

ShortcutBinder::ShortcutBinder(std::shared_ptr<ShortcutMonitor> monitor,
                               std::shared_ptr<UserDefaults> defaults)
    : m_monitor(std::move(monitor)), m_defaults(std::move(defaults))
{
}

ShortcutBinder::~ShortcutBinder() = default;

std::shared_ptr<ShortcutMonitor> ShortcutBinder::monitor()
{
    if (!m_monitor)
        m_monitor = ShortcutMonitor::sharedMonitor();
    return m_monitor;
}

std::shared_ptr<UserDefaults> ShortcutBinder::defaults()
{
    if (!m_defaults)
        m_defaults = UserDefaults::standard();
    return m_defaults;
}

void ShortcutBinder::bindShortcutWithDefaultsKey(const QString &defaultsKey, Action action)
{
    for (QChar illegal : {QChar('.'), QChar(' ')})
        if (defaultsKey.contains(illegal))
            throw std::invalid_argument(QString("Illegal character '%1' in the defaults key \"%2\"")
                                            .arg(illegal)
                                            .arg(defaultsKey)
                                            .toStdString());
    m_actions[defaultsKey] = std::move(action);
    // Changes may be written on any thread; the newest stored value is taken
    // on the main thread.
    m_observations[defaultsKey] = defaults()->observe(
        defaultsKey, [weak = weak_from_this(), defaultsKey](const std::optional<QVariant> &) {
            auto apply = [weak, defaultsKey] {
                if (auto binder = weak.lock())
                    binder->refresh(defaultsKey);
            };
            if (DispatchQueue::isMainThread())
                apply();
            else
                DispatchQueue::main()->async(apply);
        });
    refresh(defaultsKey);
}

void ShortcutBinder::breakBindingWithDefaultsKey(const QString &defaultsKey)
{
    if (auto shortcut = m_shortcuts.find(defaultsKey); shortcut != m_shortcuts.end())
        monitor()->unregisterShortcut(shortcut->second);
    m_shortcuts.erase(defaultsKey);
    m_actions.erase(defaultsKey);
    m_observations.erase(defaultsKey);
}

void ShortcutBinder::registerDefaultShortcuts(const std::map<QString, Shortcut> &shortcuts)
{
    QVariantMap values;
    for (const auto &[key, shortcut] : shortcuts)
        values.insert(key, shortcut.archived());
    defaults()->registerDefaults(values);
}

std::optional<Shortcut> ShortcutBinder::shortcutForKey(const QString &defaultsKey) const
{
    if (auto found = m_shortcuts.find(defaultsKey); found != m_shortcuts.end())
        return found->second;
    return std::nullopt;
}

void ShortcutBinder::refresh(const QString &defaultsKey)
{
    if (!m_actions.count(defaultsKey))
        return;
    setShortcut(defaultsKey, Shortcut::fromStoredValue(defaults()->object(defaultsKey)));
}

void ShortcutBinder::setShortcut(const QString &defaultsKey,
                                 const std::optional<Shortcut> &shortcut)
{
    if (auto old = m_shortcuts.find(defaultsKey); old != m_shortcuts.end())
        monitor()->unregisterShortcut(old->second);
    if (!shortcut) {
        m_shortcuts.erase(defaultsKey);
        return;
    }
    m_shortcuts.insert_or_assign(defaultsKey, *shortcut);
    monitor()->registerShortcut(*shortcut, m_actions[defaultsKey]);
}

} // namespace corvane
