#include "NotificationCenter.h"

NotificationCenter &NotificationCenter::defaultCenter() {
    static NotificationCenter center;
    return center;
}

int NotificationCenter::addObserver(const QString &name, Observer observer) {
    std::lock_guard lock(m_lock);
    const int token = m_nextToken++;
    m_entries.push_back({token, name, std::move(observer)});
    return token;
}

void NotificationCenter::removeObserver(int token) {
    std::lock_guard lock(m_lock);
    std::erase_if(m_entries, [token](const Entry &e) { return e.token == token; });
}

void NotificationCenter::postNotificationName(const QString &name, QObject *object) {
    // Observers are copied out so that one may add or remove observers.
    std::vector<Observer> observers;
    {
        std::lock_guard lock(m_lock);
        for (const Entry &e : m_entries) {
            if (e.name == name)
                observers.push_back(e.observer);
        }
    }
    for (const Observer &observer : observers)
        observer(object);
}
