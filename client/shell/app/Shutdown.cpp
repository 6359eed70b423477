#include "Shutdown.h"

#include "engine/Sonarbox.h"
#include "settings/Logging.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>
#include <QThreadPool>

namespace Shutdown {

bool finishBackgroundWork(std::chrono::milliseconds grace) {
    Sonarbox &sonarbox = Sonarbox::instance();
    sonarbox.stopSyncAction();
    const auto idle = [&] {
        return QThreadPool::globalInstance()->activeThreadCount() == 0 &&
               sonarbox.operationQueue().operationCount() == 0;
    };
    const QDeadlineTimer deadline(grace);
    while (!idle()) {
        if (deadline.hasExpired()) {
            qCWarning(lcShell) << "A sign-in or a sync stage did not end in time; the program "
                                  "ends without it";
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QThread::msleep(10);
    }
    return true;
}

} // namespace Shutdown
