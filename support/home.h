#pragma once
// The home folder holds everything the terminal keeps: registry.ini, tollan.mdb, tollan.err,
// trans.log, debug.log and prints/.

#include <QString>

namespace tollan {

// The folder named by `--home DIR`, else $TOLLAN_HOME, else $XDG_DATA_HOME/tollan
// (~/.local/share/tollan). An empty `option` means no --home was given.
QString Home_Resolve(const QString& option);
// Puts the home folder in force and creates it (mode 0700) when missing; false when it cannot be made.
bool Home_Set(const QString& dir);
// The home folder in force (Home_Resolve("") until Home_Set is called).
QString Home_Dir();
// The path of a file in the home folder.
QString Home_File(const QString& name);
// Every file the terminal writes is readable by its user alone, whatever the umask: the logs name
// cards and registers, the database holds transactions, the prints are receipts. A missing `path`
// is created empty with mode 0600 from its first moment; an existing one is narrowed to 0600.
// Made by root (`sudo tollan config set`), a new file is handed to the owner of its folder, so the
// terminal that owns the home folder can still write it. False when it cannot be made or narrowed.
bool Home_RestrictFile(const QString& path);
// The same for a folder (prints/): created with mode 0700 (its parents as they come), an existing
// one narrowed to 0700. False when it cannot be made or narrowed.
bool Home_RestrictFolder(const QString& path);

// Takes the home folder for this process's whole life: one terminal per home folder, since two
// would hand out the same trace and file numbers and send the same rows. The lock is on
// tollan.lock, which holds the holder's process number. False when another process holds it
// (`holder` then says which, "process 1234") or the file cannot be made (`holder` says why).
bool Home_Lock(QString* holder);

} // namespace tollan
