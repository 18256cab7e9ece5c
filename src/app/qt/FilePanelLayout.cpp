#include "app/qt/FilePanelLayout.h"

#include "platform/defaults/UserDefaults.h"
#include "platform/desktop/WindowPlacement.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDirIterator>
#include <QDialog>
#include <QEvent>
#include <QFileDialog>
#include <QHeaderView>
#include <QLayout>
#include <QLocale>
#include <QMimeDatabase>
#include <QRegularExpression>
#include <QScreen>
#include <QStackedWidget>
#include <QStyle>
#include <QTreeView>

#include <array>
#include <optional>

namespace corvane::FilePanelLayout {

namespace {

// Room for a name such as "Driftwood 2024-12-10 14.49.54.xcappdata".
constexpr int kNameCharacters = 40;
// The narrowest a name is made to fit a small screen.
constexpr int kFewestNameCharacters = 16;
// A file type's name is cut beyond this.
constexpr int kMostTypeCharacters = 32;
// The most file types of the filters, and of the files in the folder the
// panel opens in, that are measured.
constexpr int kMostMeasuredTypes = 64;
constexpr int kMostMeasuredFiles = 256;

enum Column { NameColumn, SizeColumn, TypeColumn, DateColumn, ColumnCount };

std::optional<QSize> keptSize(const QString &identifier)
{
    static const QRegularExpression pattern(QStringLiteral("^([0-9]{1,5})x([0-9]{1,5})$"));
    const auto text = UserDefaults::standard()->string(sizeKey(identifier));
    const auto match = text ? pattern.match(*text) : QRegularExpressionMatch();
    if (!match.hasMatch())
        return std::nullopt;
    const QSize size(match.captured(1).toInt(), match.captured(2).toInt());
    return size.isEmpty() ? std::nullopt : std::optional(size);
}

int letterWidth(const QFontMetrics &font)
{
    const QString letters = QStringLiteral("abcdefghijklmnopqrstuvwxyz");
    return (font.horizontalAdvance(letters) + letters.size() - 1) / letters.size();
}

// The type names the dialog's list shows: "Folder", the description of each
// file type its filters let through, and those of the files in the folder
// it opens in (by their names' extensions only: nothing is read).
QStringList typeNames(const QFileDialog &dialog)
{
    QStringList names{QCoreApplication::translate("QAbstractFileIconProvider", "Folder")};
    static const QRegularExpression extension(QStringLiteral("\\*\\.([A-Za-z0-9_+-]{1,16})"));
    const QMimeDatabase mimes;
    int measured = 0;
    for (const QString &filter : dialog.nameFilters()) {
        auto matches = extension.globalMatch(filter);
        while (matches.hasNext() && measured++ < kMostMeasuredTypes) {
            const QString file = QStringLiteral("name.") + matches.next().captured(1);
            names += mimes.mimeTypeForFile(file, QMimeDatabase::MatchExtension).comment();
        }
    }
    QDirIterator files(dialog.directory().absolutePath(), QDir::Files);
    for (int count = 0; count < kMostMeasuredFiles && files.hasNext(); ++count)
        names += mimes.mimeTypeForFile(files.next(), QMimeDatabase::MatchExtension).comment();
    names.removeDuplicates();
    return names;
}

// Widths that show the header's titles, a long name, and the widest size,
// type and date the list writes, each whole.
std::array<int, ColumnCount> fittedColumns(const QFileDialog &dialog, QTreeView &tree)
{
    const QFontMetrics font = tree.fontMetrics();
    const QStyle *style = tree.style();
    // A font's own average can be far from its letters'.
    const int charWidth = letterWidth(font);
    // What the view draws beside a cell's text: a margin on either side.
    const int cellMargin =
        2 * (style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, &tree) + 1) + charWidth;
    const auto widest = [&font](const QStringList &texts) {
        int width = 0;
        for (const QString &text : texts)
            width = std::max(width, font.horizontalAdvance(text));
        return width;
    };

    std::array<int, ColumnCount> widths{};
    int iconWidth = tree.iconSize().width();
    if (iconWidth <= 0)
        iconWidth = style->pixelMetric(QStyle::PM_SmallIconSize, nullptr, &tree);
    widths[NameColumn] = iconWidth + charWidth * kNameCharacters;

    const QLocale locale = QLocale::system();
    QStringList sizes;
    for (const qint64 unit : {qint64(1) << 10, qint64(1) << 20, qint64(1) << 30, qint64(1) << 40})
        sizes += locale.formattedDataSize(unit * 1023 + unit * 99 / 100);
    widths[SizeColumn] = widest(sizes);

    widths[TypeColumn] = std::min(widest(typeNames(dialog)), charWidth * kMostTypeCharacters);

    QStringList dates;
    for (int month = 1; month <= 12; ++month)
        dates += locale.toString(QDateTime(QDate(2024, month, 28), QTime(22, 58, 58)),
                                 QLocale::ShortFormat);
    widths[DateColumn] = widest(dates);

