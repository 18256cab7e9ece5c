#include "tasks/TaskRowView.h"

#include "tasks/TaskManager.h"

#include <QApplication>
#include <QGridLayout>
#include <QLabel>
#include <QPointer>
#include <QStyle>
#include <QToolButton>

#include <climits>

namespace corvane {

// Shared with the update handler, which runs on whatever thread updates the
// task: it queues at most one refresh, and the row may be gone by then.
struct TaskRowView::Link {
    std::atomic<bool> pending{false};
    QPointer<TaskRowView> row; // read on the main thread only
};

namespace {

const QColor finishedColour(0x2e, 0x9d, 0x4f);
const QColor failureColour(0xc0, 0x1c, 0x28);
const QColor failureTint(0xf6, 0xd5, 0xd8);
const QColor cancelledColour(0x9a, 0x9a, 0x9a);
const QColor cancelledTint(0xdc, 0xdc, 0xdc);

QToolButton *makeButton(QStyle::StandardPixmap icon, const QString &name, QWidget *parent)
{
    auto *button = new QToolButton(parent);
    button->setIcon(parent->style()->standardIcon(icon));
    button->setAutoRaise(true);
    button->setToolTip(name);
    button->setAccessibleName(name);
    return button;
}

} // namespace

TaskRowView::TaskRowView(TaskPtr task, std::shared_ptr<TaskManager> manager, QWidget *parent)
    : QWidget(parent), m_task(std::move(task)), m_manager(std::move(manager)),
      m_link(std::make_shared<Link>()), m_textLabel(new QLabel(this)),
      m_detailTextLabel(new QLabel(this)), m_progress(new TaskProgressBar(this)),
      m_revealButton(makeButton(QStyle::SP_FileDialogContentsView, tr("Reveal"), this)),
      m_removeButton(makeButton(QStyle::SP_DialogCloseButton, tr("Remove"), this))
{
    setFixedHeight(rowHeight);
    QFont bold = m_textLabel->font();
    bold.setBold(true);
    m_textLabel->setFont(bold);
    for (QLabel *label : {m_textLabel, m_detailTextLabel}) {
        label->setTextFormat(Qt::PlainText);
        label->setMinimumWidth(0);
        label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    }
    m_progress->setTextVisible(false);
    m_progress->setMaximumHeight(8);

    auto *layout = new QGridLayout(this);
    layout->setContentsMargins(10, 4, 6, 4);
    layout->setVerticalSpacing(2);
    layout->addWidget(m_textLabel, 0, 0);
    layout->addWidget(m_progress, 1, 0);
    layout->addWidget(m_detailTextLabel, 2, 0);
    layout->addWidget(m_revealButton, 0, 1, 3, 1);
    layout->addWidget(m_removeButton, 0, 2, 3, 1);
    layout->setColumnStretch(0, 1);

    connect(m_revealButton, &QToolButton::clicked, this, [this] { reveal(); });
    connect(m_removeButton, &QToolButton::clicked, this, [this] { remove(); });

    m_link->row = this;
    refresh();
    // One registration for the row's life, on the updating thread, so that a
    // burst of updates queues one refresh instead of one per update.
    m_observation = observeNotification<Task>(
        Task::didUpdate, m_task, nullptr, [link = m_link](const Notification &, const TaskPtr &) {
            if (link->pending.exchange(true))
                return;
            DispatchQueue::main()->async([link] {
                link->pending.store(false);
                if (link->row)
                    link->row->refresh();
            });
        });
}

TaskRowView::~TaskRowView()
{
    m_observation->invalidate();
}

bool TaskRowView::hasPendingRefresh() const
{
    return m_link->pending.load();
}

void TaskRowView::refresh()
{
    ++m_refreshCount;
    // Only this task's texts: a text not set yet shows as empty.
    m_textLabel->setText(m_task->localizedDescription().value_or(QString()));
    const QString detail = m_task->localisedDetailDescription().value_or(QString());
    m_detailTextLabel->setText(detail);
    // A narrow window cuts a long text, such as what a task passed over.
    m_detailTextLabel->setToolTip(detail);

    // A task that has stopped is never shown busy: its bar stays where the
    // work stopped, or full once all of it is done.
    const State state = m_task->hasFailed()     ? State::failed
                        : m_task->hasFinished() ? State::finished
                        : m_task->isCancelled() ? State::cancelled
                                                : State::running;
    std::int64_t total = m_task->totalCount();
    if (state != State::running)
        total = std::max<std::int64_t>(total, 1);
    const std::int64_t completed =
        state == State::finished ? total
                                 : std::clamp<std::int64_t>(m_task->completedCount(), 0, total);
    showState(state);
    if (total <= 0) {
        m_progress->setBusy(true);
    } else {
        // QProgressBar counts in int: scale both counts alike.
        const std::int64_t scale = total / INT_MAX + 1;
        m_progress->setRange(0, int(total / scale));
        m_progress->setValue(int(completed / scale));
        m_progress->setBusy(false);
    }
    m_revealButton->setVisible(m_task->canInspect());
}

void TaskRowView::showState(State state)
{
    if (state == m_state)
        return;
    m_state = state;
    QPalette bar = QApplication::palette(m_progress);
    QPalette detail = QApplication::palette(m_detailTextLabel);
    m_detailTextLabel->setForegroundRole(QPalette::PlaceholderText);
    switch (state) {
    case State::running: break;
    case State::finished: bar.setColor(QPalette::Highlight, finishedColour); break;
    case State::failed:
        bar.setColor(QPalette::Highlight, failureColour);
        // Also where no work was done, as for a cancel.
        bar.setColor(QPalette::Base, failureTint);
        detail.setColor(QPalette::WindowText, failureColour);
        m_detailTextLabel->setForegroundRole(QPalette::WindowText);
        break;
    case State::cancelled:
        bar.setColor(QPalette::Highlight, cancelledColour);
        bar.setColor(QPalette::Base, cancelledTint);
        break;
    }
    m_progress->setPalette(bar);
    m_detailTextLabel->setPalette(detail);
    static const char *const names[] = {QT_TR_NOOP("Running"), QT_TR_NOOP("Finished"),
                                        QT_TR_NOOP("Failed"), QT_TR_NOOP("Cancelled")};
    m_progress->setToolTip(tr(names[int(state)]));
}

void TaskRowView::reveal()
{
    if (m_task->canInspect())
        m_task->reveal();
}

void TaskRowView::remove()
{
    m_task->cancel();
    if (auto manager = m_manager.lock())
        manager->remove(m_task);
}

} // namespace corvane
