#pragma once

#include "platform/desktop/AlertPresenter.h"
#include "tasks/TaskJournal.h"

#include <QStringList>

namespace corvane {

class ContainerClaims;

// Undoes what an export or import left when it stopped before its end: the
// task's own roll-back after a failure or a cancel, and the first thing a
// start does for the tasks of a program that was killed.
class TaskRecovery {
public:
    struct Outcome {
        // Folders of the user's data that stay where they are for good: an
        // import's backups that something the import did not make keeps from
        // going back whole, or whose task ended before its entry did.
        QStringList kept;
        // Folders that a later start puts back: an import's backups, an
        // export's replaced archive.
        QStringList waiting;
        // Folders that a later start deletes: a finished import's backups.
        QStringList undeleted;
        // Whether a later start has nothing left to do, so that the entry
        // can go.
        bool finished = true;

        void add(const Outcome &other);
        bool isEmpty() const;
    };

    // Who undoes: the task itself, which still holds the containers as it
    // left them, or a start, which finds them as the user may have changed
    // them since.
    enum class By { task, start };

    // Undoes the entry's task, noting each step in the journal before it is
    // taken, so that a recovery cut short can be run again and never deletes
    // what an earlier run put back; a step that cannot be noted is not taken.
    // An export's hidden folder is deleted, and a replaced archive that was
    // stepped aside is put back (while it cannot go back, both stay and the
    // entry is not finished). An import first removes what it copied into
    // the containers (by the erase's own rule, and the items it noted), then
    // puts the backups back and deletes them. What cannot all be removed, or
    // a backup that fails to go back, leaves the entry unfinished at its
    // step, which a later run takes again, so that the two never mix; a
    // backup that something else stands in the way of stays where it is.
    // The task itself, when the journal cannot note
    // a step, notes instead beside the backups that it has ended, and then
    // goes on: from then on no start removes anything from those containers.
    // A container whose task had ended is left as it is, its backup kept
    // (or deleted, once the import was done). Only the task's own hidden
    // folders and the containers beside them are touched, and only as real
    // folders, never through a link; an entry with a flaw is left alone.
    // Every step is logged.
    static Outcome undo(TaskJournal::Entry &entry, const TaskJournal &journal, By by = By::task);
    // Removes a finished entry, then the notes beside its backups; false
    // when the entry stays.
    static bool forget(const TaskJournal::Entry &entry, const TaskJournal &journal);

    // Undoes the entry of every program that no longer runs, the newest
    // first, and removes it once finished. Each entry's folders are claimed
    // in `claims` first: one that another program holds is left for later,
    // and so is an older entry of a container whose newer entry is not
    // finished. What an unfinished entry describes stays claimed for the
    // rest of the run.
    static Outcome recover(const TaskJournal &journal, ContainerClaims &claims);
    // The same with claims of its own, given up when it returns.
    static Outcome recover(const TaskJournal &journal);

    // Logs each folder left and shows one alert naming them all (on the main
    // thread); nothing when there are none.
    static void report(const Outcome &outcome);
    static AlertSpec alert(const Outcome &outcome);
};

} // namespace corvane
