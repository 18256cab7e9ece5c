#pragma once

#include "platform/Object.h"

#include <QString>

#include <functional>
#include <map>
#include <memory>

namespace corvane {

// Something a menu item or a recorded command can send an action to. The
// sender is the chosen menu item, the menu, a command's argument or nothing.
class ActionTarget : public Object {
public:
    using Handler = std::function<void(const ObjectPtr &sender)>;

    // Runs the handler registered for the selector; unknown selectors do
    // nothing. Returns whether a handler ran.
    virtual bool perform(const QString &selector, const ObjectPtr &sender);

    bool respondsTo(const QString &selector) const;

protected:
    // Handlers are called synchronously by perform, so they may use `this`.
    void addAction(const QString &selector, Handler handler);

private:
    std::map<QString, Handler> m_actions;
};

using ActionTargetPtr = std::shared_ptr<ActionTarget>;

} // namespace corvane
