#include "shortcuts/ShortcutMonitor.h"

#include "platform/queues/DispatchQueue.h"
#include "platform/hotkeys/HotKeyCenter.h"

namespace corvane {

std::shared_ptr<ShortcutMonitor> ShortcutMonitor::sharedMonitor()
{
    static const auto monitor = make(HotKeyCenter::shared());
    return monitor;
}

std::shared_ptr<ShortcutMonitor> ShortcutMonitor::make(std::shared_ptr<HotKeyCenter> center)
{
    std::shared_ptr<ShortcutMonitor> monitor(new ShortcutMonitor(std::move(center)));
    monitor->m_center->setPressHandler(
        [weak = std::weak_ptr<ShortcutMonitor>(monitor)](quint32 carbonID) {
            if (auto strong = weak.lock())
                strong->handlePress(carbonID);
        });
    return monitor;
}

ShortcutMonitor::ShortcutMonitor(std::shared_ptr<HotKeyCenter> center) : m_center(std::move(center))
{
}

ShortcutMonitor::~ShortcutMonitor()
{
    m_hotKeys.clear();
    m_center->setPressHandler(nullptr);
}

void ShortcutMonitor::handlePress(quint32 carbonID)
{
    for (const auto &[shortcut, hotKey] : m_hotKeys) {
        if (hotKey->carbonID() != carbonID)
            continue;
        if (hotKey->action())
            DispatchQueue::main()->async(hotKey->action());
        return;
    }
}

bool ShortcutMonitor::registerShortcut(const Shortcut &shortcut, HotKey::Action action)
{
    auto hotKey = HotKey::registeredHotKeyWithShortcut(shortcut, m_center);
    if (!hotKey)
        return false;
    hotKey->setAction(std::move(action));
    // The older hot key goes after the newer one is in place; the center
    // keeps the combination grabbed for the newer.
    m_hotKeys[shortcut] = std::move(hotKey);
    return true;
}

void ShortcutMonitor::unregisterShortcut(const std::optional<Shortcut> &shortcut)
{
    if (shortcut)
        m_hotKeys.erase(*shortcut);
}

void ShortcutMonitor::unregisterAllShortcuts()
{
    m_hotKeys.clear();
}

bool ShortcutMonitor::isShortcutRegistered(const Shortcut &shortcut) const
{
    return m_hotKeys.count(shortcut) != 0;
}

} // namespace corvane
