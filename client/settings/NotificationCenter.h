#pragma once

#include <QString>

#include <functional>
#include <mutex>
#include <vector>

class QObject;

// Named notifications that cross subsystems. Observers run on the posting
// thread, in the order they were added.
class NotificationCenter {
public:
    using Observer = std::function<void(QObject *object)>;

    static NotificationCenter &defaultCenter();

    // Answers a token for removeObserver.
    int addObserver(const QString &name, Observer observer);
    void removeObserver(int token);
    void postNotificationName(const QString &name, QObject *object = nullptr);

private:
    struct Entry {
        int token;
        QString name;
        Observer observer;
    };
    std::mutex m_lock;
    std::vector<Entry> m_entries;
    int m_nextToken = 1;
};
