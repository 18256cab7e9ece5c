#include "FakeHotKeyCenter.h"
#include "platform/KeyCodes.h"
#include "platform/Menu.h"
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
