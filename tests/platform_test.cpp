// Starting programs, copying the new build into place and the command lines the
// Windows interpreter is given.

#include "gamefolder.h"
#include "platform/platform.h"
#include "platform/windowscommands.h"

#include <QDir>
#include <QFile>
#include <QtTest>

namespace {

// A client that writes its working folder and each argument on a line of its own.
const QByteArray argumentEchoScript = "#!/bin/sh\n"
                                      "{ pwd; for a in \"$@\"; do printf '%s\\n' \"$a\"; done; } > seen.tmp\n"
                                      "mv seen.tmp seen.txt\n";

void writeExecutable(const QString &path, const QByteArray &contents)
{
    writeFileBytes(path, contents);
    QFile::setPermissions(path, QFile::permissions(path) | QFile::ExeOwner);
}

QByteArrayList waitForSeenLines(const QString &path)
{
    if (!QTest::qWaitFor([&] { return QFile::exists(path); }, 10000))
        return {};
    QByteArray seen = readFileBytes(path);
    seen.chop(1);
    return seen.split('\n');
}

} // namespace

class PlatformTest : public QObject
{
    Q_OBJECT

private slots:
    void windowsCommandLines()
    {
        using Line = std::optional<QByteArray>;
        QCOMPARE(windowsCopyCommand("newLauncher.exe", "launcher.exe"),
                 Line("copy /Y \"newLauncher.exe\" \"launcher.exe\""));
        QCOMPARE(windowsStartCommand("", "newLauncher.exe", QByteArray("-update")),
                 Line("start \"\" \"newLauncher.exe\" -update"));
        QCOMPARE(windowsStartCommand("clientes", "ZEV1.exe", std::nullopt),
                 Line("cd \"clientes\" && start \"\" \"ZEV1.exe\""));
        QCOMPARE(windowsStartCommand("clientes", "patch.exe", QByteArray("/quiet")),
                 Line("cd \"clientes\" && start \"\" \"patch.exe\" /quiet"));
        // An "exec" file with an empty value keeps the separating space.
        QCOMPARE(windowsStartCommand("clientes", "patch.exe", QByteArray()),
                 Line("cd \"clientes\" && start \"\" \"patch.exe\" "));
        // A name with spaces or the interpreter's syntax is one program, never a
        // command with arguments of its own.
        QCOMPARE(windowsStartCommand("clientes", "cmd /c calc.exe & x", std::nullopt),
                 Line("cd \"clientes\" && start \"\" \"cmd /c calc.exe & x\""));
        QCOMPARE(windowsLauncherCommand("launcher.exe", ""), Line("\"launcher.exe\""));
        QCOMPARE(windowsLauncherCommand("launcher.exe", "-update-failed"),
                 Line("\"launcher.exe\" -update-failed"));
    }

    void windowsInterpreterSyntaxIsRefused()
    {
        // Names: what no quoting keeps a name.
        for (const QByteArray &unsafe :
             QByteArrayList{"a\"b", "%PATH%", "a\nb", QByteArray("a\tb"), QByteArray("a\x7f")}) {
            QVERIFY2(!windowsStartCommand("clientes", unsafe, std::nullopt), unsafe.constData());
            QVERIFY2(!windowsCopyCommand(unsafe, "launcher.exe"), unsafe.constData());
            QVERIFY2(!windowsLauncherCommand(unsafe, ""), unsafe.constData());
        }
        // Argument text, passed as written: what the interpreter would read as syntax.
        for (const QByteArray &unsafe :
             QByteArrayList{"a&b", "a|b", "a<b", "a>b", "a^b", "a\"b", "%PATH%", "a\nb"})
            QVERIFY2(!windowsStartCommand("clientes", "ok.exe", unsafe), unsafe.constData());
        QVERIFY(windowsStartCommand("clientes", "jogo (novo).exe", QByteArray("-a /b c:\\x")));
    }

