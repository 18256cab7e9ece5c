#include "platform/ModifierSource.h"

#include <QGuiApplication>

namespace corvane {

namespace {

class SystemModifierSource : public ModifierSource {
public:
    KeyModifiers currentModifiers() const override
    {
        if (!qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
            return KeyModifier::None;
        const Qt::KeyboardModifiers qt = QGuiApplication::queryKeyboardModifiers();
        KeyModifiers result;
        if (qt & Qt::ShiftModifier)
            result |= KeyModifier::Shift;
        if (qt & Qt::ControlModifier)
            result |= KeyModifier::Command;
        if (qt & Qt::MetaModifier)
            result |= KeyModifier::Control;
        if (qt & Qt::AltModifier)
            result |= KeyModifier::Option;
        return result;
    }
};

} // namespace

std::shared_ptr<ModifierSource> ModifierSource::system()
{
    static const auto source = std::make_shared<SystemModifierSource>();
    return source;
}

} // namespace corvane
