#include "TestEnvironment.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QTcpServer>
#include <QThread>

#include <sched.h>
#include <sys/mount.h>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace {
QString g_root;
}

namespace TestEnvironment {

QString root() {
    return g_root;
}

void isolate(const QString &rootPath) {
    g_root = rootPath;
    // A test that mounts a file system (a full download folder, a mount in a
    // watched tree) mounts it where only its own process and children see
    // it: the folder watchers of the tests running beside it would otherwise
    // see the mount and sync again. Only one thread may do this, hence here.
    if (::unshare(CLONE_NEWNS) == 0)
        ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr);
    const auto sub = [&](const char *name) {
        const QString path = rootPath + QLatin1Char('/') + QLatin1String(name);
        QDir().mkpath(path);
        return path.toLocal8Bit();
    };
    qputenv("HOME", sub("home"));
    qputenv("XDG_DATA_HOME", sub("home/.local/share"));
    qputenv("XDG_CONFIG_HOME", sub("home/.config"));
    qputenv("XDG_CACHE_HOME", sub("home/.cache"));
    const QByteArray runtime = sub("runtime");
    QFile::setPermissions(QString::fromLocal8Bit(runtime),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", runtime);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // No session bus: tests that need one start their own.
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
}

quint16 freeLocalPort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}

RefusingPort::RefusingPort() {
    m_socket.bind(QHostAddress::LocalHost, 0);
}

QString RefusingPort::url() const {
    return QStringLiteral("http://127.0.0.1:%1").arg(port());
}

bool waitUntil(const std::function<bool()> &done, int ms) {
    QDeadlineTimer deadline(ms);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    return true;
}

void checkForLeaksBeforeExit() {
#if defined(__SANITIZE_ADDRESS__)
    // Exits with the leak checker's code when it finds one, as it would at exit;
    // the check at exit does not run a second time.
    __lsan_do_leak_check();
#endif
}

} // namespace TestEnvironment
