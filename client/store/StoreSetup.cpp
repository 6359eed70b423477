#include "StoreSetup.h"

#include "SecretStore.h"
#include "StoreContext.h"
#include "StoreThread.h"
#include "settings/Localization.h"
#include "settings/Logging.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <filesystem>
#include <mutex>

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace {

std::mutex g_optionsLock;
QString g_folder;
int g_busyTimeoutMs = 5000;

std::filesystem::path fsPath(const QString &path) {
    return std::filesystem::path(QFile::encodeName(path).toStdString());
}

// Refuses a store that could be read but not written: the first save would
// fail long after start-up, and the user could not tell why.
std::optional<QString> notWritable(const QString &path) {
    if (::access(QFile::encodeName(path).constData(), R_OK | W_OK) == 0)
        return std::nullopt;
    return QStringLiteral("%1 is not writable: %2")
        .arg(QDir::toNativeSeparators(path), QString::fromLocal8Bit(std::strerror(errno)));
}

} // namespace

QuitAlertTexts QuitAlertTexts::localized() {
    using Localization::localizedString;
    return {localizedString(QStringLiteral("Could not save changes while quitting. Quit anyway?")),
            localizedString(QStringLiteral("Quitting now will lose any changes you have made "
                                           "since the last successful save")),
            localizedString(QStringLiteral("Quit anyway")),
            localizedString(QStringLiteral("Cancel"))};
}

StoreSetup &StoreSetup::instance() {
    static StoreSetup setup;
    return setup;
}

StoreSetup::StoreSetup()
    : m_secrets(new SecretStore(*this)) {
    // The store thread must outlive this object: create it first.
    m_shutdownTask = StoreThread::instance().addShutdownTask([this] { forgetContext(); });
    connect(this, &StoreSetup::didSave, this, &StoreSetup::contextDidSave, Qt::DirectConnection);
}

StoreSetup::StoreSetup(const QString &folder, QObject *parent)
    : StoreSetup() {
    setParent(parent);
    m_folder = folder.isEmpty() ? defaultStoreFolder() : folder;
}

StoreSetup::~StoreSetup() {
    // A store that goes before the store thread stops must not be reached by
    // the thread's shutdown work.
    StoreThread::instance().removeShutdownTask(m_shutdownTask);
    close();
}

void StoreSetup::setStoreFolder(const QString &folder) {
    instance().close();
    std::lock_guard lock(g_optionsLock);
    g_folder = folder;
}

void StoreSetup::setBusyTimeout(int milliseconds) {
    std::lock_guard lock(g_optionsLock);
    g_busyTimeoutMs = milliseconds;
}

QString StoreSetup::defaultStoreFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/Sonarbox");
}

QString StoreSetup::applicationFilesDirectory() const {
    if (m_folder)
        return *m_folder;
    std::lock_guard lock(g_optionsLock);
    return g_folder.isEmpty() ? defaultStoreFolder() : g_folder;
}

QString StoreSetup::storeFilePath() const {
    return applicationFilesDirectory() + QLatin1Char('/') + StoreFileName;
}

bool StoreSetup::openOnStoreThread(QList<AppError> *errors) {
    if (m_context)
        return true;
    const QString folder = applicationFilesDirectory();
    const auto fail = [&](int code, const QString &description, const QString &reason) {
        qCWarning(lcStore).noquote() << "Store set-up failed:" << description << reason;
        errors->append(AppError{ErrorDomain, code, description, reason});
        return false;
    };

    std::error_code status;
    const auto type = std::filesystem::status(fsPath(folder), status).type();
    if (type == std::filesystem::file_type::not_found) {
        std::error_code created;
        std::filesystem::create_directories(fsPath(folder), created);
        if (created) {
            return fail(FolderUnavailable,
                        QStringLiteral("The folder %1 could not be created.").arg(folder),
                        QString::fromStdString(created.message()));
        }
    } else if (status) {
        return fail(FolderUnavailable, QStringLiteral("The folder %1 cannot be read.").arg(folder),
                    QString::fromStdString(status.message()));
    } else if (type != std::filesystem::file_type::directory) {
        return fail(
            FolderIsAFile,
            QStringLiteral("Expected a folder to store application data, found a file (%1).")
                .arg(folder),
            QString());
    }

    const QString file = storeFilePath();
    const QString cannotOpen = QStringLiteral("The store %1 could not be opened.").arg(file);
    if (auto reason = notWritable(folder))
        return fail(StoreOpenFailed, cannotOpen, *reason);
    if (QFile::exists(file)) {
        if (auto reason = notWritable(file))
            return fail(StoreOpenFailed, cannotOpen, *reason);
    }
    int busyTimeout = 0;
    {
        std::lock_guard lock(g_optionsLock);
        busyTimeout = g_busyTimeoutMs;
    }
    AppError error;
    m_context = StoreContext::open(*this, file, busyTimeout, &error);
    if (!m_context)
        return fail(error.code, error.description, error.failureReason);
    qCInfo(lcStore).noquote() << "Store opened:" << file
                              << (m_context->writeAheadLog()
                                      ? "(write-ahead log, synced to disk at each checkpoint)"
                                      : "(rollback journal, synced to disk at each save)");
    return true;
}

