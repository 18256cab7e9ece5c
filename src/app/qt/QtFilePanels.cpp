#include "app/qt/QtFilePanels.h"

#include "app/qt/DialogParent.h"
#include "app/qt/FilePanelLayout.h"
#include "platform/desktop/PanelFolder.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>

namespace corvane {

namespace {

class BundleAwareFileDialog : public QFileDialog {
public:
    explicit BundleAwareFileDialog(const OpenPanelSpec &spec)
        : QFileDialog(dialogParent(spec.parentWindow)), m_spec(spec)
    {
        setOption(QFileDialog::DontUseNativeDialog);
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
    auto *dialog = new QFileDialog(dialogParent(spec.parentWindow));
    dialog->setOption(QFileDialog::DontUseNativeDialog);
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
