#pragma once

#include <QImage>
#include <QPointer>
#include <QSize>
#include <QString>
#include <QWindow>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace corvane {

// What an alert shows. Buttons are given in order; the answer is an index
// into that order.
struct AlertSpec {
    enum class Style { Informational, Warning, Critical };
    enum class KeyEquivalent { None, Return };

    struct Button {
        QString title;
        // Return on a later button lets Return cancel a destructive alert.
        KeyEquivalent keyEquivalent = KeyEquivalent::None;
        bool enabled = true;
    };

    // A text field or editor under the texts; its validator decides whether
    // the first button is enabled.
    struct TextAccessory {
        QString placeholder;
        QString initialText;
        bool multiline = false;
        bool monospace = false;
        std::function<bool(const QString &text)> validator;
        // A fixed size; empty leaves it to the presenter.
        QSize size;
    };

    Style style = Style::Warning;
    bool cautionIcon = false;
    QImage icon;
    QString messageText;
    QString informativeText;
    std::vector<Button> buttons;
    // Shows the "Do not ask again" check box.
    bool showsSuppressionButton = false;
    // Shows a help button; the dialog stays open while the callback runs.
    std::function<void()> help;
    std::optional<TextAccessory> accessory;
    // The window it is opened from: it comes up in front of that window,
    // tied to it. Without one, in front of the program's active window.
    QPointer<QWindow> parentWindow;
};

struct AlertResponse {
    // Index into AlertSpec::buttons; -1 when closed without a button.
    int buttonIndex = -1;
    bool suppressed = false;
    QString text;

    bool operator==(const AlertResponse &) const = default;
};

// Runs alerts modally on the main thread. The program installs the Qt one;
// tests install a fake that answers.
class AlertPresenter {
public:
    virtual ~AlertPresenter() = default;
    virtual AlertResponse run(const AlertSpec &spec) = 0;
    // Answers every alert now open as closed without a button, so that
    // nothing waits on the user any longer (quitting). Main thread.
    virtual void closeOpenAlerts() {}

    // The presenter in use; until one is installed, alerts answer as closed.
    static std::shared_ptr<AlertPresenter> shared();
    static void setShared(std::shared_ptr<AlertPresenter> presenter);
};

// A presenter that records every alert and answers from a queue of
// responses (then with the default response).
class RecordingAlertPresenter : public AlertPresenter {
public:
    AlertResponse run(const AlertSpec &spec) override;

    void enqueue(AlertResponse response) { m_responses.push_back(std::move(response)); }
    AlertResponse defaultResponse;
    std::vector<AlertSpec> presented;

private:
    std::vector<AlertResponse> m_responses;
};

} // namespace corvane
