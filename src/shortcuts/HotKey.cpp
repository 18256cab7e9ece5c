#include "shortcuts/HotKey.h"

#include "platform/hotkeys/HotKeyCenter.h"

#include <atomic>

namespace corvane {

namespace {
std::atomic<quint32> g_lastCarbonID{0};
} // namespace

std::unique_ptr<HotKey>
HotKey::registeredHotKeyWithShortcut(const Shortcut &shortcut,
                                     const std::shared_ptr<HotKeyCenter> &center)
{
    const quint32 id = ++g_lastCarbonID;
    if (!center->registerHotKey(id, int(shortcut.carbonKeyCode()), shortcut.carbonFlags()))
        return nullptr;
    return std::unique_ptr<HotKey>(new HotKey(id, center));
}

HotKey::HotKey(quint32 carbonID, std::shared_ptr<HotKeyCenter> center)
    : m_carbonID(carbonID), m_center(std::move(center))
{
}

HotKey::~HotKey()
{
    m_center->unregisterHotKey(m_carbonID);
}

} // namespace corvane
