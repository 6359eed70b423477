#include "Localization.h"

#include "DataFolders.h"
#include "Logging.h"

#include <QCoreApplication>
#include <QMutex>
#include <QThread>
#include <QTranslator>

namespace Localization {

namespace {

QMutex g_lock;
QTranslator *g_table = nullptr; // loaded once, kept for the process
bool g_installed = false;

// The loaded table, or none when the compiled table is missing.
QTranslator *table() {
    QMutexLocker lock(&g_lock);
    if (!g_table) {
        auto translator = new QTranslator;
        const QString file = DataFolders::dataFile(QStringLiteral("translations/sonarbox_en.qm"));
        if (!translator->load(file)) {
            qCWarning(lcSettings).noquote()
                << "The localisation table" << file << "could not be loaded";
            delete translator;
            return nullptr;
        }
        g_table = translator;
    }
    return g_table;
}

} // namespace

bool install() {
    QCoreApplication *app = QCoreApplication::instance();
    QTranslator *translator = table();
    if (!app || !translator)
        return false;
    QMutexLocker lock(&g_lock);
    if (g_installed)
        return true;
    g_installed = true;
    if (QThread::currentThread() == app->thread()) {
        QCoreApplication::installTranslator(translator);
    } else {
        QMetaObject::invokeMethod(
            app, [translator] { QCoreApplication::installTranslator(translator); },
            Qt::QueuedConnection);
    }
    return true;
}

QString localizedString(const QString &key) {
    if (key.isEmpty())
        return key;
    // A translation the application installed (a deployment's language) comes first.
    if (QCoreApplication::instance()) {
        const QByteArray id = key.toUtf8();
        const QString installed = QCoreApplication::translate(nullptr, id.constData());
        if (!installed.isEmpty() && installed != key)
            return installed;
    }
    const QTranslator *translator = table();
    const QString text =
        translator ? translator->translate(nullptr, key.toUtf8().constData()) : QString();
    return text.isEmpty() ? key : text;
}

} // namespace Localization
