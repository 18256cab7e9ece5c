#include "app/menus/values/ContentSizeMenu.h"

namespace corvane {

void ContentSizeTraits::write(const std::shared_ptr<Device> &device, Value value, CommandManager &)
{
    device->setContentSize(value);
}

template class ValueMenu<ContentSizeTraits>;

} // namespace corvane
