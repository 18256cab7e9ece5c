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
    // Undoes the entry's task, noting each step in the journal so that a
    // recovery cut short can be run again. An export's hidden folder is
    // deleted, and a replaced archive that was stepped aside is put back. An
    // import first removes what it copied into the containers (by the
    // erase's own rule, and the items it noted), then puts the backups back
    // and deletes them; a backup that cannot go back whole stays where it is.
    // Every step is logged. Returns the backup folders left in place.
    static QStringList undo(TaskJournal::Entry &entry, const TaskJournal &journal);

    // Undoes the entry of every program that no longer runs and removes it
    // from the journal. Returns the backup folders left in place.
    static QStringList recover(const TaskJournal &journal);

    // Logs each kept backup folder and shows one alert naming them all (on
    // the main thread); nothing when there are none.
    static void reportKeptBackups(const QStringList &folders);
    static AlertSpec keptBackupsAlert(const QStringList &folders);
};

} // namespace corvane
