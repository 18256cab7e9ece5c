#include "FakeHotKeyCenter.h"
#include "common/TestSupport.h"
#include "platform/desktop/AlertPresenter.h"
#include "platform/queues/DispatchQueue.h"
#include "platform/hotkeys/HotKeyCenter.h"
#include "platform/hotkeys/KeyCodes.h"
#include "shortcuts/ShortcutValidator.h"
#include "shortcuts/ShortcutView.h"

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QApplication>
#include <QKeyEvent>
#include <QTemporaryDir>
#include <QVBoxLayout>
#include <gtest/gtest.h>

#include <thread>

using namespace corvane;
using namespace std::chrono_literals;

namespace {

const Shortcut kCmdOptK(40, Shortcut::Command | Shortcut::Option);
const Qt::KeyboardModifiers kCtrlAlt = Qt::ControlModifier | Qt::AltModifier;

// The focused widget: keeps the key presses that reach it.
class KeySink : public QWidget {
public:
    std::vector<int> received;

protected:
    void keyPressEvent(QKeyEvent *event) override { received.push_back(event->key()); }
};

// Runs a callback while its alert is up, as a modal alert's own event loop
// would let other events through.
class CallbackAlertPresenter : public RecordingAlertPresenter {
public:
    std::function<void()> whileShown;
    AlertResponse run(const AlertSpec &spec) override
    {
        if (whileShown)
            whileShown();
        return RecordingAlertPresenter::run(spec);
    }
};

class ShortcutViewTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        defaults = UserDefaults::withFile(m_dir.filePath("defaults.ini"));
        m_previousPresenter = AlertPresenter::shared();
        AlertPresenter::setShared(alerts);
        ShortcutView::setBeepHandler([this] { ++beeps; });
        auto *layout = new QVBoxLayout(&window);
        view = new ShortcutView;
        other = new ShortcutView;
        sink = new KeySink;
        layout->addWidget(view);
        layout->addWidget(other);
        layout->addWidget(sink);
        view->setShortcutValidator(validator);
        view->setAssociatedUserDefaultsKey("DeleteDerivedData", defaults);
        window.resize(200, 120);
    }
    void TearDown() override
    {
        view->setRecording(false);
        other->setRecording(false);
        ShortcutView::setBeepHandler(nullptr);
        AlertPresenter::setShared(m_previousPresenter);
        DispatchQueue::drainMain();
    }

    // As the platform delivers a key: the focus widget may first claim it
    // from menu shortcuts; the press follows. Returns whether the override
    // was claimed.
    bool type(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QKeyEvent override(QEvent::ShortcutOverride, key, modifiers);
        override.setAccepted(false);
        QApplication::sendEvent(sink, &override);
        QKeyEvent press(QEvent::KeyPress, key, modifiers);
        QApplication::sendEvent(sink, &press);
        return override.isAccepted();
    }
    void release(int key, Qt::KeyboardModifiers modifiers)
    {
        QKeyEvent event(QEvent::KeyRelease, key, modifiers);
        QApplication::sendEvent(sink, &event);
    }
    void click(ShortcutView *target, QPoint at)
    {
        QMouseEvent press(QEvent::MouseButtonPress, at, target->mapToGlobal(at), Qt::LeftButton,
                          Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &press);
    }
    QPoint inShortcut(ShortcutView *target) const { return target->shortcutRect().center(); }
    QPoint inHint(ShortcutView *target) const { return target->hintRect().center(); }
    std::optional<Shortcut> stored() const
    {
        return Shortcut::fromStoredValue(defaults->object("DeleteDerivedData"));
    }

    QTemporaryDir m_dir;
    std::shared_ptr<AlertPresenter> m_previousPresenter;
    std::shared_ptr<UserDefaults> defaults;
    std::shared_ptr<CallbackAlertPresenter> alerts = std::make_shared<CallbackAlertPresenter>();
    std::shared_ptr<test::FakeHotKeyCenter> center = std::make_shared<test::FakeHotKeyCenter>();
    std::shared_ptr<ShortcutValidator> validator = std::make_shared<ShortcutValidator>(center);
    QWidget window;
    ShortcutView *view = nullptr;
    ShortcutView *other = nullptr;
    KeySink *sink = nullptr;
    int beeps = 0;
};

} // namespace

