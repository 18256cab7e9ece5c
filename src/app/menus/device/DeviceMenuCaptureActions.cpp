#include "app/menus/CommandManager.h"
#include "app/menus/DeviceActionSupport.h"
#include "app/menus/device/DeviceMenu.h"
#include "app/menus/urls/OpenURLActions.h"
#include "app/menus/urls/URLPromptingAlert.h"
#include "model/Application.h"
#include "model/Device.h"
#include "platform/desktop/AlertPresenter.h"
#include "platform/desktop/Workspace.h"

namespace corvane {

using namespace DeviceActionSupport;

void DeviceMenu::registerCaptureActions()
{
    // Handlers run synchronously from perform, while the menu is alive.
    addAction("copy:", [this](const ObjectPtr &sender) { copy(sender); });
    addAction("paste:", [this](const ObjectPtr &sender) { paste(sender); });
    addAction("openURL:", [this](const ObjectPtr &sender) { openURL(sender); });
    addAction("screenshot:", [this](const ObjectPtr &sender) { screenshot(sender); });
    addAction("copyScreenshot:", [this](const ObjectPtr &sender) { copyScreenshot(sender); });
    addAction("record:", [this](const ObjectPtr &sender) { record(sender); });
    addAction("stopRecording:", [this](const ObjectPtr &sender) { stopRecording(sender); });
    addAction("bringToFront:", [this](const ObjectPtr &sender) { bringToFront(sender); });
    addAction("openBundle:", [this](const ObjectPtr &sender) { openBundle(sender); });
}

void DeviceMenu::performWhenRunning(const ObjectPtr &sender, const QString &selector,
                                    void (Device::*operation)())
{
    if (!simulatorRuns())
        return;
    inBackground([device = m_device, commands = m_environment.commandManager,
                  title = commandTitle(sender), selector,
                  operation] { performAndRecord(*commands, device, title, selector, operation); });
}

void DeviceMenu::copy(const ObjectPtr &sender)
{
    performWhenRunning(sender, QStringLiteral("copy"), &Device::copy);
}

void DeviceMenu::paste(const ObjectPtr &sender)
{
    performWhenRunning(sender, QStringLiteral("paste"), &Device::paste);
}

void DeviceMenu::screenshot(const ObjectPtr &sender)
{
    performWhenRunning(sender, QStringLiteral("screenshot"), &Device::screenshot);
}

void DeviceMenu::copyScreenshot(const ObjectPtr &sender)
{
    performWhenRunning(sender, QStringLiteral("copyScreenshot"), &Device::copyScreenshot);
}

void DeviceMenu::record(const ObjectPtr &sender)
{
    if (m_device->isRecording())
        return;
    performWhenRunning(sender, QStringLiteral("startRecording"), &Device::startRecording);
}

void DeviceMenu::stopRecording(const ObjectPtr &)
{
    if (!m_device->isRecording())
        return;
    // The recording may have ended meanwhile; the device looks again.
    inBackground([device = m_device] { device->stopRecording(); });
}

void DeviceMenu::openURL(const ObjectPtr &)
{
    if (!simulatorRuns())
        return;
    const AlertSpec prompt = URLPromptingAlert::make(m_device->title(), m_device->runtime());
    activateIfNeeded();
    const AlertResponse response = AlertPresenter::shared()->run(prompt);
    if (response.buttonIndex != 0)
        return;
    const auto url = OpenURLActions::urlFromTypedText(response.text);
    if (!url)
        return;
    inBackground([device = m_device, commands = m_environment.commandManager, url = *url] {
        OpenURLActions::openAndRecord(*commands, device, url);
    });
}

void DeviceMenu::bringToFront(const ObjectPtr &)
{
    inBackground([device = m_device] { device->bringToFront(); });
}

void DeviceMenu::openBundle(const ObjectPtr &sender)
{
    const auto item = std::dynamic_pointer_cast<MenuItem>(sender);
    const auto application = item ? item->representedObject().as<Application>() : nullptr;
    if (!application)
        return;
    inBackground(
        [application] { Workspace::shared()->revealFile(application->url().toLocalFile()); });
}

void DeviceMenu::willHighlight(const MenuItemPtr &item)
{
    if (m_lastItem && !m_lastItem->onStateImage().isNull())
        m_lastItem->setOnStateImage(m_lastItem->onStateImage().tinted(ImageRef::TintColor::Accent));
    m_lastItem.reset();
    if (item && item->representedObject().is<Application>() && !item->onStateImage().isNull()) {
        item->setOnStateImage(item->onStateImage().tinted(ImageRef::TintColor::White));
        m_lastItem = item;
    }
}

} // namespace corvane
