#include "TestEnvironment.h"

#include <QApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>

int main(int argc, char **argv) {
    QTemporaryDir root;
    TestEnvironment::isolate(root.path());
    // The embedded browser needs these before the application object exists.
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Sonarbox"));
    QCoreApplication::setApplicationName(QStringLiteral("Sonarbox"));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
