#pragma once

#include "core/Observer.h"
#include "platform/queues/DispatchQueue.h"
#include "platform/Object.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

class QItemSelection;
class QSortFilterProxyModel;
class QTableView;
class QWidget;

namespace corvane {

class PresetTableModel;
class SegmentedControl;

// How a preset list reaches a repository's presets and their titles,
// whatever the preset type. `of` fills it in for a repository whose presets
// have make(title), title(), setTitle(), observe("title", …) and isEqual().
struct PresetListAccess {
    std::function<std::vector<ObjectPtr>()> presets;
    std::function<void(const std::vector<ObjectPtr> &)> setPresets;
    std::function<ObjectPtr(const QString &title)> makePreset;
    std::function<QString(const ObjectPtr &)> title;
    std::function<void(const ObjectPtr &, const QString &)> setTitle;
    std::function<bool(const ObjectPtr &, const ObjectPtr &)> equal;
    std::function<ObserverPtr(const ObjectPtr &, std::function<void()>)> observeTitle;
    // Told on the main queue after the repository's list or a preset changed.
    std::function<ObserverPtr(std::function<void()>)> observeList;

    template <class Preset, class Repository>
    static PresetListAccess of(const std::shared_ptr<Repository> &repository);
};

// The table of a settings pane's presets, sorted by title, with its add and
// remove buttons. Rows follow the repository; the table's selection is the
// one the pane's details show. Used on the main thread.
class PresetListController : public QObject {
    Q_OBJECT
public:
    static constexpr const char *newPresetTitle = "Untitled Preset";

    explicit PresetListController(PresetListAccess access, QObject *parent = nullptr);
    ~PresetListController() override;

    // The table above its add and remove buttons; owned by the caller.
    QWidget *takeWidget();
    QTableView *sourceTable() const { return m_table; }
    SegmentedControl *addRemoveControl() const { return m_addRemove; }

    // In the table's order.
    std::vector<ObjectPtr> arrangedPresets() const;
    std::vector<ObjectPtr> selectedPresets() const;
    ObjectPtr firstSelected() const;
    template <class Preset> std::shared_ptr<Preset> firstSelectedAs() const
    {
        return std::dynamic_pointer_cast<Preset>(firstSelected());
    }
    // Selects the preset's row; nothing selected for a preset not listed.
    void select(const ObjectPtr &preset);

    // The add and remove buttons' action: segment 0 adds, 1 removes.
    void plusMinus(int segment);
    // Lists "Untitled Preset", selects it and opens its title for editing.
    void addPreset();
    // Removes the selected preset from the repository's list.
    void removeSelected();
    // Reads the repository's list again; the selected preset stays selected,
    // or its neighbour when it is gone.
    void reload();

signals:
    void selectionChanged();

private:
    void updateRemoveSegment();
    int arrangedRow(const ObjectPtr &preset, bool last = false) const;

    PresetListAccess m_access;
    PresetTableModel *m_model;
    QSortFilterProxyModel *m_sorted;
    QWidget *m_widget;
    QTableView *m_table;
    SegmentedControl *m_addRemove;
    ObserverPtr m_listObserver;
};

// Runs `work` on the main thread: now when called there, else queued; not at
// all once `context` is gone. Model objects announce changes on the thread
// that made them.
std::function<void()> onMainThread(QObject *context, std::function<void()> work);

template <class Preset, class Repository>
PresetListAccess PresetListAccess::of(const std::shared_ptr<Repository> &repository)
{
    const auto typed = [](const ObjectPtr &object) {
        return std::dynamic_pointer_cast<Preset>(object);
    };
    PresetListAccess access;
    access.presets = [repository] {
        const auto presets = repository->presets();
        return std::vector<ObjectPtr>(presets.begin(), presets.end());
    };
    access.setPresets = [repository, typed](const std::vector<ObjectPtr> &objects) {
        std::vector<std::shared_ptr<Preset>> presets;
        for (const auto &object : objects)
            if (auto preset = typed(object))
                presets.push_back(std::move(preset));
        repository->setPresets(std::move(presets));
    };
    access.makePreset = [](const QString &title) -> ObjectPtr { return Preset::make(title); };
    access.title = [typed](const ObjectPtr &object) {
        const auto preset = typed(object);
        return preset ? preset->title() : QString();
    };
    access.setTitle = [typed](const ObjectPtr &object, const QString &title) {
        if (const auto preset = typed(object))
            preset->setTitle(title);
    };
    access.equal = [typed](const ObjectPtr &a, const ObjectPtr &b) {
        const auto first = typed(a);
        const auto second = typed(b);
        return first && second && first->isEqual(*second);
    };
    access.observeTitle = [typed](const ObjectPtr &object,
                                  std::function<void()> handler) -> ObserverPtr {
        const auto preset = typed(object);
        return preset ? preset->observe("title", std::move(handler)) : nullptr;
    };
    access.observeList = [repository](std::function<void()> handler) -> ObserverPtr {
        return observeNotification<Repository>(
            Repository::didChange, repository, DispatchQueue::main(),
            [handler = std::move(handler)](const Notification &,
                                           const std::shared_ptr<Repository> &) { handler(); });
    };
    return access;
}

} // namespace corvane
