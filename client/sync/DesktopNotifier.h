#pragma once

#include <QString>

#include <functional>

// Desktop notifications through the freedesktop notification service on the
// session bus; where none answers, a fallback (the tray icon's message, set by
// the shell) shows them, on the main thread.
class DesktopNotifier {
public:
    using Fallback = std::function<void(const QString &title, const QString &text)>;
    static void setFallback(Fallback fallback);
    // Answers whether the notification was handed to someone.
    static bool notify(const QString &title, const QString &text);
    // Waits (up to two seconds) until what was sent to the notification
    // service has left this process: for a program about to end.
    static void flush();
};
