#pragma once

#include <QHash>
#include <QRect>
#include <QString>

#include <functional>

namespace corvane::Settings {

// Names a settings pane; its raw value also names the pane's toolbar item.
struct PaneIdentifier {
    QString rawValue;

    bool operator==(const PaneIdentifier &) const = default;
};

inline size_t qHash(const PaneIdentifier &identifier, size_t seed = 0)
{
    return ::qHash(identifier.rawValue, seed);
}

// How the window switches between panes.
enum class Style {
    toolbarItems,
    segmentedControl,
};

// The toolbar's name, the segmented control's item and widget names, the
// stand-in for an expanding gap between toolbar items, and the defaults key
// of the window's frame.
inline constexpr const char *toolbarIdentifier = "SettingsToolbar";
inline constexpr const char *segmentedControlItemIdentifier = "toolbarSegmentedControlItem";
inline constexpr const char *segmentedControlIdentifier = "toolbarSegmentedControl";
inline constexpr const char *flexibleSpaceItemIdentifier = "flexibleSpace";
inline constexpr const char *frameAutosaveName = "com.velmarrow.Settings.FrameAutosaveName";

// What the window title of a single pane is made from. Empty texts count as
// missing.
struct ApplicationNames {
    QString displayName;
    QString name;
    QString executableName;

    static ApplicationNames current();
};

// The first name present, else "<Unknown App Name>".
QString applicationName(const ApplicationNames &names);

// With fewer than two panes the application's name and the word "Settings";
// otherwise the pane's own title.
QString windowTitle(qsizetype paneCount, const QString &paneTitle,
                    const ApplicationNames &names = ApplicationNames::current());

// The window's new frame for a new size: the top edge stays (Qt's y grows
// downward), and so does the left edge, or the horizontal centre when the
// window keeps itself centred.
QRect resizedWindowFrame(const QRect &frame, const QSize &size, bool keepsCentered);

} // namespace corvane::Settings

template <> struct std::hash<corvane::Settings::PaneIdentifier> {
    size_t operator()(const corvane::Settings::PaneIdentifier &identifier) const
    {
        return corvane::Settings::qHash(identifier);
    }
};
