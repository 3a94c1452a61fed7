#pragma once

#include "names.h"

#include <QtTest>

// Every window, a test's own and those of the launchers it starts, goes to Qt's
// offscreen platform unless the run chose another. The test sets it itself, since
// wine keeps Qt's variables from the programs it runs.
#define LAUNCHER_TEST_MAIN(TestObject, Application)                                                          \
    int main(int argc, char *argv[])                                                                         \
    {                                                                                                        \
        useUtf8FileNames();                                                                                  \
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))                                                  \
            qputenv("QT_QPA_PLATFORM", "offscreen");                                                         \
        QCoreApplication::setAttribute(Qt::AA_Use96Dpi, true);                                               \
        Application application(argc, argv);                                                                 \
        TestObject test;                                                                                     \
        QTEST_SET_MAIN_SOURCE_PATH                                                                           \
        return QTest::qExec(&test, argc, argv);                                                              \
    }
