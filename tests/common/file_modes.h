#pragma once
// Who may read what the terminal writes: a file's mode and owner, and a umask that would let
// everyone read a file made without care, in force for the life of the guard.
#include <QFile>
#include <QString>

#include <sys/stat.h>

namespace tollan::test {

// The permission bits of `path` (-1 when it is not there).
inline int ModeOf(const QString& path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}

inline uid_t OwnerOf(const QString& path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_uid : uid_t(-1);
}

// umask 022, as a shell usually has it: a file made with the default mode is readable by all.
class PermissiveUmask {
public:
    PermissiveUmask() : old_(::umask(022)) {}
    ~PermissiveUmask() { ::umask(old_); }
    PermissiveUmask(const PermissiveUmask&) = delete;
    PermissiveUmask& operator=(const PermissiveUmask&) = delete;

private:
    mode_t old_;
};

} // namespace tollan::test
