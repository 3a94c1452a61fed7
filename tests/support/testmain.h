#pragma once

#include "names.h"

#include <QtTest>

// Every window, a test's own and those of the launchers it starts, goes to Qt's
// offscreen platform unless the run chose another; the results go to the console,
// where Windows would send them to its debugger when no console window is open.
// The test sets both itself, since wine keeps Qt's variables from its programs.
#define LAUNCHER_TEST_MAIN(TestObject, Application)                                                          \
    int main(int argc, char *argv[])                                                                         \
    {                                                                                                        \
        useUtf8FileNames();                                                                                  \
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))                                                  \
            qputenv("QT_QPA_PLATFORM", "offscreen");                                                         \
        qputenv("QT_FORCE_STDERR_LOGGING", "1");                                                             \
        QCoreApplication::setAttribute(Qt::AA_Use96Dpi, true);                                               \
        Application application(argc, argv);                                                                 \
        TestObject test;                                                                                     \
        QTEST_SET_MAIN_SOURCE_PATH                                                                           \
        return QTest::qExec(&test, argc, argv);                                                              \
    }