TEST_F(ShortcutViewTest, ClicksRecordClearAndStop)
{
    int changes = 0;
    view->setShortcutValueChange([&](ShortcutView *changed) {
        EXPECT_EQ(changed, view);
        ++changes;
    });
    click(view, inHint(view));
    EXPECT_TRUE(view->isRecording());
    click(view, inShortcut(view));
    EXPECT_TRUE(view->isRecording());
    click(view, inHint(view));
    EXPECT_FALSE(view->isRecording());

    view->setShortcutValue(kCmdOptK);
    EXPECT_EQ(stored(), kCmdOptK);
    click(view, inShortcut(view));
    EXPECT_TRUE(view->isRecording());
    click(view, inShortcut(view));
    EXPECT_TRUE(view->isRecording());
    EXPECT_EQ(view->shortcutValue(), kCmdOptK);
    click(view, inHint(view));
    EXPECT_FALSE(view->isRecording());

    // No mark shown, yet a click beside the shortcut still clears it.
    view->setShowsDeleteButton(false);
    click(view, inHint(view));
    EXPECT_FALSE(view->isRecording());
    EXPECT_EQ(view->shortcutValue(), std::nullopt);
    EXPECT_FALSE(defaults->hasStoredValue("DeleteDerivedData"));
    EXPECT_EQ(changes, 2);
}

TEST_F(ShortcutViewTest, ADisabledViewIgnoresClicksAndShowsNoToolTips)
{
    view->setShortcutValue(kCmdOptK);
    EXPECT_EQ(view->toolTipAt(inShortcut(view)), "Click to record new shortcut");
    EXPECT_EQ(view->toolTipAt(inHint(view)), "Delete shortcut");
    view->setRecording(true);
    view->setEnabled(false);
    EXPECT_FALSE(view->isRecording());
    click(view, inHint(view));
    click(view, inShortcut(view));
    EXPECT_FALSE(view->isRecording());
    EXPECT_EQ(view->shortcutValue(), kCmdOptK);
    EXPECT_EQ(view->toolTipAt(inShortcut(view)), QString());
    view->setRecording(true);
    EXPECT_FALSE(view->isRecording());
    EXPECT_EQ(ShortcutView::recordingView(), nullptr);
}

TEST_F(ShortcutViewTest, TypedKeysFollowTheRecordingRules)
{
    view->setShortcutValue(kCmdOptK);
    view->setRecording(true);
    EXPECT_FALSE(type(Qt::Key_Tab));
    EXPECT_FALSE(type(Qt::Key_Backtab, Qt::ShiftModifier));
    EXPECT_EQ(sink->received, (std::vector<int>{Qt::Key_Tab, Qt::Key_Backtab}));
    EXPECT_TRUE(view->isRecording());

    EXPECT_TRUE(type(Qt::Key_Escape));
    EXPECT_FALSE(view->isRecording());
    EXPECT_EQ(view->shortcutValue(), kCmdOptK);

    for (int key : {Qt::Key_Backspace, Qt::Key_Delete}) {
        view->setShortcutValue(kCmdOptK);
        view->setRecording(true);
        EXPECT_TRUE(type(key));
        EXPECT_FALSE(view->isRecording());
        EXPECT_EQ(view->shortcutValue(), std::nullopt);
        EXPECT_EQ(stored(), std::nullopt);
    }

    // ⌘Q stops recording and goes on to quit.
    view->setRecording(true);
    sink->received.clear();
    EXPECT_FALSE(type(Qt::Key_Q, Qt::ControlModifier));
    EXPECT_FALSE(view->isRecording());
    EXPECT_EQ(sink->received, std::vector<int>{Qt::Key_Q});
    EXPECT_EQ(beeps, 0);
}

TEST_F(ShortcutViewTest, HeldModifiersShowUntilAKeyCompletesTheShortcut)
{
    view->setRecording(true);
    QKeyEvent shiftDown(QEvent::KeyPress, Qt::Key_Shift, Qt::NoModifier);
    QApplication::sendEvent(sink, &shiftDown);
    EXPECT_EQ(view->shortcutPlaceholder(), QString::fromUtf8("⇧"));
    EXPECT_TRUE(view->isRecording());
    // The release clears it, whether or not the state still holds Shift.
    release(Qt::Key_Shift, Qt::ShiftModifier);
    EXPECT_EQ(view->shortcutPlaceholder(), QString());

    EXPECT_TRUE(type(Qt::Key_A, Qt::ShiftModifier));
    EXPECT_EQ(beeps, 1);
    EXPECT_TRUE(view->isRecording());
    EXPECT_TRUE(sink->received.empty());

    type(Qt::Key_Control, Qt::ControlModifier);
    type(Qt::Key_Alt, kCtrlAlt);
    EXPECT_EQ(view->shortcutPlaceholder(), QString::fromUtf8("⌥⌘"));
    EXPECT_TRUE(type(Qt::Key_K, kCtrlAlt));
    EXPECT_FALSE(view->isRecording());
    EXPECT_EQ(view->shortcutValue(), kCmdOptK);
    EXPECT_EQ(view->shortcutValue()->description(), QString::fromUtf8("⌥⌘K"));
    EXPECT_EQ(defaults->object("DeleteDerivedData"), QVariant(kCmdOptK.archived()));
    EXPECT_TRUE(sink->received.empty());
    // Recording over, keys are no longer taken.
    EXPECT_FALSE(type(Qt::Key_J, kCtrlAlt));
    EXPECT_EQ(sink->received, std::vector<int>{Qt::Key_J});
}

