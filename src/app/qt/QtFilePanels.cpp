#include "app/qt/QtFilePanels.h"

#include "app/qt/DialogParent.h"
#include "app/qt/FilePanelLayout.h"
#include "platform/desktop/PanelFolder.h"

#include <QDir>
#include <QFileDialog>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QLineEdit>
#include <QMimeDatabase>
#include <QSettings>
#include <QSignalBlocker>
#include <QUrl>

namespace corvane {

namespace {

QMimeType mimeTypeByName(const QFileInfo &info)
{
    return QMimeDatabase().mimeTypeForFile(info.fileName(), QMimeDatabase::MatchExtension);
}

// Icons and types by a file's name and kind alone. Qt's own provider reads
// each file's first bytes on the main thread to tell its type, which never
// returns for some kernel files and is slow on a network folder.
class NameOnlyIconProvider : public QFileIconProvider {
public:
    using QFileIconProvider::icon;

    QIcon icon(const QFileInfo &info) const override
    {
        if (info.isRoot())
            return icon(Drive);
        if (info.isDir())
            return icon(Folder);
        if (!info.isFile())
            return icon(File);
        const QMimeType mime = mimeTypeByName(info);
        QIcon themed = QIcon::fromTheme(mime.iconName());
        if (themed.isNull())
            themed = QIcon::fromTheme(mime.genericIconName());
        return themed.isNull() ? icon(File) : themed;
    }

    QString type(const QFileInfo &info) const override
    {
        // What is not a regular file Qt names by its kind, reading nothing.
        if (!info.isFile())
            return QFileIconProvider::type(info);
        const QMimeType mime = mimeTypeByName(info);
        return mime.comment().isEmpty() ? mime.name() : mime.comment();
    }
};

QFileIconProvider *nameOnlyIconProvider()
{
    // Dialogs do not own their provider, and their file models may still ask
    // it while they are taken down: it lives as long as the program.
    static auto *const provider = new NameOnlyIconProvider;
    return provider;
}

// Qt's file dialogs open where the last one was, kept in QtProject.conf, and
// list that folder before we can say where to go: a place on a pseudo file
// system is taken out first.
QWidget *withoutPseudoPlacesInQtSettings(QWidget *parent)
{
    QSettings settings(QSettings::UserScope, QStringLiteral("QtProject"));
    settings.beginGroup(QStringLiteral("FileDialog"));
    const auto isPseudo = [](const QString &url) {
        return PanelFolder::isPseudoPath(QUrl(url).toLocalFile());
    };
    if (isPseudo(settings.value(QStringLiteral("lastVisited")).toString()))
        settings.remove(QStringLiteral("lastVisited"));
    for (const QString &key : {QStringLiteral("history"), QStringLiteral("shortcuts")}) {
        QStringList urls = settings.value(key).toStringList();
        if (urls.removeIf(isPseudo) > 0)
            settings.setValue(key, urls);
    }
    return parent;
}

// What every panel shares: nothing is read to draw a file, and no place on a
// pseudo file system is taken from Qt's memory of its dialogs or left in it.
class PanelDialog : public QFileDialog {
public:
    explicit PanelDialog(QWidget *parent) : QFileDialog(withoutPseudoPlacesInQtSettings(parent))
    {
        setOption(QFileDialog::DontUseNativeDialog);
        setIconProvider(nameOnlyIconProvider());
    }

    ~PanelDialog() override
    {
        // Qt keeps the folder shown last, for its next dialog and in its
        // settings, as it takes the dialog down after this.
        const QSignalBlocker quiet(this);
        if (PanelFolder::isPseudoPlace(directory().absolutePath()))
            setDirectory(QDir::homePath());
        QStringList folders = history();
        if (folders.removeIf(PanelFolder::isPseudoPath) > 0)
            setHistory(folders);
    }
};

class BundleAwareFileDialog : public PanelDialog {
public:
    explicit BundleAwareFileDialog(const OpenPanelSpec &spec)
        : PanelDialog(dialogParent(spec.parentWindow)), m_spec(spec)
    {
        setWindowTitle(spec.title);
        if (!spec.prompt.isEmpty())
            setLabelText(QFileDialog::Accept, spec.prompt);
        setAcceptMode(QFileDialog::AcceptOpen);
        if (spec.canChooseDirectories && !spec.canChooseFiles)
            setFileMode(QFileDialog::Directory);
        else
            setFileMode(spec.allowsMultipleSelection ? QFileDialog::ExistingFiles
                                                     : QFileDialog::ExistingFile);
        setOption(QFileDialog::ReadOnly, !spec.canCreateDirectories);
        if (spec.showsHiddenFiles)
            setFilter(filter() | QDir::Hidden);
        const QStringList filters = OpenPanel::nameFilters(spec.allowedTypes);
        if (!filters.isEmpty())
            setNameFilters(filters);
        // Without a folder of its own a dialog opens in the working
        // directory, which is no place the user chose.
        setDirectory(PanelFolder::startFolder(spec.directory, spec.identifier));
        connect(this, &QFileDialog::currentChanged, this,
                [this](const QString &path) { m_current = QDir::cleanPath(path); });
        // A plain choice is told here, before the dialog finishes: the
        // handlers of `finished` read it.
        connect(this, &QFileDialog::filesSelected, this,
                [this](const QStringList &files) { m_chosen = files; });
        // Entering a bundle means choosing it.
        connect(this, &QFileDialog::directoryEntered, this, [this](const QString &path) {
            if (isChoosableBundle(path)) {
                m_chosen = {QDir::cleanPath(path)};
                QDialog::accept();
            }
        });
        // The folder of a choice is where the panel opens next time.
        connect(this, &QDialog::finished, this, [this] {
            if (const QStringList files = chosen(); !files.isEmpty())
                PanelFolder::remember(m_spec.identifier, files.constFirst());
        });
        FilePanelLayout::apply(*this, spec.identifier);
    }

