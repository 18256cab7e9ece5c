#include "FakeHotKeyCenter.h"
#include "common/TestSupport.h"
#include "platform/hotkeys/KeyCodes.h"
#include "platform/menus/KeyEquivalents.h"
#include "platform/menus/Menu.h"
#include "shortcuts/ShortcutValidator.h"

#include <gtest/gtest.h>

using namespace corvane;

namespace {

MenuItemPtr item(const QString &title, const QString &key, KeyModifiers mask)
{
    auto made = MenuItem::make(title, "action:", key);
    made->setKeyEquivalentModifierMask(mask);
    return made;
}

// The shortcut that types a key equivalent: the key found by its character,
// an upper-case letter with Shift.
std::optional<Shortcut> shortcutTyping(const KeyEquivalents::KeyEquivalent &equivalent)
{
    uint64_t flags = uint64_t(equivalent.modifiers.toInt()) & Shortcut::modifierMask;
    if (equivalent.key != equivalent.key.toLower())
        flags |= Shortcut::Shift;
    for (int64_t code = 0; code < 128; ++code)
        if (Shortcut(code, 0).keyCodeStringForKeyEquivalent() == equivalent.key.toLower())
            return Shortcut(code, flags);
    return std::nullopt;
}

class ShortcutValidatorTest : public ::testing::Test {
protected:
    std::shared_ptr<test::FakeHotKeyCenter> center = std::make_shared<test::FakeHotKeyCenter>();
    ShortcutValidator validator{center};
};

} // namespace

TEST_F(ShortcutValidatorTest, NeedsEnoughModifiersExceptOnFunctionKeys)
{
    EXPECT_TRUE(validator.isShortcutValid(Shortcut(105, 0)));               // F13
    EXPECT_TRUE(validator.isShortcutValid(Shortcut(90, Shortcut::Shift)));  // F20
    EXPECT_FALSE(validator.isShortcutValid(Shortcut(0, 0)));                // A
    EXPECT_FALSE(validator.isShortcutValid(Shortcut(0, Shortcut::Shift)));  // Shift-A
    EXPECT_TRUE(validator.isShortcutValid(Shortcut(0, Shortcut::Command))); // Command-A
    EXPECT_TRUE(validator.isShortcutValid(Shortcut(0, Shortcut::Control))); // Control-A
    EXPECT_TRUE(validator.isShortcutValid(Shortcut(49, Shortcut::Option))); // Option-Space
    EXPECT_TRUE(validator.isShortcutValid(Shortcut(53, Shortcut::Option | Shortcut::Shift)));
    EXPECT_FALSE(validator.isShortcutValid(Shortcut(0, Shortcut::Option)));
    EXPECT_FALSE(validator.isShortcutValid(Shortcut(0, Shortcut::Option | Shortcut::Shift)));
    validator.allowAnyShortcutWithOptionModifier = true;
    EXPECT_TRUE(validator.isShortcutValid(Shortcut(0, Shortcut::Option)));
    EXPECT_FALSE(validator.isShortcutValid(Shortcut(0, Shortcut::Shift)));
}

TEST_F(ShortcutValidatorTest, MenuClashesCountTheShiftOfUpperCaseKeys)
{
    Menu menu;
    menu.setItems({item("Save As", "S", KeyModifier::Command)});
    QString explanation;
    EXPECT_TRUE(validator.isShortcutAlreadyTakenInMenu(
        Shortcut(1, Shortcut::Command | Shortcut::Shift), menu, &explanation));
    EXPECT_EQ(explanation, QString::fromUtf8("This shortcut cannot be used because it is already "
                                             "used by the menu item ‘Save As’."));
    EXPECT_FALSE(validator.isShortcutAlreadyTakenInMenu(Shortcut(1, Shortcut::Command), menu));

    menu.setItems({item("Save", "s", KeyModifier::Command),
                   item("Help", QString(QChar(0xF704)), KeyModifier::Option),
                   item("Hidden", "h", KeyModifier::Command | KeyModifier::Function)});
    EXPECT_TRUE(validator.isShortcutAlreadyTakenInMenu(Shortcut(1, Shortcut::Command), menu));
    EXPECT_FALSE(validator.isShortcutAlreadyTakenInMenu(
        Shortcut(1, Shortcut::Command | Shortcut::Shift), menu));
    EXPECT_TRUE(validator.isShortcutAlreadyTakenInMenu(Shortcut(122, Shortcut::Option), menu));
    // The Function bit of an item never matches a shortcut's flags.
    EXPECT_FALSE(validator.isShortcutAlreadyTakenInMenu(Shortcut(4, Shortcut::Command), menu));

    // Rows without a key equivalent clash with nothing, not even a key-less
    // shortcut with the default mask.
    menu.setItems({MenuItem::make("Plain", "plain:"), MenuItem::separator()});
    EXPECT_FALSE(validator.isShortcutAlreadyTakenInMenu(
        Shortcut(Shortcut::NotFound, Shortcut::Command), menu));
}

TEST_F(ShortcutValidatorTest, SubmenusAreSearchedBeforeLaterItems)
{
    auto submenu = std::make_shared<Menu>("File");
    submenu->setItems({item("Open Recent", "k", KeyModifier::Command)});
    auto parent = item("File", "", KeyModifier::None);
    parent->setSubmenu(submenu);
    Menu menu;
    menu.setItems({parent, item("Kill", "k", KeyModifier::Command)});
    QString explanation;
    EXPECT_TRUE(validator.isShortcutAlreadyTakenInMenu(Shortcut(40, Shortcut::Command), menu,
                                                       &explanation));
    EXPECT_TRUE(explanation.contains(QString::fromUtf8("‘Open Recent’")))
        << explanation.toStdString();
}

