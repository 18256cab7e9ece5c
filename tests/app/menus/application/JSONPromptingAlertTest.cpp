#include "app/ApplicationMenuTestSupport.h"
#include "app/menus/application/JSONPromptingAlert.h"
#include "app/qt/CodeTextView.h"
#include "app/qt/QtAlertPresenter.h"

#include <QApplication>
#include <QDialog>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QMimeData>
#include <QPainter>
#include <QPushButton>
#include <QTextBlock>
#include <QTimer>

using namespace corvane;
using namespace corvane::test;

namespace {

class JSONPromptingAlertTest : public ApplicationMenuFixture {};

QImage filled(QSize size, QColor color)
{
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(color);
    return image;
}

// A frame of 301 × 301 with a blue badge in its top-right corner.
QImage frame()
{
    QImage image = filled({301, 301}, Qt::transparent);
    QPainter painter(&image);
    painter.fillRect(QRect(261, 0, 40, 40), Qt::blue);
    return image;
}

QColor at(const QImage &image, int x, int y)
{
    return image.pixelColor(x, y);
}

// Exposes the paste of a pasteboard's contents.
class PastingView : public CodeTextView {
public:
    using CodeTextView::insertFromMimeData;
};

void press(QWidget &widget, int key, const QString &text = {})
{
    QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier, text);
    QApplication::sendEvent(&widget, &event);
}

} // namespace

TEST_F(JSONPromptingAlertTest, TheAlertNamesTheApplicationAndDeviceAndStartsEmpty)
{
    const AlertSpec spec = JSONPromptingAlert::spec(*foo);
    EXPECT_EQ(spec.messageText, "Push Notification Payload");
    EXPECT_EQ(spec.informativeText, "Will be delivered to Foo on iPhone 15 (iOS 17.2).");
    ASSERT_EQ(spec.buttons.size(), 2u);
    EXPECT_EQ(spec.buttons[0].title, "Send");
    EXPECT_FALSE(spec.buttons[0].enabled);
    EXPECT_EQ(spec.buttons[1].title, "Cancel");
    ASSERT_TRUE(spec.accessory);
    EXPECT_TRUE(spec.accessory->multiline);
    EXPECT_TRUE(spec.accessory->monospace);
    EXPECT_EQ(spec.accessory->placeholder, JSONPromptingAlert::samplePayload);
    EXPECT_EQ(JSONPromptingAlert::samplePayload.size(), 90);
    EXPECT_TRUE(spec.accessory->initialText.isEmpty());
    EXPECT_FALSE(spec.icon.isNull());

    // Help opens the documentation and leaves the alert alone.
    ASSERT_TRUE(spec.help);
    spec.help();
    EXPECT_EQ(workspace->made("openUrl"),
              QStringList{JSONPromptingAlert::documentationUrl.toString()});

    // A remembered payload starts the editor and enables Send.
    const AlertSpec again = JSONPromptingAlert::spec(*foo, " {} \n");
    EXPECT_EQ(again.accessory->initialText, " {} \n");
    EXPECT_TRUE(again.buttons[0].enabled);

    // Once the device is gone there is nothing to name.
    watcher.reset();
    toolset->setDeviceWatcher(nullptr);
    ASSERT_FALSE(foo->device());
    EXPECT_TRUE(JSONPromptingAlert::informativeText(*foo).isEmpty());
}

TEST_F(JSONPromptingAlertTest, SendFollowsTheTrimmedTextAndTheWrapRuleLooksForAps)
{
    EXPECT_FALSE(JSONPromptingAlert::canSend(""));
    EXPECT_FALSE(JSONPromptingAlert::canSend(" \n\t\n "));
    EXPECT_TRUE(JSONPromptingAlert::canSend(" x "));

    EXPECT_EQ(JSONPromptingAlert::payload("\n {\"alert\": \"Hi\"} \n"),
              "{\"aps\": {\"alert\": \"Hi\"}}");
    // Anywhere, in any case, even inside a value.
    EXPECT_EQ(JSONPromptingAlert::payload("{\"APS\": {}}"), "{\"APS\": {}}");
    EXPECT_EQ(JSONPromptingAlert::payload("{\"alert\": \"snaps\"}"), "{\"alert\": \"snaps\"}");
    // Not JSON: sent as typed.
    EXPECT_EQ(JSONPromptingAlert::payload("hello"), "{\"aps\": hello}");
}

