#include "platform/menus/ActionTarget.h"

namespace corvane {

bool ActionTarget::perform(const QString &selector, const ObjectPtr &sender)
{
    auto found = m_actions.find(selector);
    if (found == m_actions.end() || !found->second)
        return false;
    found->second(sender);
    return true;
}

bool ActionTarget::respondsTo(const QString &selector) const
{
    return m_actions.count(selector) != 0;
}

void ActionTarget::addAction(const QString &selector, Handler handler)
{
    m_actions[selector] = std::move(handler);
}

} // namespace corvane
