#pragma once

#include "platform/menus/Menu.h"

#include <QString>
#include <QStringList>

#include <memory>

namespace corvane {

class CommandManager;
class Device;
class TaskService;
class Toolset;

// A device's submenu of photo categories: picking one starts a background
// task that fills the device's photo library with photos found for it.
class UnsplashMenu : public Menu {
public:
    // What the menu works with; empty fields get the program's own (the
    // task service as it is when an item is picked).
    struct Environment {
        std::shared_ptr<TaskService> tasks;
        std::shared_ptr<CommandManager> commandManager;
    };

    static std::shared_ptr<UnsplashMenu> make(const std::shared_ptr<Device> &device,
                                              const std::shared_ptr<Toolset> &toolset,
                                              Environment environment = {});

    // The search terms, in menu order.
    static const QStringList &searchTerms();
    // The term with its first character in upper case.
    static QString itemTitle(const QString &searchTerm);

    std::shared_ptr<Device> device() const { return m_device; }
    std::shared_ptr<Toolset> toolset() const { return m_toolset.lock(); }

    // On the main thread: starts the task for the item's term and records
    // it, on the user-initiated queue.
    void unsplash(const ObjectPtr &sender);

private:
    UnsplashMenu(const std::shared_ptr<Device> &device, const std::shared_ptr<Toolset> &toolset,
                 Environment environment);
    void setUp();

    const std::shared_ptr<Device> m_device;
    const std::weak_ptr<Toolset> m_toolset;
    Environment m_environment;
};

} // namespace corvane