bool StoreSetup::persistentStoreCoordinator() {
    QList<AppError> errors;
    const bool open = StoreThread::instance().call([&] { return openOnStoreThread(&errors); });
    for (const AppError &error : errors)
        Utils::presentError(error);
    return open;
}

void StoreSetup::forgetContext() {
    m_ready = nullptr;
    m_contextReady = false;
    m_context.reset();
}

StoreContext *StoreSetup::managedObjectContext() {
    if (StoreContext *ready = m_ready.load())
        return ready;
    QList<AppError> errors;
    StoreContext *context = StoreThread::instance().call([&]() -> StoreContext * {
        if (m_contextReady)
            return m_context.get();
        if (!openOnStoreThread(&errors)) {
            errors.append(AppError{
                ErrorDomain, ContextFailed, QStringLiteral("Failed to initialize the store"),
                QStringLiteral("There was an error building up the data file.")});
            return nullptr;
        }
        m_contextReady = true;
        m_ready = m_context.get();
        return m_context.get();
    });
    for (const AppError &error : errors)
        Utils::presentError(error);
    return context;
}

bool StoreSetup::hasContext() const {
    return m_ready.load() != nullptr;
}

bool StoreSetup::isLive(const StoreContext *context) const {
    return context && m_contextReady && context == m_context.get();
}

SecretStore &StoreSetup::secrets() const {
    return *m_secrets;
}

void StoreSetup::close() {
    StoreThread::instance().run([this] {
        // The store file alone holds everything afterwards, even while
        // another process keeps the store open.
        if (m_context)
            m_context->checkpoint(StoreContext::Checkpoint::WholeLog);
        forgetContext();
    });
}

void StoreSetup::discard(StoreContext *context) {
    StoreThread::instance().run([&] {
        if (context == m_context.get())
            forgetContext();
    });
}

void StoreSetup::saveAction(const StoreUiHooks &hooks) {
    StoreContext *context = managedObjectContext();
    if (!context)
        return;
    if (hooks.commitEditing && !hooks.commitEditing())
        qCInfo(lcStore) << "StoreSetup:saveAction: unable to commit editing before saving";
    AppError error;
    if (!context->save(&error)) {
        hooks.presentError ? hooks.presentError(error) : Utils::presentError(error);
        return;
    }
    context->checkpoint();
}

StoreSetup::TerminateReply StoreSetup::applicationShouldTerminate(const StoreUiHooks &hooks) {
    StoreContext *context = StoreThread::instance().call(
        [this]() -> StoreContext * { return m_contextReady ? m_context.get() : nullptr; });
    if (!context)
        return TerminateReply::TerminateNow;
    if (hooks.commitEditing && !hooks.commitEditing()) {
        qCInfo(lcStore) << "StoreSetup:applicationShouldTerminate: unable to commit editing to "
                           "terminate";
        return TerminateReply::TerminateCancel;
    }
    if (!context->hasChanges())
        return TerminateReply::TerminateNow;
    AppError error;
    if (context->save(&error)) {
        context->checkpoint();
        return TerminateReply::TerminateNow;
    }
    const bool resolved =
        hooks.presentError ? hooks.presentError(error) : Utils::presentError(error);
    if (resolved)
        return TerminateReply::TerminateCancel;
    if (hooks.askQuitAnyway && hooks.askQuitAnyway(QuitAlertTexts::localized()))
        return TerminateReply::TerminateNow;
    return TerminateReply::TerminateCancel;
}

void StoreSetup::notifyDidSave() {
    emit didSave();
}

void StoreSetup::contextDidSave() {
    // There is one context, so a save never needs merging into another.
    qCDebug(lcStore) << "[contextDidSave:] @class:StoreSetup";
}
