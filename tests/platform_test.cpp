// Starting programs, the operator's command lines, and the command lines the
// Windows interpreter is given. (Copying the new build into place is tried by
// update mode in the process tests.)

#include "gamefolder.h"
#include "platform/platform.h"
#include "platform/windowscommands.h"

#include <QtTest>

namespace {

// A client that writes its working folder and each argument on a line of its own.
const QByteArray argumentEcho =
    "#!/bin/sh\n{ pwd; for a in \"$@\"; do printf '%s\\n' \"$a\"; done; } > seen.tmp\n"
    "mv seen.tmp seen.txt\n";

void writeExecutable(const QString &path, const QByteArray &contents)
{
    writeFileBytes(path, contents);
    QFile::setPermissions(path, QFile::permissions(path) | QFile::ExeOwner);
}

QByteArrayList seenLines(const QString &path)
{
    if (!QTest::qWaitFor([&] { return QFile::exists(path); }, 10000))
        return {};
    return readFileBytes(path).trimmed().split('\n');
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
        // An "exec" file with an empty value keeps the separating space.
        QCOMPARE(windowsStartCommand("clientes", "patch.exe", QByteArray()),
                 Line("cd \"clientes\" && start \"\" \"patch.exe\" "));
        // A name with spaces or the interpreter's syntax is one program, never a command of its own.
        QCOMPARE(windowsStartCommand("clientes", "cmd /c calc.exe & x", QByteArray("/quiet")),
                 Line("cd \"clientes\" && start \"\" \"cmd /c calc.exe & x\" /quiet"));
        QCOMPARE(windowsLauncherCommand("launcher.exe", "-update-failed"),
                 Line("\"launcher.exe\" -update-failed"));
        // Names no quoting keeps a name, and argument text the interpreter would read as syntax.
        for (const QByteArray &unsafe : QByteArrayList{"a\"b", "%PATH%", "a\nb", "a\tb", "a\x7f"}) {
            QVERIFY2(!windowsStartCommand("clientes", unsafe, std::nullopt), unsafe.constData());
            QVERIFY2(!windowsCopyCommand(unsafe, "launcher.exe") && !windowsLauncherCommand(unsafe, ""),
                     unsafe.constData());
        }
        for (const QByteArray &unsafe :
             QByteArrayList{"a&b", "a|b", "a<b", "a>b", "a^b", "a\"b", "%PATH%", "a\nb"})
            QVERIFY2(!windowsStartCommand("clientes", "ok.exe", unsafe), unsafe.constData());
        QVERIFY(windowsStartCommand("clientes", "jogo (novo).exe", QByteArray("-a /b c:\\x")));
    }

    void namesAndArgumentsReachTheProgramAsData()
    {
        TemporaryGameFolder folder;
        QVERIFY(QDir().mkdir("clientes"));
        const QString program = "clientes/jogo; touch pwned-name && $(touch pwned-sub).sh";
        writeExecutable(program, argumentEcho);
        QVERIFY(platform().startProgram("clientes", QFile::encodeName(program.mid(9)),
                                        QByteArray("-x  a;touch pwned-arg && $(touch pwned-sub2) `id`")));
        const QByteArrayList seen = seenLines("clientes/seen.txt");
        QCOMPARE(seen.value(0), QFile::encodeName(folder.filePath("clientes")));
        QCOMPARE(seen.mid(1),
                 QByteArrayList({"-x", "a;touch", "pwned-arg", "&&", "$(touch", "pwned-sub2)", "`id`"}));
        QTest::qWait(200); // what a shell would have run after the program: nothing to wait for but time
        const QStringList pwned = QDir().entryList({"pwned*"}) + QDir("clientes").entryList({"pwned*"});
        QVERIFY2(pwned.isEmpty(), qPrintable(pwned.join(' ')));

        // The launcher without arguments, from the game folder; never a program from the search path.
        writeExecutable("launcher.exe", argumentEcho);
        QVERIFY(platform().startLauncher("launcher.exe", QByteArray()));
        QCOMPARE(seenLines("seen.txt"), QByteArrayList{QFile::encodeName(folder.path())});
        QVERIFY(!platform().startProgram("", "sh", QByteArray("-c true")));
        QVERIFY(!platform().startProgram("clientes", "missing.exe", std::nullopt));
    }

    void operatorsCommandLineRunsThroughTheShellAndIsWaitedFor()
    {
        TemporaryGameFolder folder;
        platform().runCommandLine("echo um > out.txt; sleep 0.3 && echo dois >> out.txt");
        QCOMPARE(readFileBytes("out.txt"), QByteArray("um\ndois\n"));
        platform().runCommandLine("exit 3"); // a failing command is only noted
    }
};

QTEST_GUILESS_MAIN(PlatformTest)
#include "platform_test.moc"
