#pragma once

#include "platform/desktop/OpenPanel.h"
#include "platform/desktop/SavePanel.h"

namespace corvane {

// Open panels as Qt's own file dialog, in which bundle folders (".app",
// ".xcappdata") are chosen like files instead of being entered.
class QtOpenPanel : public OpenPanel {
public:
    QStringList runModal(const OpenPanelSpec &spec) override;
    void begin(const OpenPanelSpec &spec, Completion completion) override;
};

class QtSavePanel : public SavePanel {
public:
    std::optional<QString> runModal(const SavePanelSpec &spec) override;
    void begin(const SavePanelSpec &spec, Completion completion) override;
};

} // namespace corvane
