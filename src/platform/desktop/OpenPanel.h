#pragma once

#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWindow>

#include <functional>
#include <memory>
#include <vector>

namespace corvane {

struct OpenPanelSpec {
    QString title;
    QString prompt;
    // Uniform type names ("public.image", "public.movie") or file name
    // extensions ("app", "xcappdata"); empty allows everything.
    QStringList allowedTypes;
    bool canChooseFiles = true;
    bool canChooseDirectories = false;
    bool allowsMultipleSelection = false;
    bool canCreateDirectories = false;
    bool showsHiddenFiles = false;
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

// Asks the user for files to open. Bundles (".app", ".xcappdata") are chosen
// as files, never entered. An empty answer means cancelled.
class OpenPanel {
public:
    using Completion = std::function<void(const QStringList &paths)>;

    virtual ~OpenPanel() = default;
    virtual QStringList runModal(const OpenPanelSpec &spec) = 0;
    // Shows the panel without blocking; the completion runs on the main thread.
    virtual void begin(const OpenPanelSpec &spec, Completion completion) = 0;

    // Folder extensions that are documents, not folders.
    static QStringList bundleExtensions();
    static bool isBundle(const QString &path);
    // Whether a path matches the allowed types.
    static bool allows(const QStringList &allowedTypes, const QString &path);
    // Name filters for a file dialog ("Images (*.png *.jpg …)").
    static QStringList nameFilters(const QStringList &allowedTypes);

    static std::shared_ptr<OpenPanel> shared();
    static void setShared(std::shared_ptr<OpenPanel> panel);
};

// Records each request and answers from a queue (then cancels).
class RecordingOpenPanel : public OpenPanel {
public:
    QStringList runModal(const OpenPanelSpec &spec) override;
    void begin(const OpenPanelSpec &spec, Completion completion) override;

    void enqueue(QStringList paths) { m_answers.push_back(std::move(paths)); }
    std::vector<OpenPanelSpec> presented;

private:
    QStringList next();
    std::vector<QStringList> m_answers;
};

} // namespace corvane
