#include "platform/hotkeys/HotKeyCenter.h"

#include "platform/Log.h"
#include "platform/hotkeys/X11HotKeyCenter.h"

#include <QGuiApplication>

#include <mutex>

namespace corvane {

namespace {

// Wayland and the offscreen platform give a program no global keys.
class InertHotKeyCenter : public HotKeyCenter {
public:
    bool registerHotKey(quint32, int, unsigned) override
    {
        std::call_once(m_logged, [] {
            QString platform = QGuiApplication::platformName();
            if (platform.isEmpty())
                platform = "none";
            Log("hotkeys").notice(
                "Global hot keys need an X11 session (platform: %{public}@); none registered.",
                platform);
        });
        return false;
    }
    void unregisterHotKey(quint32) override {}
    void setPressHandler(PressHandler) override {}
    void setSuspended(bool suspended) override { m_suspended = suspended; }
    bool isSuspended() const override { return m_suspended; }
    bool isHeldElsewhere(int, unsigned) override { return false; }

private:
    std::once_flag m_logged;
    bool m_suspended = false;
};

} // namespace

std::shared_ptr<HotKeyCenter> HotKeyCenter::makeForPlatform()
{
    if (auto display = X11Display::current())
        return std::make_shared<X11HotKeyCenter>(*display);
    return std::make_shared<InertHotKeyCenter>();
}

std::shared_ptr<HotKeyCenter> HotKeyCenter::shared()
{
    static const std::shared_ptr<HotKeyCenter> center = makeForPlatform();
    return center;
}

} // namespace corvane
