// What the launcher asks of the operating system: real launcher processes (one
// per machine, update mode replacing the launcher with its new build), programs
// started with their names and arguments as data, the operator's command lines,
// and the command lines the Windows interpreter is given.

#include "buildconfig.h"
#include "state/configsteps.h"
#include "gamefolder.h"
#include "launcherlog.h"
#include "state/launcherstate.h"
#include "platform/platform.h"
#include "platform/proxysettings.h"
#include "platform/windowscommands.h"
#include "reliability.h"
#include "singleinstanceguard.h"
#include "tablerows.h"
#include "testmain.h"
#include "updatemode.h"

#ifdef Q_OS_WIN
#include <windows.h>
#endif

#include <QtTest>
#include <memory>
#include <thread>

namespace {

std::unique_ptr<QProcess> startLauncher(const QStringList &arguments = {},
                                        const QString &program = LAUNCHER_BINARY)
{
    auto process = std::make_unique<QProcess>();
    process->setProcessChannelMode(QProcess::ForwardedChannels);
    process->start(program, arguments);
    return process;
}

// Stands in for a launcher build or a client: it leaves started.marker and seen.txt.
QByteArray standIn()
{
    static const QByteArray program = readFileBytes(QStringLiteral(PROGRAM_STANDIN_BINARY));
    return program;
}

void writeExecutable(const QString &path, const QByteArray &contents)
{
    writeFileBytes(path, contents);
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

// What a started program writes to path, once it has.
const QByteArray oldConfig = "<?xml version=\"1.0\"?>\n<tsqp version=\"1.0\" />\n"
                             "<download path=\"http://127.0.0.1:8765/\" />\n"
                             "<launcher installedVersion=\"1.2\" lastVersion=\"1.3\" />\n"
                             "<images installedVersion=\"\" lastVersion=\"\" />\n<servers />\n";

#ifdef Q_OS_WIN
// Windows starts only .exe files as programs; the interpreter's own syntax (& | < > ^ %)
// never gets through as argument text, so what is left to try is a name's.
const QString hostileProgram = "clientes/jogo; del pwned-name & (echo pwned-sub).exe";
const QByteArray hostileArguments = "-x  a;del pwned-arg (dir) `id`";
const QByteArrayList argumentsSeen{"-x", "a;del", "pwned-arg", "(dir)", "`id`"};
const QByteArray operatorLine = ">out.txt echo um&& >>out.txt echo dois", operatorOutput = "um\r\ndois\r\n";
#else
const QString hostileProgram = "clientes/jogo; touch pwned-name && $(touch pwned-sub).sh";
const QByteArray hostileArguments = "-x  a;touch pwned-arg && $(touch pwned-sub2) `id`";
const QByteArrayList argumentsSeen{"-x", "a;touch", "pwned-arg", "&&", "$(touch", "pwned-sub2)", "`id`"};
const QByteArray operatorLine = "echo um > out.txt; sleep 0.3 && echo dois >> out.txt",
                 operatorOutput = "um\ndois\n";
#endif

// Update mode in a game folder as the old launcher left it: what it takes, what
// becomes of launcher.exe and config.xml, and how the launcher is started.
struct UpdateModeCase {
    const char *what;
    QByteArray config; // as found; null for none
    bool blocked;      // launcher.exe is held as a running program holds it
    int guardHeldMs;   // by the old launcher; -1: for good, as by another launcher that goes on
    int atLeastMs;
    QByteArray started; // the marker of the started build
};

const UpdateModeCase updateModeCases[] = {
    {"the new build in place, then started", oldConfig, false, 3500, 3500, "started\n"},
    {"beside a launcher that goes on running", oldConfig, false, -1, 10000, "started\n"},
    {"a copy that keeps failing: the old build is told so", oldConfig, true, 0, 6000,
     "started-update-failed\n"},
    // The new build is started all the same, without the version recorded: it offers no update.
    {"an unreadable config.xml", "<launcher installedVersion=\"1.2\" lastVersion=\"1.3\">", false, 0, 0,
     "started-update-failed\n"},
    {"an empty folder", {}, false, 0, 2000, {}},
};

} // namespace

class ProcessesTest : public QObject
{
    Q_OBJECT

private slots:
    // That one holder at a time goes on, the eight launchers below show; here, what
    // every launcher build must agree on, and who may take the lock.
    void theGuardsKeyAndLock()
    {
        // SHA-1 of the key's bytes followed by the salt's, as every launcher build derives it.
        QCOMPARE(deriveKey("ab", "c"), "a9993e364706816aba3e25717850c26c9cd0d89d");
#ifndef Q_OS_WIN
        const QString key = QUuid::createUuid().toString();
        SingleInstanceGuard guard(key);
        QVERIFY(guard.claim());
        // Another user who could take the lock could keep every launcher from starting.
        QCOMPARE(QFile::permissions(guardLockPath(deriveKey(key, "_memLockKey"))) &
                     ~QFile::Permissions(0x0f00),
                 QFile::ReadOwner | QFile::WriteOwner);
#endif
    }

