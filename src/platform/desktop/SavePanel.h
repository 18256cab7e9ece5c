#pragma once

#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWindow>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace corvane {

struct SavePanelSpec {
    QString title;
    QString prompt;
    QString proposedName;
    QStringList allowedTypes;
    bool canHideExtension = false;
    // The folder it opens in; without one (or when it is gone), the folder
    // it was last used in, else the home folder.
    QString directory;
    // Names the panel, so that it opens where it was last used: each named
    // panel keeps its own folder in the program's settings.
    QString identifier;
    // The window it is opened from: it comes up in front of that window,
    // tied to it. Without one, in front of the program's active window.
    QPointer<QWindow> parentWindow;
};

// Asks the user where to save; nullopt means cancelled.
class SavePanel {
public:
    using Completion = std::function<void(const std::optional<QString> &path)>;

    virtual ~SavePanel() = default;
    virtual std::optional<QString> runModal(const SavePanelSpec &spec) = 0;
    // Shows the panel without blocking; the completion runs on the main thread.
    virtual void begin(const SavePanelSpec &spec, Completion completion) = 0;

    static std::shared_ptr<SavePanel> shared();
    static void setShared(std::shared_ptr<SavePanel> panel);
};

// Records each request and answers from a queue (then cancels).
class RecordingSavePanel : public SavePanel {
public:
    std::optional<QString> runModal(const SavePanelSpec &spec) override;
    void begin(const SavePanelSpec &spec, Completion completion) override;

    void enqueue(std::optional<QString> path) { m_answers.push_back(std::move(path)); }
    std::vector<SavePanelSpec> presented;

private:
    std::optional<QString> next();
    std::vector<std::optional<QString>> m_answers;
};

} // namespace corvane
