#include "FakeHotKeyCenter.h"
#include "platform/hotkeys/KeyCodes.h"
#include "shortcuts/ShortcutValidator.h"
#include "shortcuts/ShortcutViewModel.h"

#include <gtest/gtest.h>

using namespace corvane;
using Click = ShortcutViewModel::Click;
using Region = ShortcutViewModel::Region;
using Action = ShortcutViewModel::KeyVerdict::Action;
using Placement = ShortcutViewModel::Placement;
using Title = ShortcutViewModel::Title;

namespace {

constexpr uint64_t kCmd = Shortcut::Command;
constexpr uint64_t kOpt = Shortcut::Option;
constexpr uint64_t kShift = Shortcut::Shift;
const Shortcut kCmdOptK(40, kCmd | kOpt);
const QString kEscapeMark = QString(QChar(0x238B));
const QString kDeleteMark = QString(QChar(0x2715));

ShortcutViewModel model(bool recording, std::optional<Shortcut> value)
{
    ShortcutViewModel m;
    m.recording = recording;
    m.value = value;
    m.validator = std::make_shared<ShortcutValidator>(std::make_shared<test::FakeHotKeyCenter>());
    return m;
}

} // namespace

TEST(ShortcutViewModelTest, ClicksAnswerByRegionAndState)
{
    struct Case {
        bool recording;
        bool hasValue;
        Region region;
        Click expected;
    };
    const Case cases[] = {
        {false, false, Region::Shortcut, Click::StartRecording},
        {false, false, Region::Hint, Click::StartRecording},
        {false, true, Region::Shortcut, Click::StartRecording},
        {false, true, Region::Hint, Click::ClearValue},
        {true, true, Region::Hint, Click::StopRecording},
        {true, true, Region::Shortcut, Click::Nothing},
        {true, false, Region::Hint, Click::StopRecording},
        {true, false, Region::Shortcut, Click::Nothing},
    };
    for (const Case &c : cases) {
        auto m = model(c.recording, c.hasValue ? std::optional(kCmdOptK) : std::nullopt);
        EXPECT_EQ(m.click(c.region), c.expected)
            << "recording " << c.recording << ", value " << c.hasValue << ", hint "
            << (c.region == Region::Hint);
        // Without the mark the hint area still clears.
        m.showsDeleteButton = false;
        EXPECT_EQ(m.click(c.region), c.expected);
        m.enabled = false;
        EXPECT_EQ(m.click(c.region), Click::Ignore);
    }
}

TEST(ShortcutViewModelTest, KeysAreJudgedInOrder)
{
    const auto m = model(true, kCmdOptK);
    struct Case {
        Shortcut typed;
        Action expected;
        bool consumed;
    };
    const Case cases[] = {
        {Shortcut(48, 0), Action::PassOn, false},
        {Shortcut(48, kCmd | kShift), Action::PassOn, false},
        {Shortcut(51, 0), Action::ClearAndStop, true},
        {Shortcut(117, 0), Action::ClearAndStop, true},
        // Caps Lock is no modifier of a shortcut.
        {Shortcut(51, 0x10000), Action::ClearAndStop, true},
        {Shortcut(51, kCmd), Action::Accept, true},
        {Shortcut(53, 0), Action::Stop, true},
        {Shortcut(53, kOpt), Action::Accept, true},
        {Shortcut(13, kCmd), Action::StopAndPassOn, false},
        {Shortcut(12, kCmd), Action::StopAndPassOn, false},
        {Shortcut(12, kCmd | kShift), Action::Accept, true},
        {Shortcut(0, kShift), Action::Beep, true},
        {Shortcut(0, kOpt), Action::Beep, true},
        {Shortcut(97, 0), Action::Accept, true},
        // F5 alone is the desktop's Refresh.
        {Shortcut(96, 0), Action::ShowTaken, true},
        {kCmdOptK, Action::Accept, true},
        {Shortcut(Shortcut::NotFound, kShift), Action::ShowModifiers, true},
        {Shortcut(Shortcut::NotFound, 0), Action::ShowModifiers, true},
    };
    for (const Case &c : cases) {
        const auto verdict = m.verdictOnKey(c.typed);
        EXPECT_EQ(verdict.action, c.expected) << c.typed.description().toStdString();
        EXPECT_EQ(verdict.consumed, c.consumed) << c.typed.description().toStdString();
        EXPECT_EQ(ShortcutViewModel::passesOn(c.typed), !c.consumed);
    }
    EXPECT_EQ(m.verdictOnKey(Shortcut(Shortcut::NotFound, kShift | kCmd)).placeholder,
              QString::fromUtf8("⇧⌘"));
    EXPECT_EQ(m.verdictOnKey(Shortcut(Shortcut::NotFound, 0)).placeholder, QString());
}

TEST(ShortcutViewModelTest, WithoutValidatorAnyNamedKeyIsTaken)
{
    auto m = model(true, std::nullopt);
    m.validator = nullptr;
    EXPECT_EQ(m.verdictOnKey(Shortcut(0, kShift)).action, Action::Accept);
    EXPECT_EQ(m.verdictOnKey(Shortcut(0, 0)).action, Action::Accept);
    EXPECT_EQ(m.verdictOnKey(Shortcut(Shortcut::NotFound, kCmd)).action, Action::ShowModifiers);
    // A key with no name is never a shortcut.
    EXPECT_EQ(m.verdictOnKey(Shortcut(1000, kCmd)).action, Action::ShowModifiers);
}

