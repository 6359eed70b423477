#include "TestEnvironment.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

int main(int argc, char **argv) {
    int result = 0;
    {
        QTemporaryDir root;
        TestEnvironment::isolate(root.path());
        // The embedded browser needs these before the application object exists.
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
        QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
        QApplication app(argc, argv);
        QCoreApplication::setOrganizationName(QStringLiteral("Sonarbox"));
        QCoreApplication::setApplicationName(QStringLiteral("Sonarbox"));
        ::testing::InitGoogleTest(&argc, argv);
        result = RUN_ALL_TESTS();
        // End the way the program does: through the event loop, so that what
        // must go before the application object (the embedded browser's pages)
        // goes on its "about to quit".
        QTimer::singleShot(0, &app, &QCoreApplication::quit);
        app.exec();
    }
    TestEnvironment::checkForLeaksBeforeExit();
    return result;
}
