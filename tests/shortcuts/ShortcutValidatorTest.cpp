#include "FakeHotKeyCenter.h"
#include "platform/KeyCodes.h"
#include "platform/Menu.h"
#include "shortcuts/ShortcutValidator.h"

#include <gtest/gtest.h>

using namespace corvane;

namespace {

constexpr uint64_t kShift = 0x20000;
constexpr uint64_t kControl = 0x40000;
constexpr uint64_t kOption = 0x80000;
constexpr uint64_t kCommand = 0x100000;

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
    EXPECT_TRUE(validator.isShortcutValid(Shortcut(105, 0)));      // F13
    EXPECT_TRUE(validator.isShortcutValid(Shortcut(90, kShift)));  // F20
    EXPECT_FALSE(validator.isShortcutValid(Shortcut(0, 0)));       // A
    EXPECT_FALSE(validator.isShortcutValid(Shortcut(0, kShift)));  // Shift-A
    EXPECT_TRUE(validator.isShortcutValid(Shortcut(0, kCommand))); // Command-A
    EXPECT_TRUE(validator.isShortcutValid(Shortcut(0, kControl))); // Control-A
    EXPECT_TRUE(validator.isShortcutValid(Shortcut(49, kOption))); // Option-Space
    EXPECT_TRUE(validator.isShortcutValid(Shortcut(53, kOption | kShift)));
    EXPECT_FALSE(validator.isShortcutValid(Shortcut(0, kOption)));
    EXPECT_FALSE(validator.isShortcutValid(Shortcut(0, kOption | kShift)));
    validator.allowAnyShortcutWithOptionModifier = true;
    EXPECT_TRUE(validator.isShortcutValid(Shortcut(0, kOption)));
    EXPECT_FALSE(validator.isShortcutValid(Shortcut(0, kShift)));
}

TEST_F(ShortcutValidatorTest, MenuClashesCountTheShiftOfUpperCaseKeys)
{
    Menu menu;
    menu.setItems({item("Save As", "S", KeyModifier::Command)});
    QString explanation;
    EXPECT_TRUE(
        validator.isShortcutAlreadyTakenInMenu(Shortcut(1, kCommand | kShift), menu, &explanation));
    EXPECT_EQ(explanation, QString::fromUtf8("This shortcut cannot be used because it is already "
                                             "used by the menu item ‘Save As’."));
    EXPECT_FALSE(validator.isShortcutAlreadyTakenInMenu(Shortcut(1, kCommand), menu));

    menu.setItems({item("Save", "s", KeyModifier::Command),
                   item("Help", QString(QChar(0xF704)), KeyModifier::Option),
                   item("Hidden", "h", KeyModifier::Command | KeyModifier::Function)});
    EXPECT_TRUE(validator.isShortcutAlreadyTakenInMenu(Shortcut(1, kCommand), menu));
    EXPECT_FALSE(validator.isShortcutAlreadyTakenInMenu(Shortcut(1, kCommand | kShift), menu));
    EXPECT_TRUE(validator.isShortcutAlreadyTakenInMenu(Shortcut(122, kOption), menu));
    // The Function bit of an item never matches a shortcut's flags.
    EXPECT_FALSE(validator.isShortcutAlreadyTakenInMenu(Shortcut(4, kCommand), menu));

    // Rows without a key equivalent clash with nothing, not even a key-less
    // shortcut with the default mask.
    menu.setItems({MenuItem::make("Plain", "plain:"), MenuItem::separator()});
    EXPECT_FALSE(
        validator.isShortcutAlreadyTakenInMenu(Shortcut(Shortcut::NotFound, kCommand), menu));
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
    EXPECT_TRUE(validator.isShortcutAlreadyTakenInMenu(Shortcut(40, kCommand), menu, &explanation));
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

    const Shortcut lookUp(37, kCommand | kShift);
    EXPECT_TRUE(validator.isShortcutAlreadyTakenBySystem(lookUp));
    validator.allowOverridingServicesShortcut = true;
    EXPECT_FALSE(validator.isShortcutAlreadyTakenBySystem(lookUp));
}

TEST_F(ShortcutValidatorTest, CombinationsHeldElsewhereAreTakenBeforeTheMenuIsAsked)
{
    const Shortcut shortcut(40, kCommand | kOption);
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