TEST_F(ShortcutViewTest, ATakenCombinationIsExplainedAndRecordingGoesOn)
{
    center->heldElsewhere.insert({40, KeyCodes::cmdKey | KeyCodes::optionKey});
    view->setRecording(true);
    type(Qt::Key_Shift, Qt::ShiftModifier);
    // The alert has the keyboard: keys typed meanwhile are not recorded.
    alerts->whileShown = [&] {
        EXPECT_FALSE(type(Qt::Key_Escape));
        EXPECT_TRUE(view->isRecording());
    };
    EXPECT_TRUE(type(Qt::Key_K, kCtrlAlt));
    ASSERT_EQ(alerts->presented.size(), 1u);
    const AlertSpec &alert = alerts->presented[0];
    EXPECT_EQ(alert.style, AlertSpec::Style::Critical);
    EXPECT_EQ(alert.messageText, QString::fromUtf8("The key combination ⌥⌘K cannot be used"));
    EXPECT_TRUE(alert.informativeText.startsWith("This combination cannot be used"));
    ASSERT_EQ(alert.buttons.size(), 1u);
    EXPECT_EQ(alert.buttons[0].title, "OK");
    EXPECT_EQ(alert.buttons[0].keyEquivalent, AlertSpec::KeyEquivalent::Return);
    EXPECT_TRUE(view->isRecording());
    EXPECT_EQ(view->shortcutPlaceholder(), QString());
    EXPECT_EQ(view->shortcutValue(), std::nullopt);

    alerts->whileShown = nullptr;
    EXPECT_TRUE(type(Qt::Key_L, kCtrlAlt));
    EXPECT_EQ(view->shortcutValue(), Shortcut(37, Shortcut::Command | Shortcut::Option));
}

TEST_F(ShortcutViewTest, OneRecorderAtATimeWithTheHotKeysLifted)
{
    const auto hotKeys = HotKeyCenter::shared();
    view->setRecording(true);
    EXPECT_TRUE(hotKeys->isSuspended());
    other->setRecording(true);
    EXPECT_FALSE(view->isRecording());
    EXPECT_TRUE(other->isRecording());
    EXPECT_EQ(ShortcutView::recordingView(), other);
    EXPECT_TRUE(hotKeys->isSuspended());
    EXPECT_TRUE(type(Qt::Key_K, kCtrlAlt));
    EXPECT_EQ(other->shortcutValue(), kCmdOptK);
    EXPECT_EQ(view->shortcutValue(), std::nullopt);
    EXPECT_FALSE(hotKeys->isSuspended());

    // A recorder that goes away while recording gives the keys back.
    auto *doomed = new ShortcutView(&window);
    doomed->setRecording(true);
    EXPECT_TRUE(hotKeys->isSuspended());
    delete doomed;
    EXPECT_EQ(ShortcutView::recordingView(), nullptr);
    EXPECT_FALSE(hotKeys->isSuspended());
    EXPECT_FALSE(type(Qt::Key_K, kCtrlAlt));
}

TEST_F(ShortcutViewTest, LosingTheFocusedWindowStopsRecording)
{
    QWidget second;
    window.show();
    window.activateWindow();
    ASSERT_TRUE(
        test::waitUntil([&] { return QGuiApplication::focusWindow() == window.windowHandle(); }));
    view->setRecording(true);
    second.show();
    second.activateWindow();
    EXPECT_TRUE(test::waitUntil([&] { return !view->isRecording(); }));

    // Started in a window without the focus, recording ends only once that
    // window had the focus and lost it.
    QWidget third;
    view->setRecording(true);
    third.show();
    third.activateWindow();
    ASSERT_TRUE(
        test::waitUntil([&] { return QGuiApplication::focusWindow() == third.windowHandle(); }));
    EXPECT_TRUE(view->isRecording());
    window.activateWindow();
    ASSERT_TRUE(
        test::waitUntil([&] { return QGuiApplication::focusWindow() == window.windowHandle(); }));
    EXPECT_TRUE(view->isRecording());
    second.activateWindow();
    EXPECT_TRUE(test::waitUntil([&] { return !view->isRecording(); }));
}

