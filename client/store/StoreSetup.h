#pragma once

#include "settings/Utils.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

class SecretStore;
class StoreContext;

// The texts of the alert shown when the store cannot be saved while quitting.
struct QuitAlertTexts {
    QString message;
    QString informativeText;
    QString quitButton;
    QString cancelButton;
    // The texts from the localisation table, whose keys are the English texts.
    static QuitAlertTexts localized();
};

// What the desktop shell supplies to the save and quit decisions. Every hook
// may be left empty.
struct StoreUiHooks {
    // Commits edits still open in the interface; false when that fails.
    // Empty: nothing to commit.
    std::function<bool()> commitEditing;
    // Presents an error; true when the user resolved it. Empty: Utils::presentError.
    std::function<bool(const AppError &)> presentError;
    // Shows the quit alert modally; true for "Quit anyway", false for
    // "Cancel". Empty: cancel, so that unsaved changes are never dropped
    // without asking.
    std::function<bool(const QuitAlertTexts &)> askQuitAnyway;
};

// Where the store lives and how it is opened, saved and closed: the
// application-delegate side of the store. The store objects are created on
// the first request; a failed set-up is presented and leaves the store
// unavailable, and the next request tries again from the start. A store file
// that fails to open is never deleted or rewritten.
//
// instance() is the process's default store, in the folder setStoreFolder
// chooses. More stores may live beside it, each in a folder of its own with
// its own context, its own didSave() and its own account secrets; every
// store's work runs on the one store thread.
class StoreSetup : public QObject {
    Q_OBJECT
public:
    static inline const QString ErrorDomain = QStringLiteral("YOUR_ERROR_DOMAIN");
    static constexpr int FolderIsAFile = 101;
    static constexpr int StoreOpenFailed = 102;
    static constexpr int FolderUnavailable = 103;
    static constexpr int ContextFailed = 9999;
    static inline const QString StoreFileName = QStringLiteral("Sonarbox.sqlite");

    enum class TerminateReply { TerminateNow, TerminateCancel };

    static StoreSetup &instance();

    // A store of its own in `folder` (the default folder when empty),
    // independent of instance() and of setStoreFolder. Opened on the first
    // request; destroying it closes it.
    explicit StoreSetup(const QString &folder, QObject *parent = nullptr);
    ~StoreSetup() override;
    StoreSetup(const StoreSetup &) = delete;
    StoreSetup &operator=(const StoreSetup &) = delete;

    // The default store's folder: `folder`, or the default when empty. Closes
    // it first (unsaved changes are dropped); meant for tests and tools.
    // Other stores keep their folders.
    static void setStoreFolder(const QString &folder);
    // How long a write waits for another process's lock before failing.
    static void setBusyTimeout(int milliseconds);
    // The data folder's "Sonarbox" folder (~/.local/share/Sonarbox).
    static QString defaultStoreFolder();

    // The store folder (computed on each call) and the store file in it.
    QString applicationFilesDirectory() const;
    QString storeFilePath() const;

    // Opens the store when it is not open yet; true when it is open.
    // Failures are presented.
    bool persistentStoreCoordinator();
    // The application's context, or nullptr when the store cannot be opened
    // (presented; the next call tries again).
    StoreContext *managedObjectContext();
    // Whether the context exists, without creating it.
    bool hasContext() const;
    // Closes the store; unsaved changes are dropped.
    void close();
    // Forgets a context whose store is gone, so that the next request sets up again.
    void discard(StoreContext *context);
    // Whether `context` is this store's live context (store thread only).
    bool isLive(const StoreContext *context) const;
    // The account secrets that belong to this store (its fallback file lies
    // in its folder).
    SecretStore &secrets() const;

    // The save command.
    void saveAction(const StoreUiHooks &hooks = {});
    // The quit decision.
    TerminateReply applicationShouldTerminate(const StoreUiHooks &hooks = {});

    // Called after the context committed changes; emits didSave().
    void notifyDidSave();

signals:
    // Emitted on the thread that saved, after every save that committed changes.
    void didSave();

private slots:
    void contextDidSave();

private:
    StoreSetup();
    bool openOnStoreThread(QList<AppError> *errors);

    // The folder of a store of its own; the default store has none and
    // follows setStoreFolder.
    std::optional<QString> m_folder;
    std::unique_ptr<SecretStore> m_secrets;
    int m_shutdownTask = 0;
    std::unique_ptr<StoreContext> m_context; // store thread only
    bool m_contextReady = false;             // store thread only
    // The ready context, read without a trip to the store thread.
    std::atomic<StoreContext *> m_ready{nullptr};
    void forgetContext(); // store thread only
};