    void eightAtOnceLeaveExactlyOne()
    {
        // Several rounds: a race between starts shows only now and then. Each round
        // starts after the holder of the last was killed, which must not lock the player out.
        constexpr int rounds = 5;
        for (int round = 0; round < rounds; ++round) {
            TemporaryGameFolder folder;
            std::vector<std::unique_ptr<QProcess>> launchers;
            for (int i = 0; i < 8; ++i)
                launchers.push_back(startLauncher());
            const auto running = [&] {
                return std::count_if(launchers.begin(), launchers.end(), [](const auto &launcher) {
                    return launcher->state() != QProcess::NotRunning;
                });
            };
            QVERIFY2(QTest::qWaitFor([&] { return running() <= 1; }, 20000),
                     qPrintable(QString::number(running())));
            QCOMPARE(running(), 1);
            for (const auto &launcher : launchers) {
                if (launcher->state() == QProcess::NotRunning)
                    QVERIFY(launcher->exitStatus() == QProcess::NormalExit && launcher->exitCode() == 0);
                else
                    QVERIFY(!launcher->waitForFinished(500)); // the holder goes on
            }
            // All eight wrote config.xml before seven of them stopped.
            LauncherState state;
            QVERIFY(mergeUpdateListAndSave(state, configBytes().constData()));
            for (const auto &launcher : launchers) {
                launcher->kill(); // SIGKILL: no chance to let go of anything
                launcher->waitForFinished();
            }
        }
        reportReliability("concurrency", "eight launchers started at once", rounds,
                          "each time exactly one went on running; seven ended with status 0 unseen");
    }

    void updateModeReplacesTheLauncher_data()
    {
        addTableRows(updateModeCases);
    }

    void updateModeReplacesTheLauncher()
    {
        const auto [what, config, blocked, guardHeldMs, atLeastMs, started] = currentRow(updateModeCases);
        TemporaryGameFolder folder;
        if (!config.isNull()) {
            writeExecutable("launcher.exe", blocked ? standIn() : "old build");
            writeExecutable("newLauncher.exe", blocked ? "new build" : standIn());
            writeFileBytes("config.xml", config);
        }
        std::optional<FileHold> running;
        if (blocked)
            running.emplace("launcher.exe", FileHold::ReadingAndRunning);
        SingleInstanceGuard oldLauncher(buildSettings().guardKey);
        QVERIFY(guardHeldMs == 0 || oldLauncher.claim());
        std::thread quitting([&oldLauncher, heldMs = guardHeldMs] {
            if (heldMs > 0) { // the old launcher's last moments
                std::this_thread::sleep_for(std::chrono::milliseconds(heldMs));
                oldLauncher.relinquish();
            }
        });
        QElapsedTimer clock;
        clock.start();
        // From the game folder, as newLauncher.exe runs: Windows looks for the launcher
        // that update mode starts in the program's own folder first.
        QVERIFY(QFile::copy(LAUNCHER_BINARY, "updater.exe"));
        const auto update = startLauncher({"-update"}, "./updater.exe");
        QVERIFY(update->waitForFinished(15000));
        QVERIFY(QFile::remove("updater.exe"));
        quitting.join();
        QCOMPARE(update->exitCode(), 1);
        QVERIFY2(clock.elapsed() >= atLeastMs, qPrintable(QString::number(clock.elapsed())));
        reportReliability("update mode", QLatin1String(what), 1,
                          QStringLiteral("ended with 1 after %1 ms").arg(clock.elapsed()));

        if (config.isNull()) { // exactly the defaults, and nothing else
            QCOMPARE(configBytes(), QByteArray(oldConfig)
                                        .replace("http://127.0.0.1:8765/", "")
                                        .replace("lastVersion=\"1.3\"", "lastVersion=\"\""));
            QCOMPARE(entriesBesidesTheLog(), QStringList{"config.xml"});
            // No launcher.exe to start, and never one found on the search path.
            QVERIFY(readFileBytes(QLatin1String(logFileName))
                        .contains("Reiniciar launcher.exe -update-failed: falhou"));
            return;
        }
        const bool recorded = started == "started\n";
        QCOMPARE(configBytes(), recorded ? QByteArray(oldConfig).replace("\"1.2\"", "\"1.3\"") : config);
        QVERIFY(readFileBytes("launcher.exe") == standIn());
        QVERIFY(QFile::permissions("launcher.exe") & QFile::ExeOwner);
        if (config != oldConfig)
            QCOMPARE(readFileBytes("config.xml.bad"), config);
        QCOMPARE(writtenSoon("started.marker"), started);
    }

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

