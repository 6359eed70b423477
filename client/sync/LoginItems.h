#pragma once

#include <QString>

// The session's login items, kept as XDG autostart entries
// (~/.config/autostart/*.desktop). The program is listed when an entry starts
// the same executable.
class LoginItems {
public:
    // The executable that login items start (the running program by default).
    static void setProgramPath(const QString &path);
    static QString programPath();
    static QString autostartDirectory();
    static QString entryPath(); // the entry this program writes

    static bool contains();
    // Answers true when an entry was written.
    static bool add();
    // Answers how many entries were removed.
    static int remove();
};
