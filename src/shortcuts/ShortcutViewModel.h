#pragma once

#include "shortcuts/Shortcut.h"

#include <QRect>
#include <QString>

#include <memory>
#include <optional>
#include <vector>

namespace corvane {

class ShortcutValidator;

// What a shortcut recorder shows and decides, apart from events and
// painting: the answer to a click by region and state, the verdict on a
// typed combination, the titles to draw, tool tips and accessibility texts.
class ShortcutViewModel {
public:
    // The bezel and look of a recorder; the values are those stored in
    // interface files.
    enum class Style {
        RoundRect = 0,
        TexturedRounded = 1,
        Rounded = 2,
        None = 3,
        RegularSquare = 4,
    };

    // The small area at the right edge holding the delete or escape mark,
    // and the rest, which shows the shortcut.
    enum class Region { Shortcut, Hint };

    // Where a title goes: the marks sit at the right of the whole bounds.
    enum class Placement { CentredInBounds, CentredInShortcut, RightInBounds };

    struct Title {
        QString text;
        Placement placement = Placement::CentredInShortcut;
        bool operator==(const Title &) const = default;
    };

    enum class Click {
        // The view takes no clicks: the base widget gets it.
        Ignore,
        StartRecording,
        ClearValue,
        StopRecording,
        Nothing,
    };

    struct KeyVerdict {
        enum class Action {
            PassOn,
            ClearAndStop,
            Stop,
            StopAndPassOn,
            Beep,
            ShowTaken,
            Accept,
            ShowModifiers,
        };
        Action action = Action::PassOn;
        bool consumed = false;
        // For ShowTaken: the alert's message and explanation.
        QString message;
        QString explanation;
        // For ShowModifiers: the new placeholder.
        QString placeholder;
    };

    bool recording = false;
    bool enabled = true;
    bool hinting = false;
    bool showsDeleteButton = true;
    std::optional<Shortcut> value;
    QString placeholder;
    // None: every combination with a key name is accepted.
    std::shared_ptr<ShortcutValidator> validator;
    // The defaults key the value is stored under: the shortcuts of the
    // program's other hot keys are taken.
    QString defaultsKey;

    Click click(Region region) const;
    // The combination typed while recording; a press or release of a
    // modifier key alone comes as a shortcut without a key.
    KeyVerdict verdictOnKey(const Shortcut &typed) const;
    // Whether the key goes on to the rest of the program (Tab, ⌘W, ⌘Q):
    // asked before a key may trigger a menu shortcut, without validating.
    static bool passesOn(const Shortcut &typed);

    // Drawn in this order; the bezel is pressed while recording.
    std::vector<Title> titles() const;
    // Empty where none shows.
    QString toolTip(Region region) const;
    QString accessibleName() const;
    static QString accessibleHelp();

    static int hintWidth(Style style, int fontSize);
    static int titleOffset(Style style);
    static QRect hintRect(const QRect &bounds, int hintWidth);
    static QRect shortcutRect(const QRect &bounds, int hintWidth);
};

} // namespace corvane
