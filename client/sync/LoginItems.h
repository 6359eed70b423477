#pragma once

#include <QString>
#include <QStringList>

// The session's login items, kept as XDG autostart entries
// (~/.config/autostart/*.desktop). The program is listed when an entry starts
// the same executable.
//
// An entry names the program as it was started (its real path), never a copy
// or a wrapper, and carries TryExec: when the program is removed, the desktop
// skips the entry instead of failing at every login.
class LoginItems {
public:
    // The executable that login items start (the running program by default).
    static void setProgramPath(const QString &path);
    static QString programPath();
    // Arguments the entry passes to the program (none by default), e.g. the
    // configuration file the program was started with.
    static void setProgramArguments(const QStringList &arguments);
    static QStringList programArguments();
    static QString autostartDirectory();
    // The entry this program writes: named after the program's file.
    static QString entryPath();

    static bool contains();
    // Answers true when an entry was written.
    static bool add();
    // Answers how many entries were removed.
    static int remove();
};
