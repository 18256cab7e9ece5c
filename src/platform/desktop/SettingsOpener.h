#pragma once

#include <QString>

#include <functional>

namespace corvane {

// Opens the settings window at a pane ("locations") for code below the
// application shell, which installs how it is done. Until then nothing opens.
class SettingsOpener {
public:
    using Handler = std::function<void(const QString &paneIdentifier)>;

    static void setHandler(Handler handler);
    // Main thread.
    static void showPane(const QString &paneIdentifier);
};

} // namespace corvane