    void namesAndArgumentsReachTheProgramAsData()
    {
        TemporaryGameFolder folder;
        QVERIFY(QDir().mkdir(QStringLiteral("clientes")));
        const QString program = QStringLiteral("clientes/jogo; touch pwned-name && $(touch pwned-sub).sh");
        writeExecutable(program, argumentEchoScript);

        QVERIFY(platform().startProgram("clientes", QFile::encodeName(program.mid(9)),
                                        QByteArray("-x  a;touch pwned-arg && $(touch pwned-sub2) `id`")));
        const QByteArrayList seen = waitForSeenLines(QStringLiteral("clientes/seen.txt"));
        QCOMPARE(seen.value(0), QFile::encodeName(folder.filePath(QStringLiteral("clientes"))));
        QCOMPARE(seen.mid(1),
                 QByteArrayList({"-x", "a;touch", "pwned-arg", "&&", "$(touch", "pwned-sub2)", "`id`"}));
        QTest::qWait(200);
        const QStringList pwned =
            QDir().entryList({QStringLiteral("pwned*")}, QDir::Files) +
            QDir(QStringLiteral("clientes")).entryList({QStringLiteral("pwned*")}, QDir::Files);
        QVERIFY2(pwned.isEmpty(), qPrintable(pwned.join(QLatin1Char(' '))));
    }

    void programsAreStartedWithoutArgumentsAndNeverFromTheSearchPath()
    {
        TemporaryGameFolder folder;
        writeExecutable(QStringLiteral("launcher.exe"), argumentEchoScript);
        QVERIFY(platform().startLauncher("launcher.exe", QByteArray()));
        QCOMPARE(waitForSeenLines(QStringLiteral("seen.txt")),
                 QByteArrayList{QFile::encodeName(folder.path())});

        QVERIFY(!platform().startProgram("", "sh", QByteArray("-c true")));
        QVERIFY(!platform().startProgram("clientes", "missing.exe", std::nullopt));
    }

    void copyReplacesTheTargetWithTheSourcesPermissions()
    {
        TemporaryGameFolder folder;
        writeExecutable(QStringLiteral("newLauncher.exe"), "new build");
        writeFileBytes(QStringLiteral("launcher.exe"), "old build");
        QFile::setPermissions(QStringLiteral("launcher.exe"), QFile::ReadOwner | QFile::WriteOwner);

        QVERIFY(platform().copyFile("newLauncher.exe", "launcher.exe"));
        QCOMPARE(readFileBytes(QStringLiteral("launcher.exe")), QByteArray("new build"));
        QVERIFY(QFile::permissions(QStringLiteral("launcher.exe")) & QFile::ExeOwner);
        QCOMPARE(readFileBytes(QStringLiteral("newLauncher.exe")), QByteArray("new build"));
    }

    void failedCopyLeavesTheTargetAlone()
    {
        TemporaryGameFolder folder;
        writeFileBytes(QStringLiteral("launcher.exe"), "old build");
        QVERIFY(!platform().copyFile("newLauncher.exe", "launcher.exe"));
        QVERIFY(QDir().mkdir(QStringLiteral("folder.exe")));
        QVERIFY(!platform().copyFile("folder.exe", "launcher.exe"));
        QCOMPARE(readFileBytes(QStringLiteral("launcher.exe")), QByteArray("old build"));
        QCOMPARE(entriesBesidesTheLog(QDir::Files | QDir::Hidden),
                 QStringList{QStringLiteral("launcher.exe")});
    }

    void operatorsCommandLineRunsThroughTheShellAndIsWaitedFor()
    {
        TemporaryGameFolder folder;
        platform().runCommandLine("echo um > out.txt; sleep 0.3 && echo dois >> out.txt");
        QCOMPARE(readFileBytes(QStringLiteral("out.txt")), QByteArray("um\ndois\n"));
        platform().runCommandLine("exit 3"); // a failing command is only noted
    }
};

QTEST_GUILESS_MAIN(PlatformTest)
#include "platform_test.moc"
