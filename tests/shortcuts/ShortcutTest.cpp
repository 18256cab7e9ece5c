#include "platform/hotkeys/KeyCodes.h"
#include "platform/formats/PropertyList.h"
#include "shortcuts/Shortcut.h"
#include "shortcuts/ShortcutDictionaryTransformer.h"

#include <QKeyEvent>
#include <gtest/gtest.h>
#include <plist/plist.h>

#include <set>
#include <unordered_set>

using namespace corvane;

namespace {

// A keyed archive as another program would write it, with the root object's
// entries and class name given.
QByteArray keyedArchive(const QVariantMap &entries, const QString &className = "Shortcut")
{
    QVariantMap object = entries;
    object.insert("$class", QVariant::fromValue(PropertyList::Uid{2}));
    const QVariantMap archive{
        {"$archiver", "NSKeyedArchiver"},
        {"$version", 100000},
        {"$objects", QVariantList{"$null", object, QVariantMap{{"$classname", className}}}},
        {"$top", QVariantMap{{"root", QVariant::fromValue(PropertyList::Uid{1})}}}};
    return PropertyList::toBinary(archive);
}

} // namespace

TEST(ShortcutTest, KeepsOnlyTheFourModifiers)
{
    const Shortcut shortcut(0, 0x10000 | 0x800000 | Shortcut::Command | Shortcut::Shift);
    EXPECT_EQ(shortcut.modifierFlags(), Shortcut::Command | Shortcut::Shift);
    EXPECT_EQ(shortcut.carbonFlags(), KeyCodes::cmdKey | KeyCodes::shiftKey);
    EXPECT_EQ(Shortcut(0, Shortcut::Control | Shortcut::Option).carbonFlags(),
              KeyCodes::controlKey | KeyCodes::optionKey);
}

TEST(ShortcutTest, DescribesModifiersInOrderThenTheKey)
{
    EXPECT_EQ(
        Shortcut(0, Shortcut::Shift | Shortcut::Command | Shortcut::Option | Shortcut::Control)
            .description(),
        QString::fromUtf8("⌃⌥⇧⌘A"));
    EXPECT_EQ(Shortcut(96, 0).description(), "F5");
    EXPECT_EQ(Shortcut(80, 0).description(), "F19");
    EXPECT_EQ(Shortcut(40, Shortcut::Command | Shortcut::Option).description(),
              QString::fromUtf8("⌥⌘K"));
    EXPECT_EQ(Shortcut(49, Shortcut::Option).description(), QString::fromUtf8("⌥Space"));
    EXPECT_EQ(Shortcut(92, Shortcut::Command).keyCodeString(), "9");
    EXPECT_EQ(Shortcut(43, Shortcut::Command).keyCodeString(), ",");
    EXPECT_EQ(Shortcut(123, 0).keyCodeString(), QString(QChar(0x2190)));
    // Keys that type nothing here: the Command key, an unknown code, a
    // negative or huge one.
    for (int64_t code : {int64_t(55), int64_t(200), int64_t(-5), int64_t(1) << 40})
        EXPECT_TRUE(Shortcut(code, Shortcut::Command).keyCodeString().isEmpty()) << code;
}

TEST(ShortcutTest, NoKeyHasNoCodeAndNoText)
{
    const Shortcut none(Shortcut::NotFound, Shortcut::Command);
    EXPECT_EQ(none.carbonKeyCode(), 0u);
    EXPECT_TRUE(none.keyCodeString().isEmpty());
    EXPECT_TRUE(none.keyCodeStringForKeyEquivalent().isEmpty());
    EXPECT_EQ(none.description(), QString::fromUtf8("⌘"));
}

TEST(ShortcutTest, KeyEquivalentsUseMenuCharacters)
{
    EXPECT_EQ(Shortcut(36, 0).keyCodeStringForKeyEquivalent(), QString(QChar(0x000D)));
    EXPECT_EQ(Shortcut(122, 0).keyCodeStringForKeyEquivalent(), QString(QChar(0xF704)));
    EXPECT_EQ(Shortcut(80, 0).keyCodeStringForKeyEquivalent(), QString(QChar(0xF716)));
    EXPECT_EQ(Shortcut(49, 0).keyCodeStringForKeyEquivalent(), " ");
    EXPECT_EQ(Shortcut(126, 0).keyCodeStringForKeyEquivalent(), QString(QChar(0xF700)));
    EXPECT_EQ(Shortcut(114, 0).keyCodeStringForKeyEquivalent(), QString(QChar(0xF746)));
    EXPECT_EQ(Shortcut(40, 0).keyCodeStringForKeyEquivalent(), "k");
    // F20 has no name of its own and types nothing.
    EXPECT_TRUE(Shortcut(90, 0).keyCodeStringForKeyEquivalent().isEmpty());
}

