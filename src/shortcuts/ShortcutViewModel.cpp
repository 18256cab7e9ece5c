#include "shortcuts/ShortcutViewModel.h"

#include "shortcuts/ShortcutValidator.h"

namespace corvane {

namespace {

constexpr int64_t kTab = 48;
constexpr int64_t kDelete = 51;
constexpr int64_t kForwardDelete = 117;
constexpr int64_t kEscape = 53;
constexpr int64_t kW = 13;
constexpr int64_t kQ = 12;

const QString kEscapeMark = QString(QChar(0x238B));
const QString kDeleteMark = QString(QChar(0x2715));

bool isCloseOrQuit(const Shortcut &typed)
{
    return (typed.keyCode() == kW || typed.keyCode() == kQ) &&
           typed.modifierFlags() == Shortcut::Command;
}

} // namespace

ShortcutViewModel::Click ShortcutViewModel::click(Region region) const
{
    if (!enabled)
        return Click::Ignore;
    if (!recording) {
        if (value && region == Region::Hint)
            return Click::ClearValue;
        return Click::StartRecording;
    }
    return region == Region::Hint ? Click::StopRecording : Click::Nothing;
}

bool ShortcutViewModel::passesOn(const Shortcut &typed)
{
    return typed.keyCode() == kTab || isCloseOrQuit(typed);
}

ShortcutViewModel::KeyVerdict ShortcutViewModel::verdictOnKey(const Shortcut &typed) const
{
    using Action = KeyVerdict::Action;
    KeyVerdict verdict;
    verdict.consumed = true;
    const int64_t key = typed.keyCode();
    const bool bare = typed.modifierFlags() == 0;
    if (key == kTab) {
        verdict.action = Action::PassOn;
        verdict.consumed = false;
    } else if ((key == kDelete || key == kForwardDelete) && bare) {
        verdict.action = Action::ClearAndStop;
    } else if (key == kEscape && bare) {
        verdict.action = Action::Stop;
    } else if (isCloseOrQuit(typed)) {
        verdict.action = Action::StopAndPassOn;
        verdict.consumed = false;
    } else if (typed.keyCodeString().isEmpty()) {
        verdict.action = Action::ShowModifiers;
        verdict.placeholder = typed.modifierFlagsString();
    } else if (validator && !validator->isShortcutValid(typed)) {
        verdict.action = Action::Beep;
    } else if (validator &&
               (validator->isShortcutAlreadyTakenBySystem(typed, &verdict.explanation) ||
                validator->isShortcutTakenByHotKey(typed, defaultsKey, &verdict.explanation))) {
        verdict.action = Action::ShowTaken;
        verdict.message =
            shortcutText("The key combination %1 cannot be used").arg(typed.description());
    } else {
        verdict.action = Action::Accept;
    }
    return verdict;
}

std::vector<ShortcutViewModel::Title> ShortcutViewModel::titles() const
{
    if (!recording) {
        if (!value)
            return {{shortcutText("Record Shortcut"), Placement::CentredInBounds}};
        std::vector<Title> shown;
        if (showsDeleteButton)
            shown.push_back({kDeleteMark, Placement::RightInBounds});
        shown.push_back({value->description()});
        return shown;
    }
    QString prompt;
    if (hinting)
        prompt = value ? shortcutText("Use Old Shortcut") : shortcutText("Cancel");
    else if (!placeholder.isEmpty())
        prompt = placeholder;
    else
        prompt = value ? shortcutText("Type New Shortcut") : shortcutText("Type Shortcut");
    return {{kEscapeMark, Placement::RightInBounds}, {prompt}};
}

QString ShortcutViewModel::toolTip(Region region) const
{
    if (!value || recording || !enabled)
        return {};
    return region == Region::Shortcut ? shortcutText("Click to record new shortcut")
                                      : shortcutText("Delete shortcut");
}

QString ShortcutViewModel::accessibleName() const
{
    const QString shown = value ? value->description() : QStringLiteral("Empty");
    return shown + ' ' + shortcutText("keyboard shortcut");
}

QString ShortcutViewModel::accessibleHelp()
{
    return shortcutText("To record a new shortcut, click this button, and then type the new "
                        "shortcut, or press delete to clear an existing shortcut.");
}

int ShortcutViewModel::hintWidth(Style style, int fontSize)
{
    switch (style) {
    case Style::TexturedRounded: return 25;
    case Style::Rounded: return 26;
    case Style::None: return fontSize + 4;
    case Style::RoundRect:
    case Style::RegularSquare: break;
    }
    return 23;
}

int ShortcutViewModel::titleOffset(Style style)
{
    switch (style) {
    case Style::TexturedRounded:
    case Style::Rounded:
    case Style::RegularSquare: return 1;
    case Style::RoundRect:
    case Style::None: break;
    }
    return 0;
}

QRect ShortcutViewModel::hintRect(const QRect &bounds, int hintWidth)
{
    const int width = std::min(hintWidth, bounds.width());
    return QRect(bounds.right() + 1 - width, bounds.top(), width, bounds.height());
}

QRect ShortcutViewModel::shortcutRect(const QRect &bounds, int hintWidth)
{
    const int width = std::max(0, bounds.width() - hintWidth);
    return QRect(bounds.left(), bounds.top(), width, bounds.height());
}

} // namespace corvane
