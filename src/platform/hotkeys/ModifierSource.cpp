#include "platform/hotkeys/ModifierSource.h"

#include "platform/menus/KeyEquivalents.h"

#include <QGuiApplication>

namespace corvane {

namespace {

class SystemModifierSource : public ModifierSource {
public:
    KeyModifiers currentModifiers() const override
    {
        if (!qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
            return KeyModifier::None;
        return KeyEquivalents::fromQtModifiers(QGuiApplication::queryKeyboardModifiers());
    }
};

} // namespace

std::shared_ptr<ModifierSource> ModifierSource::system()
{
    static const auto source = std::make_shared<SystemModifierSource>();
    return source;
}

} // namespace corvane