TEST(ShortcutViewModelTest, ACombinationHeldElsewhereIsExplained)
{
    auto center = std::make_shared<test::FakeHotKeyCenter>();
    center->heldElsewhere.insert({40, KeyCodes::cmdKey | KeyCodes::optionKey});
    auto m = model(true, std::nullopt);
    m.validator = std::make_shared<ShortcutValidator>(center);
    const auto verdict = m.verdictOnKey(kCmdOptK);
    EXPECT_EQ(verdict.action, Action::ShowTaken);
    EXPECT_TRUE(verdict.consumed);
    EXPECT_EQ(verdict.message, QString::fromUtf8("The key combination ⌥⌘K cannot be used"));
    EXPECT_TRUE(verdict.explanation.startsWith("This combination cannot be used because it is "
                                               "already used by a system-wide keyboard shortcut."));
    // Validity is asked first: a refused combination only beeps.
    center->heldElsewhere.insert({40, KeyCodes::shiftKey});
    EXPECT_EQ(m.verdictOnKey(Shortcut(40, kShift)).action, Action::Beep);
}

TEST(ShortcutViewModelTest, TitlesFollowStateHintingAndPlaceholder)
{
    const Title record{"Record Shortcut", Placement::CentredInBounds};
    const Title escape{kEscapeMark, Placement::RightInBounds};
    const Title cross{kDeleteMark, Placement::RightInBounds};
    const QString description = kCmdOptK.description();
    struct Case {
        bool recording;
        bool hasValue;
        bool hinting;
        QString placeholder;
        std::vector<Title> expected;
    };
    const std::vector<Case> cases = {
        {false, false, false, "", {record}},
        {false, false, true, "⇧", {record}},
        {false, true, false, "", {cross, {description}}},
        {false, true, true, "⇧", {cross, {description}}},
        {true, false, false, "", {escape, {"Type Shortcut"}}},
        {true, false, false, "⇧", {escape, {"⇧"}}},
        {true, false, true, "⇧", {escape, {"Cancel"}}},
        {true, true, false, "", {escape, {"Type New Shortcut"}}},
        {true, true, false, "⌥", {escape, {"⌥"}}},
        {true, true, true, "⌥", {escape, {"Use Old Shortcut"}}},
    };
    for (const Case &c : cases) {
        auto m = model(c.recording, c.hasValue ? std::optional(kCmdOptK) : std::nullopt);
        m.hinting = c.hinting;
        m.placeholder = c.placeholder;
        EXPECT_EQ(m.titles(), c.expected)
            << "recording " << c.recording << ", value " << c.hasValue << ", hinting " << c.hinting;
    }
    auto noMark = model(false, kCmdOptK);
    noMark.showsDeleteButton = false;
    EXPECT_EQ(noMark.titles(), std::vector<Title>{{description}});
}

TEST(ShortcutViewModelTest, ToolTipsOnlyForAnIdleEnabledValue)
{
    auto m = model(false, kCmdOptK);
    EXPECT_EQ(m.toolTip(Region::Shortcut), "Click to record new shortcut");
    EXPECT_EQ(m.toolTip(Region::Hint), "Delete shortcut");
    m.recording = true;
    EXPECT_EQ(m.toolTip(Region::Shortcut), QString());
    m.recording = false;
    m.enabled = false;
    EXPECT_EQ(m.toolTip(Region::Hint), QString());
    m.enabled = true;
    m.value.reset();
    EXPECT_EQ(m.toolTip(Region::Shortcut), QString());
}

TEST(ShortcutViewModelTest, AccessibleNameNamesTheShortcut)
{
    EXPECT_EQ(model(false, kCmdOptK).accessibleName(), QString::fromUtf8("⌥⌘K keyboard shortcut"));
    EXPECT_EQ(model(false, std::nullopt).accessibleName(), "Empty keyboard shortcut");
}

TEST(ShortcutViewModelTest, TheHintAreaIsAtTheRightWithTheStylesWidth)
{
    using Style = ShortcutViewModel::Style;
    EXPECT_EQ(ShortcutViewModel::hintWidth(Style::RoundRect, 11), 23);
    EXPECT_EQ(ShortcutViewModel::hintWidth(Style::TexturedRounded, 11), 25);
    EXPECT_EQ(ShortcutViewModel::hintWidth(Style::Rounded, 11), 26);
    EXPECT_EQ(ShortcutViewModel::hintWidth(Style::None, 11), 15);
    EXPECT_EQ(ShortcutViewModel::hintWidth(Style::RegularSquare, 11), 23);
    const QRect bounds(0, 0, 120, 22);
    EXPECT_EQ(ShortcutViewModel::hintRect(bounds, 26), QRect(94, 0, 26, 22));
    EXPECT_EQ(ShortcutViewModel::shortcutRect(bounds, 26), QRect(0, 0, 94, 22));
    // Narrower than the hint area: all of it is hint.
    EXPECT_EQ(ShortcutViewModel::hintRect(QRect(0, 0, 10, 22), 26), QRect(0, 0, 10, 22));
    EXPECT_TRUE(ShortcutViewModel::shortcutRect(QRect(0, 0, 10, 22), 26).isEmpty());
}
