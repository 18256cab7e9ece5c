#include "app/qt/QtAlertPresenter.h"

#include "app/qt/CodeTextView.h"
#include "app/qt/DialogParent.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include <vector>

namespace corvane {

namespace {

QPixmap alertIcon(const AlertSpec &spec, QStyle *style)
{
    if (!spec.icon.isNull()) {
        // 64 points, in the image's own pixel density.
        const qreal ratio = spec.icon.devicePixelRatio();
        QPixmap pixmap = QPixmap::fromImage(spec.icon).scaled(
            QSize(64, 64) * ratio, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        pixmap.setDevicePixelRatio(ratio);
        return pixmap;
    }
    QStyle::StandardPixmap standard = QStyle::SP_MessageBoxInformation;
    if (spec.cautionIcon || spec.style == AlertSpec::Style::Warning)
        standard = QStyle::SP_MessageBoxWarning;
    if (spec.style == AlertSpec::Style::Critical)
        standard = QStyle::SP_MessageBoxCritical;
    return style->standardIcon(standard).pixmap(48, 48);
}

} // namespace

AlertResponse QtAlertPresenter::run(const AlertSpec &spec)
{
    QWidget *parent = dialogParent(spec.parentWindow);
    QDialog dialog(parent);
    dialog.setWindowTitle(QApplication::applicationDisplayName());
    // One of our windows keeps it in front of itself; without one, it must
    // not come up behind other programs' windows.
    if (!parent)
        dialog.setWindowFlag(Qt::WindowStaysOnTopHint);
    auto *outer = new QHBoxLayout(&dialog);
    auto *icon = new QLabel;
    icon->setPixmap(alertIcon(spec, dialog.style()));
    icon->setAlignment(Qt::AlignTop);
    outer->addWidget(icon);
    auto *column = new QVBoxLayout;
    outer->addLayout(column);

    auto *message = new QLabel(spec.messageText);
    QFont bold = message->font();
    bold.setBold(true);
    message->setFont(bold);
    message->setWordWrap(true);
    message->setTextFormat(Qt::PlainText);
    column->addWidget(message);
    if (!spec.informativeText.isEmpty()) {
        auto *informative = new QLabel(spec.informativeText);
        informative->setWordWrap(true);
        informative->setTextFormat(Qt::PlainText);
        column->addWidget(informative);
    }

    std::function<QString()> accessoryText;
    QLineEdit *line = nullptr;
    QPlainTextEdit *editor = nullptr;
    if (spec.accessory) {
        if (spec.accessory->multiline) {
            editor = new CodeTextView;
            editor->setPlaceholderText(spec.accessory->placeholder);
            editor->setPlainText(spec.accessory->initialText);
            if (spec.accessory->size.isEmpty())
                editor->setMinimumSize(400, 190);
            else
                editor->setFixedSize(spec.accessory->size);
            if (!spec.accessory->monospace)
                editor->setFont(QApplication::font());
            column->addWidget(editor);
            accessoryText = [editor] { return editor->toPlainText(); };
        } else {
            line = new QLineEdit;
            line->setPlaceholderText(spec.accessory->placeholder);
            line->setText(spec.accessory->initialText);
            if (spec.accessory->size.isValid())
                line->setFixedSize(spec.accessory->size);
            else
                line->setMinimumWidth(300);
            column->addWidget(line);
            accessoryText = [line] { return line->text(); };
        }
    }

    QCheckBox *suppression = nullptr;
    if (spec.showsSuppressionButton) {
        suppression = new QCheckBox(QObject::tr("Do not ask again"));
        column->addWidget(suppression);
    }

    AlertResponse response;
    auto *buttonRow = new QHBoxLayout;
    column->addLayout(buttonRow);
    if (spec.help) {
        auto *help = new QPushButton(QStringLiteral("?"));
        help->setAutoDefault(false);
        help->setFixedWidth(help->sizeHint().height());
        QObject::connect(help, &QPushButton::clicked, &dialog, [&spec] { spec.help(); });
        buttonRow->addWidget(help);
    }
    buttonRow->addStretch();
    std::vector<QPushButton *> buttons;
    for (size_t index = 0; index < spec.buttons.size(); ++index) {
        const auto &button = spec.buttons[index];
        // Titles are shown as written: an "&" is no mnemonic marker.
        auto *push = new QPushButton(QString(button.title).replace('&', QStringLiteral("&&")));
        const bool isReturn = button.keyEquivalent == AlertSpec::KeyEquivalent::Return;
        push->setAutoDefault(false);
        push->setDefault(isReturn);
        push->setEnabled(button.enabled);
        QObject::connect(push, &QPushButton::clicked, &dialog, [&dialog, &response, index] {
            response.buttonIndex = int(index);
            dialog.accept();
        });
        buttons.push_back(push);
    }
    for (auto it = buttons.rbegin(); it != buttons.rend(); ++it)
        buttonRow->addWidget(*it);
    // Without any button an alert still needs a way to answer.
    if (buttons.empty()) {
        auto *ok = new QPushButton(QObject::tr("OK"));
        ok->setDefault(true);
        QObject::connect(ok, &QPushButton::clicked, &dialog, [&dialog, &response] {
            response.buttonIndex = 0;
            dialog.accept();
        });
        buttonRow->addWidget(ok);
    }

    if (spec.accessory && spec.accessory->validator && !buttons.empty()) {
        auto validate = [&spec, &accessoryText, first = buttons.front()] {
            first->setEnabled(spec.accessory->validator(accessoryText()));
        };
        validate();
        if (line)
            QObject::connect(line, &QLineEdit::textChanged, &dialog, validate);
        if (editor)
            QObject::connect(editor, &QPlainTextEdit::textChanged, &dialog, validate);
    }
    if (line)
        line->setFocus();
    else if (editor)
        editor->setFocus();

    m_open.push_back(&dialog);
    dialog.exec();
    std::erase(m_open, QPointer<QDialog>(&dialog));
    response.suppressed = suppression && suppression->isChecked();
    if (accessoryText)
        response.text = accessoryText();
    return response;
}

void QtAlertPresenter::closeOpenAlerts()
{
    const auto open = m_open;
    for (auto it = open.rbegin(); it != open.rend(); ++it)
        if (*it)
            (*it)->reject();
}

} // namespace corvane