    QStringList chosen() const { return result() == QDialog::Accepted ? m_chosen : QStringList(); }

    void accept() override
    {
        QStringList files = selectedFiles();
        // Qt leaves folders out of the selection of a file dialog, so a typed
        // or selected bundle name is read from the name field.
        if (files.isEmpty()) {
            if (auto *name = findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
                name && !name->text().isEmpty())
                files = {QDir::cleanPath(directory().absoluteFilePath(name->text()))};
            else if (!m_current.isEmpty())
                files = {m_current};
        }
        if (!files.isEmpty() && std::all_of(files.begin(), files.end(), [this](const QString &f) {
                return isChoosableBundle(f);
            })) {
            m_chosen = files;
            QDialog::accept();
            return;
        }
        QFileDialog::accept();
    }

private:
    bool isChoosableBundle(const QString &path) const
    {
        return m_spec.canChooseFiles && OpenPanel::isBundle(path) &&
               OpenPanel::allows(m_spec.allowedTypes, path);
    }

    OpenPanelSpec m_spec;
    QStringList m_chosen;
    QString m_current;
};

QFileDialog *makeSaveDialog(const SavePanelSpec &spec)
{
    auto *dialog = new PanelDialog(dialogParent(spec.parentWindow));
    dialog->setWindowTitle(spec.title);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    if (!spec.prompt.isEmpty())
        dialog->setLabelText(QFileDialog::Accept, spec.prompt);
    const QStringList filters = OpenPanel::nameFilters(spec.allowedTypes);
    if (!filters.isEmpty())
        dialog->setNameFilters(filters);
    dialog->setDirectory(PanelFolder::startFolder(spec.directory, spec.identifier));
    if (!spec.proposedName.isEmpty())
        dialog->selectFile(spec.proposedName);
    QObject::connect(
        dialog, &QDialog::finished, dialog, [dialog, identifier = spec.identifier](int result) {
            if (result == QDialog::Accepted && !dialog->selectedFiles().isEmpty())
                PanelFolder::remember(identifier, dialog->selectedFiles().constFirst());
        });
    FilePanelLayout::apply(*dialog, spec.identifier);
    return dialog;
}

} // namespace

QStringList QtOpenPanel::runModal(const OpenPanelSpec &spec)
{
    BundleAwareFileDialog dialog(spec);
    dialog.exec();
    return dialog.chosen();
}

void QtOpenPanel::begin(const OpenPanelSpec &spec, Completion completion)
{
    auto *dialog = new BundleAwareFileDialog(spec);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(dialog, &QDialog::finished, dialog, [dialog, completion] {
        if (completion)
            completion(dialog->chosen());
    });
    dialog->open();
    dialog->raise();
    dialog->activateWindow();
}

std::optional<QString> QtSavePanel::runModal(const SavePanelSpec &spec)
{
    std::unique_ptr<QFileDialog> dialog(makeSaveDialog(spec));
    if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty())
        return std::nullopt;
    return dialog->selectedFiles().constFirst();
}

void QtSavePanel::begin(const SavePanelSpec &spec, Completion completion)
{
    QFileDialog *dialog = makeSaveDialog(spec);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(dialog, &QDialog::finished, dialog, [dialog, completion](int result) {
        std::optional<QString> path;
        if (result == QDialog::Accepted && !dialog->selectedFiles().isEmpty())
            path = dialog->selectedFiles().constFirst();
        if (completion)
            completion(path);
    });
    dialog->open();
    dialog->raise();
    dialog->activateWindow();
}

} // namespace corvane
