#pragma once

#include <QString>

namespace corvane {

// Every fixed path of the outside world, with its macOS default and an
// environment variable that overrides it (tests and the Linux demo).
struct SystemPaths {
    QString applicationsDir;     // CORVANE_APPLICATIONS_DIR, "/Applications/"
    QString xcodeSelect;         // CORVANE_XCODE_SELECT, "/usr/bin/xcode-select"
    QString varDb;               // CORVANE_VAR_DB, "/var/db/" (holds xcode_select_link)
    QString coreSimulatorImages; // CORVANE_CORESIM_IMAGES
    QString ps;                  // CORVANE_PS, "/bin/ps"
    QString defaults;            // CORVANE_DEFAULTS, "/usr/bin/defaults"
    QString open;                // CORVANE_OPEN, "/usr/bin/open"
    QString home;                // CORVANE_HOME, else $HOME
    QString applicationSupport;  // CORVANE_APP_SUPPORT, else the XDG data folder
    QString temporaryDir;        // CORVANE_TMPDIR, else the system's
    QString configDir;           // CORVANE_CONFIG_DIR, else the XDG config folder
    QString syncDir; // CORVANE_SYNC_DIR, else <applicationSupport>/com.quendrith.corvane/Sync
    // CORVANE_AUTOSTART_DIR, else $XDG_CONFIG_HOME/autostart, else ~/.config/autostart
    QString autostartDir;
    // CORVANE_STATE_DIR, else $XDG_STATE_HOME/corvane, else ~/.local/state/corvane
    QString stateDir;

    static SystemPaths fromEnvironment();

    // The paths in force; tests replace them with their own tree.
    static SystemPaths current();
    static void setCurrent(const SystemPaths &paths);
    static void resetToEnvironment();

    QString xcodeSelectLink() const { return varDb + "/xcode_select_link"; }
    QString coreSimulatorDevices() const
    {
        return home + "/Library/Developer/CoreSimulator/Devices";
    }
    // The path with the home folder written "~".
    QString abbreviatingHome(const QString &path) const;
    // The program's own folder under Application Support.
    QString programSupportDir() const { return applicationSupport + "/com.quendrith.corvane"; }
};

} // namespace corvane