TEST_F(JSONPromptingAlertTest, TheIconSitsInTheFramesBottomLeftWithRoundedCorners)
{
    const QImage red = filled({100, 100}, Qt::red);
    const QImage icon = JSONPromptingAlert::icon(frame(), red, {});
    ASSERT_EQ(icon.size(), QSize(301, 301));
    // d = 260: the icon fills x 0…260, y 41…301.
    EXPECT_EQ(at(icon, 130, 171), QColor(Qt::red));
    EXPECT_EQ(at(icon, 5, 120), QColor(Qt::red));
    EXPECT_EQ(at(icon, 255, 171), QColor(Qt::red));
    EXPECT_EQ(at(icon, 130, 30).alpha(), 0);
    EXPECT_EQ(at(icon, 280, 171).alpha(), 0);
    // The corners are cut at radius 0.22·d ≈ 57.
    EXPECT_EQ(at(icon, 2, 298).alpha(), 0);
    EXPECT_EQ(at(icon, 2, 44).alpha(), 0);
    // The frame lies over the icon.
    EXPECT_EQ(at(icon, 280, 20), QColor(Qt::blue));

    // Without an icon of its own, the stand-in; without either, the frame.
    const QImage standIn = JSONPromptingAlert::icon(frame(), {}, filled({64, 64}, Qt::green));
    EXPECT_EQ(at(standIn, 130, 171), QColor(Qt::green));
    const QImage bare = JSONPromptingAlert::icon(frame(), {}, {});
    EXPECT_EQ(at(bare, 130, 171).alpha(), 0);
    EXPECT_EQ(at(bare, 280, 20), QColor(Qt::blue));
    EXPECT_TRUE(JSONPromptingAlert::icon({}, red, {}).isNull());
}

TEST_F(JSONPromptingAlertTest, TheEditorTakesTabsAndReturnsAndPastesPlainText)
{
    PastingView editor;
    EXPECT_EQ(editor.font().family(), QFontDatabase::systemFont(QFontDatabase::FixedFont).family());

    QMimeData styled;
    styled.setHtml("<b>bold</b> <i>text</i>");
    styled.setText("bold text");
    editor.insertFromMimeData(&styled);
    EXPECT_EQ(editor.toPlainText(), "bold text");
    QTextCursor cursor(editor.document());
    cursor.setPosition(2);
    EXPECT_NE(cursor.charFormat().fontWeight(), QFont::Bold);

    editor.clear();
    press(editor, Qt::Key_BraceLeft, "{");
    press(editor, Qt::Key_Return, "\r");
    press(editor, Qt::Key_Tab, "\t");
    press(editor, Qt::Key_A, "a");
    EXPECT_EQ(editor.toPlainText(), "{\n\ta");
}

TEST_F(JSONPromptingAlertTest, TheDialogKeepsReturnInTheEditorAndEnablesSendWithText)
{
    QtAlertPresenter presenter;
    const AlertSpec spec = JSONPromptingAlert::spec(*foo);
    QStringList seen;
    QTimer poll;
    int step = 0;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        auto *editor = dialog->findChild<QPlainTextEdit *>();
        QPushButton *sendButton = nullptr;
        for (auto *button : dialog->findChildren<QPushButton *>())
            if (button->text() == "Send")
                sendButton = button;
        if (!editor || !sendButton) {
            dialog->reject();
            return;
        }
        if (step == 0) {
            seen << (editor->placeholderText() == JSONPromptingAlert::samplePayload ? "sample"
                                                                                    : "no sample");
            seen << (sendButton->isEnabled() ? "enabled" : "disabled");
            press(*editor, Qt::Key_Space, " ");
            press(*editor, Qt::Key_Return, "\r");
            seen << (sendButton->isEnabled() ? "enabled" : "disabled");
            press(*editor, Qt::Key_BraceLeft, "{");
            seen << (sendButton->isEnabled() ? "enabled" : "disabled");
            ++step;
            return;
        }
        // Return broke the line and left the dialog open.
        seen << (dialog->isVisible() ? "open" : "closed");
        poll.stop();
        sendButton->click();
    });
    poll.start(20);
    const AlertResponse response = presenter.run(spec);
    EXPECT_EQ(seen, QStringList({"sample", "disabled", "disabled", "enabled", "open"}));
    EXPECT_EQ(response.buttonIndex, 0);
    EXPECT_EQ(response.text, " \n{");
}