    // The proxy settings as Windows keeps them, as libcurl takes them: the proxy
    // for the address's scheme, and the hosts reached without one.
    void windowsProxySettingsAsLibcurlTakesThem()
    {
        const char *const settings[][5] = {
            // proxies, bypass, scheme: proxy, no proxy
            {"proxy:8080", "", "https", "http://proxy:8080", ""},
            {"http=a:80;https=b:443", "<local>;*.empresa.com.br;10.*", "https", "http://b:443",
             "localhost,127.0.0.1,::1,.empresa.com.br"},
            {"http=a:80", "intranet", "https", "", "intranet"},
            {"socks=s:1080 c:3128 http=h:81", "", "http", "http://h:81", ""},
        };
        for (const auto &[proxies, bypass, scheme, proxy, noProxy] : settings) {
            const SystemProxy read = proxyFromWindowsSettings(proxies, bypass, scheme);
            QCOMPARE(read.proxy + " | " + read.noProxy, QByteArray(proxy) + " | " + noProxy);
        }
    }

    void theWindowsProgramCarriesItsManifestIconAndVersion()
    {
#ifndef Q_OS_WIN
        QSKIP("resources are a Windows program's");
#else
        const HMODULE program = LoadLibraryExW(QString(LAUNCHER_BINARY).toStdWString().c_str(), nullptr,
                                               LOAD_LIBRARY_AS_DATAFILE);
        const auto resource = [program](int type, LPCWSTR name) {
            const HRSRC found = FindResourceW(program, name, MAKEINTRESOURCEW(type));
            return QByteArray(found ? static_cast<const char *>(LockResource(LoadResource(program, found)))
                                    : "",
                              found ? int(SizeofResource(program, found)) : 0);
        };
        // Administrator rights: the launcher writes beside itself, under Program Files.
        QVERIFY(resource(24 /* manifest */, MAKEINTRESOURCEW(1))
                    .contains("<requestedExecutionLevel level=\"requireAdministrator\""));
        QVERIFY(!resource(14 /* icon group */, L"IDI_ICON1").isEmpty());
        const QByteArray version = resource(16 /* version */, MAKEINTRESOURCEW(1));
        const QString versionTexts =
            QString::fromUtf16(reinterpret_cast<const char16_t *>(version.constData()), version.size() / 2);
        for (const QString &text : QStringList{"FileVersion", "OriginalFilename", "launcher.exe",
                                               QString::fromLatin1(buildSettings().launcherVersion)})
            QVERIFY2(versionTexts.contains(text), qPrintable(text));
        FreeLibrary(program);
#endif
    }

    void namesAndArgumentsReachTheProgramAsDataAndCommandLinesTheShell()
    {
        TemporaryGameFolder folder;
        QVERIFY(QDir().mkdir("clientes"));
        writeExecutable(hostileProgram, standIn());
        QVERIFY(
            platform().startProgram("clientes", QFile::encodeName(hostileProgram.mid(9)), hostileArguments));
        const QByteArrayList seen = writtenSoon("clientes/seen.txt").trimmed().split('\n');
        QCOMPARE(seen.value(0), QFile::encodeName(folder.filePath("clientes")));
        QCOMPARE(seen.mid(1), argumentsSeen);
        QTest::qWait(200); // what a shell would have run after the program: nothing to wait for but time
        const QStringList pwned = QDir().entryList({"pwned*"}) + QDir("clientes").entryList({"pwned*"});
        QVERIFY2(pwned.isEmpty(), qPrintable(pwned.join(' ')));

        QVERIFY(!platform().startProgram("", "sh", QByteArray("-c true")));
        QVERIFY(!platform().startProgram("clientes", "missing.exe", std::nullopt));

        // The operator's command line alone runs through the shell, and is waited for.
        platform().runCommandLine(operatorLine);
        QCOMPARE(readFileBytes("out.txt"), operatorOutput);
        platform().runCommandLine("exit 3"); // a failing command is only noted
    }
};

LAUNCHER_TEST_MAIN(ProcessesTest, QCoreApplication)
#include "processes_test.moc"
