#include "preferences/PresetListController.h"

#include "core/StringCompare.h"
#include "platform/Loc.h"
#include "preferences/SegmentedControl.h"

#include <QAbstractButton>
#include <QAbstractTableModel>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QPointer>
#include <QSignalBlocker>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>

namespace corvane {

// The repository's presets in its own order, one row each, the title in
// column 0. Each title is watched so that a rename made anywhere shows (and
// re-sorts) at once.
class PresetTableModel : public QAbstractTableModel {
public:
    PresetTableModel(const PresetListAccess &access, QObject *parent)
        : QAbstractTableModel(parent), m_access(access)
    {
    }

    const std::vector<ObjectPtr> &presets() const { return m_presets; }

    void setPresets(std::vector<ObjectPtr> presets)
    {
        beginResetModel();
        m_presets = std::move(presets);
        m_titleObservers.clear();
        for (const auto &preset : m_presets) {
            const std::weak_ptr<Object> weak = preset;
            m_titleObservers.push_back(
                m_access.observeTitle(preset, onMainThread(this, [this, weak] {
                                          if (const auto preset = weak.lock())
                                              titleDidChange(preset);
                                      })));
        }
        endResetModel();
    }

    ObjectPtr presetAt(int row) const
    {
        return row >= 0 && size_t(row) < m_presets.size() ? m_presets[size_t(row)] : nullptr;
    }

    int rowCount(const QModelIndex &parent = {}) const override
    {
        return parent.isValid() ? 0 : int(m_presets.size());
    }
    int columnCount(const QModelIndex &parent = {}) const override
    {
        return parent.isValid() ? 0 : 1;
    }

    QVariant data(const QModelIndex &index, int role) const override
    {
        const auto preset = presetAt(index.row());
        if (!preset || (role != Qt::DisplayRole && role != Qt::EditRole))
            return {};
        return m_access.title(preset);
    }

    bool setData(const QModelIndex &index, const QVariant &value, int role) override
    {
        const auto preset = presetAt(index.row());
        if (!preset || role != Qt::EditRole)
            return false;
        m_access.setTitle(preset, value.toString());
        return true;
    }

    Qt::ItemFlags flags(const QModelIndex &index) const override
    {
        return QAbstractTableModel::flags(index) | Qt::ItemIsEditable;
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        if (section == 0 && orientation == Qt::Horizontal && role == Qt::DisplayRole)
            return loc("Title", "PRESETS_TITLE_COLUMN_TITLE");
        return {};
    }

private:
    void titleDidChange(const ObjectPtr &preset)
    {
        const auto it = std::find(m_presets.begin(), m_presets.end(), preset);
        if (it == m_presets.end())
            return;
        const QModelIndex cell = index(int(it - m_presets.begin()), 0);
        emit dataChanged(cell, cell, {Qt::DisplayRole, Qt::EditRole});
    }

    const PresetListAccess m_access;
    std::vector<ObjectPtr> m_presets;
    std::vector<ObserverPtr> m_titleObservers;
};

namespace {

// Title order of the presets themselves; equal titles keep the list's order.
class TitleSortModel : public QSortFilterProxyModel {
public:
    using QSortFilterProxyModel::QSortFilterProxyModel;

protected:
    bool lessThan(const QModelIndex &left, const QModelIndex &right) const override
    {
        return codePointLess(left.data(Qt::EditRole).toString(),
                             right.data(Qt::EditRole).toString());
    }
};

} // namespace

std::function<void()> onMainThread(QObject *context, std::function<void()> work)
{
    QPointer<QObject> guard(context);
    return [guard, work = std::move(work)] {
        if (DispatchQueue::isMainThread()) {
            if (guard)
                work();
            return;
        }
        DispatchQueue::main()->async([guard, work] {
            if (guard)
                work();
        });
    };
}

PresetListController::PresetListController(PresetListAccess access, QObject *parent)
    : QObject(parent), m_access(std::move(access))
{
    m_model = new PresetTableModel(m_access, this);
    m_sorted = new TitleSortModel(this);
    m_sorted->setSourceModel(m_model);
    m_sorted->setDynamicSortFilter(true);
    m_sorted->sort(0, Qt::AscendingOrder);

    m_widget = new QWidget;
    m_table = new QTableView;
    m_table->setModel(m_sorted);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                             QAbstractItemView::SelectedClicked);
    m_table->setShowGrid(false);
    m_table->setAlternatingRowColors(true);
    m_table->setWordWrap(false);
    m_table->verticalHeader()->hide();
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_table->horizontalHeader()->setHighlightSections(false);
    m_table->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

