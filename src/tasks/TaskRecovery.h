#pragma once

#include "platform/AlertPresenter.h"
#include "tasks/TaskJournal.h"

#include <QStringList>

namespace corvane {

// Undoes what an export or import left when it stopped before its end: the
// task's own roll-back after a failure or a cancel, and the first thing a
// start does for the tasks of a program that was killed.
class TaskRecovery {
public:
    struct Outcome {
        // Folders of the user's data that stay where they are: an import's
        // backups, an export's replaced archive.
        QStringList kept;
        // Whether a later start has nothing left to do, so that the entry
        // can go.
        bool finished = true;
    };

    // Undoes the entry's task, noting each step in the journal before it is
    // taken, so that a recovery cut short can be run again and never deletes
    // what an earlier run put back. An export's hidden folder is deleted,
    // and a replaced archive that was stepped aside is put back (while it
    // cannot go back, both stay and the entry is not finished). An import
    // first removes what it copied into the containers (by the erase's own
    // rule, and the items it noted), then puts the backups back and deletes
    // them; a backup that cannot go back whole stays where it is, and so do
    // all of them when the step cannot be noted. Only the task's own hidden
    // folders and the containers beside them are touched, and only as real
    // folders, never through a link; an entry with a flaw is left alone.
    // Every step is logged.
    static Outcome undo(TaskJournal::Entry &entry, const TaskJournal &journal);

    // Undoes the entry of every program that no longer runs and removes it
    // from the journal once finished. Returns the folders left in place.
    static QStringList recover(const TaskJournal &journal);

    // Logs each kept folder and shows one alert naming them all (on the main
    // thread); nothing when there are none.
    static void reportKeptBackups(const QStringList &folders);
    static AlertSpec keptBackupsAlert(const QStringList &folders);
};

} // namespace corvane
