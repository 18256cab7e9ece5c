#include "app/menus/root/RootMenu.h"

#include "app/menus/ApplicationMenuItem.h"
#include "app/menus/CommandManager.h"
#include "app/menus/DeviceTitle.h"
#include "core/StringCompare.h"
#include "core/StringHelpers.h"
#include "model/Application.h"
#include "model/Device.h"
#include "platform/queues/DispatchQueue.h"
#include "platform/Loc.h"

#include <algorithm>

namespace corvane {

namespace {

// An installed build and where it stands in the order of recent builds.
struct Candidate {
    ApplicationPtr application;
    qint64 created = 0;
    size_t deviceIndex = 0;
};

constexpr int kRepeatTitleWidth = 20;

// Newer bundles first; among equal dates the device shown first, then the
// title.
bool comesFirst(const Candidate &a, const Candidate &b)
{
    if (a.created != b.created)
        return a.created > b.created;
    if (a.deviceIndex != b.deviceIndex)
        return a.deviceIndex < b.deviceIndex;
    return standardLess(a.application->title(), b.application->title());
}

// The redo item's second line: where the command ran, when that is a device
// or an application on a live device.
std::optional<QString> repeatLine(const ObjectPtr &target)
{
    if (const auto device = std::dynamic_pointer_cast<Device>(target))
        return "Repeat on " + DeviceTitle::withRuntime(*device);
    const auto application = std::dynamic_pointer_cast<Application>(target);
    const auto device = application ? application->device() : nullptr;
    if (!device)
        return std::nullopt;
    return "Repeat for " +
           truncateString(kRepeatTitleWidth, TruncationPosition::tail, QStringLiteral("…"),
                          application->title()) +
           " on " + DeviceTitle::menuTitle(*device);
}

} // namespace

bool RootMenu::deferUntilFilled(bool RootMenu::*pending)
{
    std::lock_guard lock(m_fillMutex);
    if (m_filled)
        return false;
    this->*pending = true;
    return true;
}

void RootMenu::finishFirstFill()
{
    bool submenus = false;
    bool redo = false;
    {
        std::lock_guard lock(m_fillMutex);
        m_filled = true;
        submenus = std::exchange(m_submenusPending, false);
        redo = std::exchange(m_redoPending, false);
    }
    if (!submenus && !redo)
        return;
    DispatchQueue::main()->async([weak = weakAs<RootMenu>(), submenus, redo] {
        const auto menu = weak.lock();
        if (!menu)
            return;
        // Which devices changed meanwhile is not known: all are read again.
        if (submenus) {
            menu->m_newestBuilds.clear();
            menu->fillRecentItems();
        }
        if (redo)
            menu->fillRedoItem();
    });
}

std::vector<ApplicationPtr> RootMenu::newestApplications(const std::vector<DevicePtr> &devices,
                                                         size_t count)
{
    // A few kept in order while walking the builds: thousands of them are
    // never sorted, and titles are compared only on equal dates.
    auto keep = [count](std::vector<Candidate> &newest, Candidate candidate) {
        if (newest.size() == count && !comesFirst(candidate, newest.back()))
            return;
        newest.insert(std::upper_bound(newest.begin(), newest.end(), candidate, comesFirst),
                      std::move(candidate));
        if (newest.size() > count)
            newest.pop_back();
    };
    std::vector<Candidate> newest;
    if (count == 0)
        return {};
    newest.reserve(count + 1);
    decltype(m_newestBuilds) seen;
    seen.reserve(devices.size());
    for (size_t index = 0; index < devices.size(); ++index) {
        const auto &device = devices[index];
        if (!device)
            continue;
        auto cached = m_newestBuilds.extract(device.get());
        DeviceBuilds builds;
        if (!cached.empty() && cached.mapped().device.lock() == device) {
            builds = std::move(cached.mapped());
        } else {
            std::vector<Candidate> own;
            for (const auto &[identifier, application] : device->applicationTable())
                if (application)
                    keep(own, {application, application->created().toMSecsSinceEpoch(), 0});
            builds.device = device;
            for (auto &candidate : own)
                builds.newest.emplace_back(candidate.created, std::move(candidate.application));
        }
        for (const auto &[created, application] : builds.newest)
            keep(newest, {application, created, index});
        seen.emplace(device.get(), std::move(builds));
    }
    m_newestBuilds = std::move(seen);
    std::vector<ApplicationPtr> result;
    result.reserve(newest.size());
    for (auto &candidate : newest)
        result.push_back(std::move(candidate.application));
    return result;
}

void RootMenu::forgetNewestBuilds(const ObjectPtr &object)
{
    // During the first fill, the refresh that follows it reads every device.
    if (deferUntilFilled(&RootMenu::m_submenusPending))
        return;
    if (const auto device = std::dynamic_pointer_cast<Device>(object)) {
        m_newestBuilds.erase(device.get());
        return;
    }
    const auto application = std::dynamic_pointer_cast<Application>(object);
    const auto device = application ? application->device() : nullptr;
    if (device)
        m_newestBuilds.erase(device.get());
    else
        m_newestBuilds.clear();
}

void RootMenu::refreshSubmenus()
{
    if (!deferUntilFilled(&RootMenu::m_submenusPending))
        fillRecentItems();
}

void RootMenu::fillRecentItems()
{
    const auto newest = newestApplications(currentDevices(), m_recentItems.size());
    if (newest.empty()) {
        clearRecentItems();
        return;
    }
    // A reinstall is a new bundle folder, so equal locations in the same
    // order mean nothing changed.
    std::vector<QUrl> shown;
    for (const auto &item : m_recentItems)
        if (const auto application = item->application())
            shown.push_back(application->url());
    std::vector<QUrl> next;
    for (const auto &application : newest)
        next.push_back(application->url());
    if (shown != next)
        showRecentApplications(newest);
}

void RootMenu::showRecentApplications(const std::vector<ApplicationPtr> &applications)
{
    // An application menu follows its application to another row, and to a
    // reinstall of it on the same device.
    std::vector<std::pair<ApplicationPtr, MenuPtr>> collected;
    for (const auto &item : m_recentItems) {
        if (auto submenu = item->submenu())
            collected.emplace_back(item->application(), std::move(submenu));
        item->setSubmenu(nullptr);
        item->setTarget({});
    }
    const auto toolset = m_toolset.lock();
    for (size_t i = 0; i < m_recentItems.size(); ++i) {
        const auto &item = m_recentItems[i];
        if (i >= applications.size()) {
            item->setRepresentedObject({});
            continue;
        }
        const auto &application = applications[i];
        item->setRepresentedObject(application);
        MenuPtr submenu;
        const auto reusable =
            std::find_if(collected.begin(), collected.end(), [&](const auto &entry) {
                // Equal applications: the same identifier on the same device.
                return entry.first && *entry.first == *application;
            });
        if (reusable != collected.end()) {
            submenu = std::move(reusable->second);
            collected.erase(reusable);
        } else {
            submenu = m_environment.applicationMenuFactory(application, toolset, true);
        }
        if (submenu) {
            item->setSubmenu(submenu);
            item->setTarget(submenu);
        }
    }
}

void RootMenu::clearRecentItems()
{
    for (const auto &item : m_recentItems) {
        item->setRepresentedObject({});
        item->setSubmenu(nullptr);
        item->setTarget({});
    }
}

void RootMenu::updateRedoItem()
{
    if (!deferUntilFilled(&RootMenu::m_redoPending))
        fillRedoItem();
}

void RootMenu::fillRedoItem()
{
    const auto command = m_environment.commandManager->newestLiveCommand();
    if (!command) {
        m_redoItem->setTwoLineTitle(std::nullopt);
        m_redoItem->setTitle(loc("No Recent Command", "REDO_NORECENT_ITEM_TITLE"));
        m_redoItem->setRepresentedObject({});
        m_redoItem->setEnabled(false);
        return;
    }
    m_redoItem->setTitle(command->title);
    const auto where = repeatLine(command->loadTarget());
    m_redoItem->setTwoLineTitle(
        where ? std::optional(TwoLineTitle{command->title, *where, TwoLineTitle::Role::Text})
              : std::nullopt);
    m_redoItem->setRepresentedObject(*command);
}

void RootMenu::redo(const ObjectPtr &sender)
{
    const auto item = std::dynamic_pointer_cast<MenuItem>(sender);
    if (const auto command =
            item ? item->representedObject().as<CommandManager::Command>() : std::nullopt)
        CommandManager::repeat(*command);
}

} // namespace corvane