    m_addRemove =
        new SegmentedControl({"+", QString(QChar(0x2212))}, SegmentedControl::Mode::momentary);
    m_addRemove->segment(0)->setToolTip(loc("Add a preset", "PRESETS_ADD_ITEM_TOOLTIP"));
    m_addRemove->segment(1)->setToolTip(
        loc("Remove the selected preset", "PRESETS_REMOVE_ITEM_TOOLTIP"));
    connect(m_addRemove, &SegmentedControl::segmentClicked, this, &PresetListController::plusMinus);

    auto *layout = new QVBoxLayout(m_widget);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_table, 1);
    layout->addWidget(m_addRemove);

    connect(m_table->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        updateRemoveSegment();
        emit selectionChanged();
    });

    m_model->setPresets(m_access.presets());
    m_listObserver = m_access.observeList(onMainThread(this, [this] { reload(); }));
    if (m_sorted->rowCount() > 0)
        m_table->selectRow(0);
    updateRemoveSegment();
}

PresetListController::~PresetListController() = default;

QWidget *PresetListController::takeWidget()
{
    return m_widget;
}

std::vector<ObjectPtr> PresetListController::arrangedPresets() const
{
    std::vector<ObjectPtr> arranged;
    for (int row = 0; row < m_sorted->rowCount(); ++row)
        arranged.push_back(m_model->presetAt(m_sorted->mapToSource(m_sorted->index(row, 0)).row()));
    return arranged;
}

std::vector<ObjectPtr> PresetListController::selectedPresets() const
{
    QModelIndexList rows = m_table->selectionModel()->selectedRows();
    std::sort(rows.begin(), rows.end(),
              [](const QModelIndex &a, const QModelIndex &b) { return a.row() < b.row(); });
    std::vector<ObjectPtr> selected;
    for (const QModelIndex &row : rows)
        if (auto preset = m_model->presetAt(m_sorted->mapToSource(row).row()))
            selected.push_back(std::move(preset));
    return selected;
}

ObjectPtr PresetListController::firstSelected() const
{
    const auto selected = selectedPresets();
    return selected.empty() ? nullptr : selected.front();
}

int PresetListController::arrangedRow(const ObjectPtr &preset, bool last) const
{
    const auto arranged = arrangedPresets();
    int found = -1;
    for (int row = 0; row < int(arranged.size()); ++row) {
        if (m_access.equal(arranged[size_t(row)], preset)) {
            found = row;
            if (!last)
                break;
        }
    }
    return found;
}

void PresetListController::select(const ObjectPtr &preset)
{
    const int row = preset ? arrangedRow(preset) : -1;
    if (row < 0)
        m_table->selectionModel()->clearSelection();
    else
        m_table->selectRow(row);
}

void PresetListController::plusMinus(int segment)
{
    if (segment == 0)
        addPreset();
    else if (segment == 1)
        removeSelected();
}

void PresetListController::addPreset()
{
    const ObjectPtr preset = m_access.makePreset(loc(newPresetTitle, "PRESETS_NEW_PRESET_TITLE"));
    auto presets = m_access.presets();
    presets.push_back(preset);
    m_access.setPresets(presets);
    reload();
    select(preset);
    const int row = arrangedRow(preset, true);
    if (row < 0)
        return;
    const QModelIndex title = m_sorted->index(row, 0);
    m_table->scrollTo(title);
    // The view selects a line editor's whole text as it opens it.
    m_table->edit(title);
}

void PresetListController::removeSelected()
{
    const QModelIndexList rows = m_table->selectionModel()->selectedRows();
    if (rows.isEmpty() || m_model->presets().size() < 2)
        return;
    // The table's row is a sorted one; the list is in the repository's order.
    const ObjectPtr preset = m_model->presetAt(m_sorted->mapToSource(rows.first()).row());
    auto presets = m_access.presets();
    const auto it = std::find(presets.begin(), presets.end(), preset);
    if (it == presets.end())
        return;
    presets.erase(it);
    m_access.setPresets(presets);
    reload();
}

void PresetListController::reload()
{
    auto presets = m_access.presets();
    if (presets == m_model->presets())
        return;
    const ObjectPtr selected = firstSelected();
    const QModelIndexList rows = m_table->selectionModel()->selectedRows();
    const int selectedRow = rows.isEmpty() ? -1 : rows.first().row();
    {
        // One selection update after the rows are back, not one for the reset.
        const QSignalBlocker blocker(m_table->selectionModel());
        m_model->setPresets(std::move(presets));
        if (selected && arrangedRow(selected) >= 0)
            select(selected);
        else if (selectedRow >= 0 && m_sorted->rowCount() > 0)
            m_table->selectRow(std::min(selectedRow, m_sorted->rowCount() - 1));
    }
    m_table->viewport()->update();
    updateRemoveSegment();
    emit selectionChanged();
}

void PresetListController::updateRemoveSegment()
{
    const bool selected = m_table->selectionModel()->hasSelection();
    m_addRemove->setSegmentEnabled(1, selected && m_access.presets().size() > 1);
}

} // namespace corvane
