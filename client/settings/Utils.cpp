#include "Utils.h"

#include "Logging.h"

#include <QMutex>

namespace {
QMutex g_presenterLock;
Utils::ErrorPresenter g_presenter;
} // namespace

void Utils::sendException(const QString &message, const QString &exception) {
    qCWarning(lcSettings).noquote() << message << exception;
}

void Utils::sendError(const QString &message, const AppError &error) {
    qCWarning(lcSettings).noquote() << message << error.domain << error.code << error.description;
}

void Utils::showAlert(const QString &text) {
    qCDebug(lcSettings).noquote() << "ALERT MESSAGE:" << text;
}

void Utils::setErrorPresenter(ErrorPresenter presenter) {
    QMutexLocker lock(&g_presenterLock);
    g_presenter = std::move(presenter);
}

bool Utils::presentError(const AppError &error) {
    // Every presented error is logged, whether or not a shell shows it.
    qCWarning(lcSettings).noquote()
        << QStringLiteral("Error %1 %2: %3%4")
               .arg(error.domain)
               .arg(error.code)
               .arg(error.description,
                    error.failureReason.isEmpty()
                        ? QString()
                        : QStringLiteral(" (") + error.failureReason + QLatin1Char(')'));
    ErrorPresenter presenter;
    {
        QMutexLocker lock(&g_presenterLock);
        presenter = g_presenter;
    }
    return presenter ? presenter(error) : false;
}
