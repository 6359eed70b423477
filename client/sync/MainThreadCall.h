#pragma once

#include <QMetaObject>
#include <QObject>
#include <QThread>

#include <utility>

// Runs `work` on the thread `context` lives on and waits until it has run;
// directly when the caller is already that thread.
template <typename Work> void callOnThreadOf(QObject *context, Work &&work) {
    if (QThread::currentThread() == context->thread())
        work();
    else
        QMetaObject::invokeMethod(context, std::forward<Work>(work), Qt::BlockingQueuedConnection);
}
