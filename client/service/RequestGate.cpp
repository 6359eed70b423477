#include "RequestGate.h"

#include "settings/Logging.h"

#include <QMutex>
#include <QSet>

namespace {

// Sign-in (the token it asks for first included) and the cloud library
// listing. The listing's position is kept by the client, not the service.
bool onlyReads(const QString &request) {
    static const QSet<QString> reading = {
        QStringLiteral("userLoginProcess"),
        QStringLiteral("getTokenProcess"),
        QStringLiteral("getUserContentProcess"),
    };
    return reading.contains(request);
}

} // namespace

bool RequestGate::allows(const RunContext &context, const QString &request) {
    if (!context.dryRun || onlyReads(request))
        return true;
    // Said as a warning the first time for each kind; a preview of a large
    // library would otherwise bury everything else under the same line.
    static QMutex mutex;
    static QSet<QString> told;
    bool first = false;
    {
        QMutexLocker lock(&mutex);
        first = !told.contains(request);
        told.insert(request);
    }
    const QString line = QStringLiteral("DRY RUN: refused the request \"%1\": it could change "
                                        "the cloud library; nothing was sent")
                             .arg(request);
    if (first)
        qCWarning(lcService).noquote() << line;
    else
        qCInfo(lcService).noquote() << line;
    return false;
}