TEST_F(ShortcutValidatorTest, ServicesMenuIsExemptOnlyWhenAllowed)
{
    auto services = std::make_shared<Menu>("Services");
    services->setItems({item("Look Up", "l", KeyModifier::Command | KeyModifier::Shift)});
    auto servicesItem = item("Services", "", KeyModifier::None);
    servicesItem->setSubmenu(services);
    auto mainMenu = std::make_shared<Menu>();
    mainMenu->setItems({servicesItem});
    validator.setMainMenu(mainMenu);
    validator.setServicesMenu(services);

    const Shortcut lookUp(37, Shortcut::Command | Shortcut::Shift);
    EXPECT_TRUE(validator.isShortcutAlreadyTakenBySystem(lookUp));
    validator.allowOverridingServicesShortcut = true;
    EXPECT_FALSE(validator.isShortcutAlreadyTakenBySystem(lookUp));
}

TEST_F(ShortcutValidatorTest, CombinationsHeldElsewhereAreTakenBeforeTheMenuIsAsked)
{
    const Shortcut shortcut(40, Shortcut::Command | Shortcut::Option);
    QString explanation;
    EXPECT_FALSE(validator.isShortcutAlreadyTakenBySystem(shortcut, &explanation));
    EXPECT_TRUE(explanation.isEmpty());

    center->heldElsewhere.insert({40, KeyCodes::cmdKey | KeyCodes::optionKey});
    EXPECT_TRUE(validator.isShortcutAlreadyTakenBySystem(shortcut, &explanation));
    EXPECT_TRUE(explanation.startsWith("This combination cannot be used because it is already used "
                                       "by a system-wide keyboard shortcut.\n"));

    // Without a main menu only the display is asked.
    center->heldElsewhere.clear();
    auto menu = std::make_shared<Menu>();
    menu->setItems({item("Kill", "k", KeyModifier::Command | KeyModifier::Option)});
    EXPECT_FALSE(validator.isShortcutAlreadyTakenBySystem(shortcut));
    validator.setMainMenu(menu);
    EXPECT_TRUE(validator.isShortcutAlreadyTakenBySystem(shortcut));
}

// A hot key's stored shortcut takes its key only with its own modifiers, and
// the hot key being recorded never clashes with its own combination.
TEST_F(ShortcutValidatorTest, AHotKeyTakesOnlyItsOwnKeyWithItsOwnModifiers)
{
    const test::ScopedDefaults defaults;
    constexpr uint64_t kCmdOpt = Shortcut::Command | Shortcut::Option;
    UserDefaults::standard()->set("GlobalRedo", Shortcut(40, kCmdOpt).archived());
    validator.setHotKeys({{"GlobalRedo", "Quick Repeat"}, {"DeleteDerivedData", "Trash"}});

    const struct {
        Shortcut typed;
        QString ownKey;
        bool taken;
    } cases[] = {
        {Shortcut(40, Shortcut::Command), "DeleteDerivedData", false},         // ⌘K
        {Shortcut(40, kCmdOpt), "DeleteDerivedData", true},                    // ⌥⌘K
        {Shortcut(40, kCmdOpt | Shortcut::Shift), "DeleteDerivedData", false}, // ⇧⌥⌘K
        {Shortcut(40, Shortcut::Option | Shortcut::Control), "DeleteDerivedData", false}, // ⌃⌥K
        {Shortcut(38, kCmdOpt), "DeleteDerivedData", false},                              // ⌥⌘J
        {Shortcut(40, kCmdOpt), "GlobalRedo", false},
    };
    for (const auto &c : cases) {
        QString explanation;
        EXPECT_EQ(validator.isShortcutTakenByHotKey(c.typed, c.ownKey, &explanation), c.taken)
            << c.typed.description().toStdString() << " for " << c.ownKey.toStdString();
        EXPECT_EQ(explanation, c.taken ? QString::fromUtf8("This shortcut cannot be used because "
                                                           "it is already used by ‘Quick Repeat’.")
                                       : QString());
    }
}

// A global grab of one of the desktop's standard shortcuts would take it
// from every program: each of their one-chord bindings is refused, and Quit's
// ⌘Q (Ctrl+Q) whatever the desktop's scheme binds.
TEST_F(ShortcutValidatorTest, EveryStandardDesktopBindingIsTakenBySystem)
{
    const QKeySequence::StandardKey standardKeys[] = {
        QKeySequence::Copy,  QKeySequence::Paste,     QKeySequence::Cut,  QKeySequence::Undo,
        QKeySequence::Redo,  QKeySequence::SelectAll, QKeySequence::Save, QKeySequence::Open,
        QKeySequence::New,   QKeySequence::Close,     QKeySequence::Quit, QKeySequence::Find,
        QKeySequence::Print, QKeySequence::Refresh,
    };
    int checked = 0;
    for (const auto standardKey : standardKeys) {
        for (const auto &binding : KeyEquivalents::forStandardKey(standardKey)) {
            const auto typed = shortcutTyping(binding);
            if (!typed)
                continue;
            ++checked;
            EXPECT_TRUE(validator.isShortcutAlreadyTakenBySystem(*typed))
                << int(standardKey) << ": " << typed->description().toStdString();
        }
    }
    EXPECT_GT(checked, 10);
    EXPECT_TRUE(validator.isShortcutAlreadyTakenBySystem(Shortcut(12, Shortcut::Command))); // ⌘Q
    // A combination of no standard action is free.
    EXPECT_FALSE(validator.isShortcutAlreadyTakenBySystem(
        Shortcut(40, Shortcut::Command | Shortcut::Option)));
}
