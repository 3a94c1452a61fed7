// Power cuts: the launcher killed at random moments while it saves config.xml and
// while it downloads client files. Whatever it had committed must survive, no
// file may be left half written, and the next run must work.

#include "boxrecorder.h"
#include "state/configsteps.h"
#include "gamefolder.h"
#include "state/launcherstate.h"
#include "reliability.h"
#include "testhttpserver.h"
#include "testmain.h"

#include <QtTest>

namespace {

constexpr int fileCount = 4;

QByteArray fileName(int index)
{
    return "parte-" + QByteArray::number(index) + ".dat";
}

// Two releases take turns, so that every run has files to fetch.
QByteArray contentOf(const QByteArray &version, int index)
{
    return QByteArray(256 * 1024, char('a' + index)) + version;
}

void publish(TestHttpServer &server, const QByteArray &version)
{
    QByteArray list = "<download path=\"" + server.url("/") +
                      "\"/><launcher lastVersion=\"1.2\"/><servers><server id=\"1\" name=\"Um\">";
    for (int i = 0; i < fileCount; ++i) {
        list += "<file name=\"" + fileName(i) + "\" lastVersion=\"" + version + "\"/>";
        server.setReply("/clientes/" + fileName(i), slowReply(contentOf(version, i), 16 * 1024, 2));
    }
    server.setReply("/launcher.xml", answer(200, list + "</server></servers>"));
}

// config.xml reads, no file lies half written, and a file that config.xml holds
// for current is the right one on disk (a file fetched before the kill may be
// newer than its recorded version: it is due, and fetched again). Returns the
// installed version, the same for every file of the server, which commits them
// all at once.
QByteArray checkGameFolder()
{
    BoxRecorder quiet;
    LauncherState state;
    const QByteArray config = configBytes();
    if (!mergeUpdateListAndSave(state, config.constData()))
        qFatal("config.xml does not read after a kill:\n%s", config.constData());
    QByteArray installed;
    for (int i = 0; i < fileCount; ++i) {
        const QString path = "clientes/" + QString::fromLatin1(fileName(i));
        const FileEntry file = state.servers.count(1) ? state.servers.at(1).files[fileName(i)] : FileEntry{};
        if (i > 0 && file.installedVersion != installed)
            qFatal("the files of one server were committed apart");
        installed = file.installedVersion;
        if (!QFile::exists(path)) {
            if (!installed.isEmpty())
                qFatal("an installed file is gone: %s", qPrintable(path));
            continue;
        }
        const QByteArray content = readFileBytes(path);
        if (content != contentOf("v0", i) && content != contentOf("v1", i))
            qFatal("a file was left half written: %s (%d bytes)", qPrintable(path), int(content.size()));
        if (!installed.isEmpty() && installed == file.lastVersion && content != contentOf(installed, i))
            qFatal("%s is held for current at %s but is not", qPrintable(path), installed.constData());
    }
    return installed;
}

} // namespace

class PowerCutTest : public QObject
{
    Q_OBJECT

private slots:
    void killedAtRandomMomentsTheLauncherLosesNothing()
    {
        TemporaryGameFolder folder;
        QDir().mkdir("clientes");
        QDir().mkdir("imagens");
        TestHttpServer server;
        const quint32 seed = QRandomGenerator::global()->generate();
        QRandomGenerator random(seed);
        qInfo("random seed %u", seed);
        // A launcher that installs server 1; killed when it has not finished within limitMs.
        const auto run = [&](int limitMs) {
            QProcess launcher;
            launcher.start(LAUNCHERBENCH_BINARY,
                           {"install", QString::fromLatin1(server.url("/launcher.xml"))});
            if (launcher.waitForFinished(limitMs))
                return launcher.exitCode() == 0;
            launcher.kill(); // SIGKILL: no chance to tidy up
            launcher.waitForFinished();
            return false;
        };

        // One undisturbed run gives the span in which the kills fall.
        QElapsedTimer calibration;
        calibration.start();
        publish(server, "v0");
        QVERIFY(run(60000));
        const int span = int(calibration.elapsed());
        QByteArray committed = checkGameFolder();
        int kills = 0, killsMidFile = 0;
        QElapsedTimer clock;
        clock.start();
        while (kills < 100 && clock.elapsed() < 200000) {
            publish(server, committed == "v0" ? "v1" : "v0");
            if (!run(int(random.bounded(span / 20, span)))) {
                ++kills;
                killsMidFile += partialFilesLeft().isEmpty() ? 0 : 1;
            }
            if (!QFile::exists("config.xml"))
                continue; // killed before its first save
            const QByteArray installed = checkGameFolder();
            QVERIFY2(installed == committed || !installed.isEmpty(), "a committed version was lost");
            committed = installed;
        }
        QVERIFY2(kills >= 100, qPrintable(QStringLiteral("only %1 kills in time").arg(kills)));
        QVERIFY2(killsMidFile >= 10, "too few kills fell inside a download");

        // The next run works, and fetching the files again clears what the kills left.
        const QByteArray next = committed == "v0" ? "v1" : "v0";
        publish(server, next);
        QVERIFY(run(60000));
        QCOMPARE(checkGameFolder(), next);
        QCOMPARE(partialFilesLeft(), QStringList());
        reportReliability(
            "power cuts", "SIGKILL at a random moment of start-up saves and client downloads", kills,
            QStringLiteral("%1 kills inside a download; config.xml read every time, no committed "
                           "version lost, no partial target; the next run installed all and left "
                           "no temporary file")
                .arg(killsMidFile));
    }
};

LAUNCHER_TEST_MAIN(PowerCutTest, QCoreApplication)
#include "powercut_test.moc"