TEST(ShortcutTest, EqualShortcutsHashAlike)
{
    std::unordered_set<Shortcut> set{Shortcut(40, Shortcut::Command),
                                     Shortcut(40, Shortcut::Command | 0x10000),
                                     Shortcut(40, Shortcut::Command | Shortcut::Shift)};
    EXPECT_EQ(set.size(), 2u);
    EXPECT_NE(Shortcut(40, Shortcut::Command), Shortcut(41, Shortcut::Command));
}

TEST(ShortcutTest, ArchiveRoundTripsAndIsAKeyedArchive)
{
    for (const Shortcut &shortcut : {Shortcut(40, Shortcut::Command | Shortcut::Option),
                                     Shortcut(0, 0), Shortcut(Shortcut::NotFound, Shortcut::Shift),
                                     Shortcut(122, Shortcut::Control | Shortcut::Option |
                                                       Shortcut::Shift | Shortcut::Command)}) {
        const auto back = Shortcut::fromArchive(shortcut.archived());
        ASSERT_TRUE(back) << shortcut.keyCode();
        EXPECT_EQ(*back, shortcut);
    }

    const QByteArray bytes = Shortcut(Shortcut::NotFound, Shortcut::Command).archived();
    ASSERT_TRUE(bytes.startsWith("bplist00"));
    const QVariantMap archive = PropertyList::parse(bytes)->toMap();
    EXPECT_EQ(archive.value("$archiver").toString(), "NSKeyedArchiver");
    EXPECT_EQ(archive.value("$version").toLongLong(), 100000);
    const QVariantList objects = archive.value("$objects").toList();
    ASSERT_EQ(objects.size(), 3);
    EXPECT_EQ(objects[1].toMap().value("KeyCode").toLongLong(), -1);
    EXPECT_EQ(objects[1].toMap().value("ModifierFlags").toLongLong(), qint64(Shortcut::Command));
    EXPECT_EQ(objects[2].toMap().value("$classname").toString(), "Shortcut");

    // The references are the property list's UID type, not integers.
    plist_t root = nullptr;
    plist_from_bin(bytes.constData(), uint32_t(bytes.size()), &root);
    ASSERT_TRUE(root);
    plist_t top = plist_dict_get_item(plist_dict_get_item(root, "$top"), "root");
    EXPECT_EQ(plist_get_node_type(top), PLIST_UID);
    plist_free(root);
}

TEST(ShortcutTest, DecodingTakesStoredValuesAsWritten)
{
    // Stray bits stay; they change neither the hot key nor the symbols.
    const auto stray = Shortcut::fromArchive(keyedArchive(
        {{"KeyCode", qint64(40)}, {"ModifierFlags", qint64(Shortcut::Command | 0x10000)}}));
    ASSERT_TRUE(stray);
    EXPECT_EQ(stray->modifierFlags(), Shortcut::Command | 0x10000);
    EXPECT_NE(*stray, Shortcut(40, Shortcut::Command));
    EXPECT_EQ(stray->carbonFlags(), KeyCodes::cmdKey);
    EXPECT_EQ(stray->description(), QString::fromUtf8("⌘K"));

    // Read unsigned: every negative code, and those past the signed range, are no key.
    for (qint64 code : {qint64(-1), qint64(-40)}) {
        const auto none =
            Shortcut::fromArchive(keyedArchive({{"KeyCode", code}, {"ModifierFlags", 0}}));
        ASSERT_TRUE(none);
        EXPECT_EQ(none->keyCode(), Shortcut::NotFound);
    }
}

TEST(ShortcutTest, AnythingButAShortcutArchiveIsNoShortcut)
{
    const QVariantMap good{{"KeyCode", qint64(40)}, {"ModifierFlags", qint64(Shortcut::Command)}};
    ASSERT_TRUE(Shortcut::fromArchive(keyedArchive(good)));
    const QByteArray archived = Shortcut(40, Shortcut::Command).archived();
    for (const QByteArray &bytes : {
             QByteArray(),
             QByteArray("not a property list"),
             archived.left(archived.size() - 9),
             keyedArchive(good, "NSColor"),
             keyedArchive({{"KeyCode", qint64(40)}}),
             keyedArchive({{"KeyCode", "40"}, {"ModifierFlags", qint64(Shortcut::Command)}}),
             keyedArchive({{"KeyCode", 4.0}, {"ModifierFlags", qint64(Shortcut::Command)}}),
             PropertyList::toBinary(good),
             PropertyList::toBinary(QVariantList{good}),
             PropertyList::toXml(QVariantMap{{"$archiver", "NSKeyedArchiver"},
                                             {"$objects", QVariantList{"$null", good}},
                                             {"$top", QVariantMap{{"root", 7}}}}),
         })
        EXPECT_FALSE(Shortcut::fromArchive(bytes)) << bytes.left(40).toStdString();
    EXPECT_FALSE(Shortcut::fromStoredValue(QVariant(QString::fromLatin1(archived.toBase64()))));
    EXPECT_FALSE(Shortcut::fromStoredValue(std::nullopt));
    EXPECT_TRUE(Shortcut::fromStoredValue(QVariant(archived)));
}

