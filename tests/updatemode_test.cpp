// Update mode with the real launcher binary in a temporary game folder.

#include "buildconfig.h"
#include "gamefolder.h"
#include "singleinstanceguard.h"
#include "updatemode.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QtTest>

#include <thread>

namespace {

// Stands in for a launcher build: it leaves a marker with its arguments when it
// is started.
const QByteArray markerScript = "#!/bin/sh\necho \"started$*\" > started.marker\n";

const QByteArray oldConfig = "<?xml version=\"1.0\"?>\n"
                             "<tsqp version=\"1.0\" />\n"
                             "<download path=\"http://127.0.0.1:8765/\" />\n"
                             "<launcher installedVersion=\"1.2\" lastVersion=\"1.3\" />\n"
                             "<images installedVersion=\"\" lastVersion=\"\" />\n"
                             "<servers />\n";

struct Run {
    int exitCode = -1;
    qint64 elapsedMs = 0;
    bool finished = false;
};

Run runLauncher(const QStringList &arguments, int timeoutMs = 15000)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QElapsedTimer clock;
    clock.start();
    process.start(QStringLiteral(LAUNCHER_BINARY), arguments);
    Run run;
    run.finished = process.waitForFinished(timeoutMs);
    run.elapsedMs = clock.elapsed();
    if (!run.finished) {
        process.kill();
        process.waitForFinished();
    } else {
        run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }
    return run;
}

void writeExecutable(const QString &path, const QByteArray &contents)
{
    writeFileBytes(path, contents);
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

// The arguments the launcher was started with, once it has been.
QByteArray startedLauncher()
{
    QFile marker(QStringLiteral("started.marker"));
    QByteArray arguments;
    if (!QTest::qWaitFor(
            [&] { return marker.exists() && !(arguments = readFileBytes(marker.fileName())).isEmpty(); },
            10000))
        return "not started";
    return arguments;
}

QByteArray configBytes()
{
    return readFileBytes(QStringLiteral("config.xml"));
}

} // namespace

class UpdateModeTest : public QObject
{
    Q_OBJECT

private slots:
    void onlyTheExactOptionSelectsUpdateMode()
    {
        const auto selects = [](std::vector<const char *> arguments) {
            return hasUpdateOption(int(arguments.size()), const_cast<char **>(arguments.data()));
        };
        QVERIFY(selects({"launcher.exe", "-update"}));
        QVERIFY(selects({"-update"}));
        QVERIFY(selects({"launcher.exe", "x", "-update", "y"}));
        QVERIFY(!selects({"launcher.exe"}));
        QVERIFY(!selects({"launcher.exe", "-Update", "--update", "-update ", " -update", "update"}));
    }

    void newBuildReplacesTheLauncherAndIsStarted()
    {
        TemporaryGameFolder folder;
        writeFileBytes(QStringLiteral("launcher.exe"), "old build");
        writeExecutable(QStringLiteral("newLauncher.exe"), markerScript);
        writeFileBytes(QStringLiteral("config.xml"), oldConfig);

        // The old launcher is still running for a while: its file is replaced
        // only once it has gone.
        SingleInstanceGuard oldLauncher(buildSettings().guardKey);
        QVERIFY(oldLauncher.claim());
        std::thread quitting([&oldLauncher] {
            std::this_thread::sleep_for(std::chrono::milliseconds(3500));
            oldLauncher.relinquish();
        });
        const Run run = runLauncher({QStringLiteral("-update")});
        quitting.join();
        QVERIFY(run.finished);
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.elapsedMs > 3500, qPrintable(QString::number(run.elapsedMs)));

        QCOMPARE(readFileBytes(QStringLiteral("launcher.exe")), markerScript);
        QVERIFY(QFile::permissions(QStringLiteral("launcher.exe")) & QFile::ExeOwner);
        QByteArray committed = oldConfig;
        committed.replace("installedVersion=\"1.2\" lastVersion=\"1.3\"",
                          "installedVersion=\"1.3\" lastVersion=\"1.3\"");
        QCOMPARE(configBytes(), committed);
        QCOMPARE(startedLauncher(), QByteArray("started\n"));
    }

    void aCopyThatKeepsFailingStartsTheLauncherToldSo()
    {
        TemporaryGameFolder folder;
        writeExecutable(QStringLiteral("launcher.exe"), markerScript);
        writeExecutable(QStringLiteral("newLauncher.exe"), "new build");
        writeFileBytes(QStringLiteral("config.xml"), oldConfig);
        // No file can be written beside launcher.exe, however often it is tried.
        QVERIFY(QDir().mkpath(QStringLiteral("launcher.exe.~part/held")));

        const Run run = runLauncher({QStringLiteral("-update")});
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.elapsedMs > 6000, qPrintable(QString::number(run.elapsedMs)));
        QCOMPARE(configBytes(), oldConfig);
        QCOMPARE(readFileBytes(QStringLiteral("launcher.exe")), markerScript);
        // That launcher tells the player and offers no update in its run.
        QCOMPARE(startedLauncher(), QByteArray("started-update-failed\n"));
    }

    void emptyFolderGetsExactlyTheDefaults()
    {
        TemporaryGameFolder folder;
        const Run run = runLauncher({QStringLiteral("-update")});
        QCOMPARE(run.exitCode, 1);
        QVERIFY(run.elapsedMs > 2000);
        QCOMPARE(configBytes(), QByteArray("<?xml version=\"1.0\"?>\n"
                                           "<tsqp version=\"1.0\" />\n"
                                           "<download path=\"\" />\n"
                                           "<launcher installedVersion=\"1.2\" lastVersion=\"\" />\n"
                                           "<images installedVersion=\"\" lastVersion=\"\" />\n"
                                           "<servers />\n"));
        QCOMPARE(entriesBesidesTheLog(), QStringList{QStringLiteral("config.xml")});
    }

    void unreadableConfigIsNotCommittedOver()
    {
        TemporaryGameFolder folder;
        writeFileBytes(QStringLiteral("launcher.exe"), "old build");
        writeExecutable(QStringLiteral("newLauncher.exe"), markerScript);
        const QByteArray broken = "<launcher installedVersion=\"1.2\" lastVersion=\"1.3\">";
        writeFileBytes(QStringLiteral("config.xml"), broken);

        const Run run = runLauncher({QStringLiteral("-update")});
        QCOMPARE(run.exitCode, 1);
        QCOMPARE(configBytes(), broken);
        QCOMPARE(readFileBytes(QStringLiteral("config.xml.bad")), broken);
        // The new build is in place and started all the same, without the
        // version recorded: it offers no update in its run.
        QCOMPARE(startedLauncher(), QByteArray("started-update-failed\n"));
    }
};

QTEST_GUILESS_MAIN(UpdateModeTest)
#include "updatemode_test.moc"
