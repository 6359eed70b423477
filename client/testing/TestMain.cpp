#include "TestEnvironment.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>

int main(int argc, char **argv) {
    int result = 0;
    {
        QTemporaryDir root;
        TestEnvironment::isolate(root.path());
        QCoreApplication app(argc, argv);
        QCoreApplication::setOrganizationName(QStringLiteral("Sonarbox"));
        QCoreApplication::setApplicationName(QStringLiteral("Sonarbox"));
        ::testing::InitGoogleTest(&argc, argv);
        result = RUN_ALL_TESTS();
    }
    TestEnvironment::checkForLeaksBeforeExit();
    return result;
}