    const QHeaderView *header = tree.header();
    const QFontMetrics headerFont = header->fontMetrics();
    const int titleMargin = 2 * style->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header) +
                            style->pixelMetric(QStyle::PM_HeaderMarkSize, nullptr, header) +
                            letterWidth(headerFont);
    const QAbstractItemModel *model = tree.model();
    for (int column = 0; column < ColumnCount; ++column) {
        const QString title =
            model ? model->headerData(column, Qt::Horizontal).toString() : QString();
        widths[column] = std::max(widths[column] + cellMargin,
                                  headerFont.horizontalAdvance(title) + titleMargin);
    }
    return widths;
}

QRect screenArea(const QWidget &widget)
{
    const QScreen *screen = widget.screen();
    // With room for the frame the window manager adds.
    return screen ? screen->availableGeometry() - WindowPlacement::unknownFrame : QRect();
}

// Fits a panel that has no kept size to its columns as it first shows, when
// its layout is known, and keeps what the user changes of its size and
// columns when it closes, measured against what it showed with.
class Keeper : public QObject {
public:
    Keeper(QFileDialog &dialog, QTreeView *tree, QWidget *list, QString identifier, bool fits)
        : QObject(&dialog), m_dialog(dialog), m_tree(tree), m_list(list),
          m_identifier(std::move(identifier)), m_fits(fits)
    {
        dialog.installEventFilter(this);
        connect(&dialog, &QDialog::finished, this, [this] { keep(); });
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == &m_dialog && event->type() == QEvent::Show && !m_shown) {
            m_shown = true;
            if (m_fits && m_tree && m_list)
                fitColumns();
            m_openedSize = m_dialog.size();
            if (m_tree)
                m_openedColumns = m_tree->header()->saveState();
        }
        return false;
    }

private:
    // The list grows to hold its columns, as far as the screen allows; on a
    // screen too small the name column gives up what is missing.
    void fitColumns()
    {
        QHeaderView *header = m_tree->header();
        int columns = 0;
        for (int column = 0; column < header->count(); ++column)
            if (!header->isSectionHidden(column))
                columns += header->sectionSize(column);
        const int needed =
            columns + 2 * m_tree->frameWidth() +
            m_tree->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, m_tree);
        const int missing = needed - m_list->width();
        if (missing <= 0)
            return;
        const QRect area = screenArea(m_dialog);
        const int before = m_dialog.width();
        int width = before + missing;
        if (!area.isEmpty())
            width = std::min(width, area.width());
        // The dialog centres itself on what it belongs to after this.
        m_dialog.resize(width, m_dialog.height());
        const int shortfall = missing - (width - before);
        if (shortfall > 0) {
            const int fewest = letterWidth(m_tree->fontMetrics()) * kFewestNameCharacters;
            header->resizeSection(NameColumn,
                                  std::max(fewest, header->sectionSize(NameColumn) - shortfall));
        }
    }

    void keep()
    {
        if (!m_shown || m_identifier.isEmpty())
            return;
        if (!m_dialog.isMaximized() && !m_dialog.isFullScreen() && m_dialog.size() != m_openedSize)
            UserDefaults::standard()->set(
                sizeKey(m_identifier),
                QStringLiteral("%1x%2").arg(m_dialog.width()).arg(m_dialog.height()));
        if (m_tree) {
            const QByteArray columns = m_tree->header()->saveState();
            if (columns != m_openedColumns)
                UserDefaults::standard()->set(columnsKey(m_identifier), columns);
        }
        m_openedSize = m_dialog.size();
        if (m_tree)
            m_openedColumns = m_tree->header()->saveState();
    }

    QFileDialog &m_dialog;
    QTreeView *m_tree;
    QWidget *m_list;
    QString m_identifier;
    bool m_fits;
    bool m_shown = false;
    QSize m_openedSize;
    QByteArray m_openedColumns;
};

} // namespace

QString sizeKey(const QString &identifier)
{
    return identifier + QStringLiteral("PanelSize");
}

QString columnsKey(const QString &identifier)
{
    return identifier + QStringLiteral("PanelColumns");
}

void apply(QFileDialog &dialog, const QString &identifier)
{
    auto *tree = dialog.findChild<QTreeView *>(QStringLiteral("treeView"));
    auto *list = dialog.findChild<QStackedWidget *>(QStringLiteral("stackedWidget"));
    const auto size = identifier.isEmpty() ? std::nullopt : keptSize(identifier);
    new Keeper(dialog, tree, list, identifier, !size);
    if (!tree || !list)
        return;

    QHeaderView *header = tree->header();
    const auto kept = identifier.isEmpty()
                          ? std::nullopt
                          : UserDefaults::standard()->object(columnsKey(identifier));
    // A kept state Qt cannot read (edited by hand, another version) is no
    // state: the columns are fitted instead.
    const bool restored = kept && kept->typeId() == QMetaType::QByteArray &&
                          header->restoreState(kept->toByteArray());
    if (!restored) {
        const auto widths = fittedColumns(dialog, *tree);
        for (int column = 0; column < ColumnCount && column < header->count(); ++column)
            header->resizeSection(column, widths[column]);
    }
    if (size) {
        const QRect area = screenArea(dialog);
        dialog.resize(area.isEmpty() ? *size : size->boundedTo(area.size()));
    }
}

} // namespace corvane::FilePanelLayout
