#pragma once

#include "platform/files/SystemPaths.h"

#include <QByteArray>
#include <QString>

namespace corvane {

// Starts the program when the user logs in: an XDG autostart entry named after
// the login item's identifier, in SystemPaths' autostart folder.
class LoginItem {
public:
    static constexpr const char *identifier = "com.quendrith.corvane.launchagent";

    // "<autostart folder>/com.quendrith.corvane.launchagent.desktop"; empty
    // when there is no autostart folder.
    static QString entryPath(const SystemPaths &paths = SystemPaths::current());

    // The entry exists and neither hides itself nor is switched off.
    static bool isEnabled(const SystemPaths &paths = SystemPaths::current());

    // Writes the entry (atomically) for the running program, or removes it.
    // False when that could not be done; the entry is then as it was.
    static bool setEnabled(bool enabled, const SystemPaths &paths = SystemPaths::current());
    static bool setEnabled(bool enabled, const QString &programPath, const QString &name,
                           const SystemPaths &paths = SystemPaths::current());

    // The text of an entry that starts the program at that path.
    static QByteArray entryContents(const QString &programPath, const QString &name);
    // The path as one argument of an Exec value: quoted, with the escapes the
    // desktop entry rules ask for.
    static QString execArgument(const QString &programPath);
    // Whether an entry's text leaves it switched on (no "Hidden=true", no
    // "X-GNOME-Autostart-enabled=false" in its main group).
    static bool contentsAreEnabled(const QByteArray &contents);
};

} // namespace corvane