TEST_F(ShortcutViewTest, FollowsTheKeyWhereverItIsWritten)
{
    int changes = 0;
    view->setShortcutValueChange([&](ShortcutView *) { ++changes; });
    defaults->set("DeleteDerivedData", kCmdOptK.archived());
    EXPECT_EQ(view->shortcutValue(), kCmdOptK);
    std::thread([&] { defaults->remove("DeleteDerivedData"); }).join();
    EXPECT_TRUE(test::waitUntil([&] { return !view->shortcutValue(); }));
    defaults->set("DeleteDerivedData", QByteArray("not an archive"));
    EXPECT_EQ(view->shortcutValue(), std::nullopt);
    EXPECT_EQ(changes, 2);

    // A second view on the key shows what the first records.
    other->setAssociatedUserDefaultsKey("DeleteDerivedData", defaults);
    EXPECT_EQ(other->associatedUserDefaultsKey(), "DeleteDerivedData");
    view->setShortcutValue(kCmdOptK);
    EXPECT_EQ(other->shortcutValue(), kCmdOptK);
    other->setAssociatedUserDefaultsKey(QString());
    view->setShortcutValue(std::nullopt);
    EXPECT_EQ(other->shortcutValue(), kCmdOptK);
    EXPECT_EQ(other->associatedUserDefaultsKey(), QString());

    // Another stored form.
    other->setAssociatedUserDefaultsKey("GlobalRedo", ShortcutValueTransformer::dictionary(),
                                        defaults);
    other->setShortcutValue(Shortcut(15, Shortcut::Command | Shortcut::Shift));
    const QVariantMap stored = defaults->object("GlobalRedo")->toMap();
    EXPECT_EQ(stored.value("keyCode").toLongLong(), 15);
    EXPECT_EQ(stored.value("modifierFlags").toULongLong(), 0x120000u);
}

TEST_F(ShortcutViewTest, AccessibilityNamesTheShortcutAndPressRecords)
{
    QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(view);
    ASSERT_NE(accessible, nullptr);
    EXPECT_EQ(accessible->role(), QAccessible::Button);
    EXPECT_EQ(accessible->text(QAccessible::Name), "Empty keyboard shortcut");
    EXPECT_TRUE(accessible->text(QAccessible::Description).startsWith("To record a new shortcut"));
    view->setShortcutValue(kCmdOptK);
    EXPECT_EQ(accessible->text(QAccessible::Name), QString::fromUtf8("⌥⌘K keyboard shortcut"));
    QAccessibleActionInterface *actions = accessible->actionInterface();
    ASSERT_NE(actions, nullptr);
    actions->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_TRUE(view->isRecording());
    EXPECT_FALSE(view->accessibilityPerformPress());
    EXPECT_TRUE(view->isRecording());
}

TEST_F(ShortcutViewTest, SizeAndHintAreaFollowTheStyle)
{
    EXPECT_GE(view->sizeHint().width(), 120);
    EXPECT_GT(view->sizeHint().height(), 11);
    view->resize(120, view->sizeHint().height());
    EXPECT_EQ(view->hintRect().width(), 23);
    view->setShortcutStyle(ShortcutView::Style::Rounded);
    EXPECT_EQ(view->hintRect().width(), 26);
    EXPECT_EQ(view->shortcutRect().width(), 94);
    view->setShortcutStyle(ShortcutView::Style::None);
    EXPECT_EQ(view->hintRect().width(), 15);
    EXPECT_EQ(view->focusPolicy(), Qt::NoFocus);
    // At its size hint the longest prompt shows whole, whatever the face.
    for (int points : {11, 16}) {
        QFont font = view->shortcutCell().font();
        font.setPixelSize(points);
        view->shortcutCell().setFont(font);
        view->resize(view->sizeHint());
        EXPECT_GE(view->shortcutRect().width(),
                  view->shortcutCell().widthForTitle("Type New Shortcut"));
    }
}