TEST(ShortcutTest, DictionaryFormReadsNumbersAndLeadingDigits)
{
    const auto shortcut = ShortcutDictionaryTransformer::transformedValue(
        ShortcutDictionaryTransformer::reverseTransformedValue(Shortcut(40, Shortcut::Command)));
    ASSERT_TRUE(shortcut);
    EXPECT_EQ(*shortcut, Shortcut(40, Shortcut::Command));
    EXPECT_TRUE(ShortcutDictionaryTransformer::reverseTransformedValue(std::nullopt).isEmpty());

    const auto texts = ShortcutDictionaryTransformer::transformedValue(
        QVariantMap{{"keyCode", " 12abc"}, {"modifierFlags", 1179648.0}});
    ASSERT_TRUE(texts);
    EXPECT_EQ(texts->keyCode(), 12);
    EXPECT_EQ(texts->modifierFlags(), Shortcut::Command | Shortcut::Shift);

    EXPECT_FALSE(ShortcutDictionaryTransformer::transformedValue(QVariantMap{{"keyCode", 1}}));
    EXPECT_FALSE(ShortcutDictionaryTransformer::transformedValue(
        QVariantMap{{"keyCode", QVariantList{}}, {"modifierFlags", 0}}));
    EXPECT_FALSE(ShortcutDictionaryTransformer::transformedValue(QVariant("40")));
}

TEST(ShortcutTest, KeyCodeTableIsOneToOneWithinXKeycodes)
{
    std::set<int> carbon;
    std::set<int> x;
    for (const auto &[carbonCode, xKeycode] : KeyCodes::carbonToXKeycodes()) {
        EXPECT_TRUE(carbon.insert(carbonCode).second) << carbonCode;
        EXPECT_TRUE(x.insert(xKeycode).second) << xKeycode;
        EXPECT_GE(xKeycode, 8);
        EXPECT_LE(xKeycode, 255);
        EXPECT_EQ(KeyCodes::carbonForXKeycode(xKeycode), carbonCode);
    }
    // K, F13, Return, and the Command key on Ctrl, as the modifiers map.
    EXPECT_EQ(KeyCodes::xKeycodeForCarbon(40), 45);
    EXPECT_EQ(KeyCodes::xKeycodeForCarbon(105), 191);
    EXPECT_EQ(KeyCodes::xKeycodeForCarbon(36), 36);
    EXPECT_EQ(KeyCodes::xKeycodeForCarbon(55), 37);
    EXPECT_FALSE(KeyCodes::xKeycodeForCarbon(63));
    // Every key with a fixed name or a US character has a place.
    for (int code :
         {122, 120, 99, 118, 96, 97, 98, 100, 101, 109, 103, 111, 105, 107, 113, 106, 64,  79, 80,
          90,  49,  36, 48,  51, 53, 71, 76,  114, 115, 116, 117, 119, 121, 123, 124, 125, 126})
        EXPECT_TRUE(KeyCodes::xKeycodeForCarbon(code)) << code;
    for (int code = 0; code < 128; ++code)
        if (KeyCodes::usLayoutCharacter(code))
            EXPECT_TRUE(KeyCodes::xKeycodeForCarbon(code)) << code;
}

TEST(ShortcutTest, KeyEventsMapModifiersLikeTheMenus)
{
    const QKeyEvent commandOptionK(QEvent::KeyPress, Qt::Key_K,
                                   Qt::ControlModifier | Qt::AltModifier);
    EXPECT_EQ(Shortcut::fromKeyEvent(commandOptionK),
              Shortcut(40, Shortcut::Command | Shortcut::Option));
    const QKeyEvent controlShiftF5(QEvent::KeyPress, Qt::Key_F5,
                                   Qt::MetaModifier | Qt::ShiftModifier);
    EXPECT_EQ(Shortcut::fromKeyEvent(controlShiftF5),
              Shortcut(96, Shortcut::Control | Shortcut::Shift));
    const QKeyEvent comma(QEvent::KeyPress, Qt::Key_Comma, Qt::ControlModifier);
    EXPECT_EQ(Shortcut::fromKeyEvent(comma), Shortcut(43, Shortcut::Command));
    const QKeyEvent unknown(QEvent::KeyPress, Qt::Key_MediaPlay, Qt::NoModifier);
    EXPECT_EQ(Shortcut::fromKeyEvent(unknown).keyCode(), Shortcut::NotFound);
}
