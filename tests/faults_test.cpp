// Each download phase of a start and an install stopped by a fault (every fault
// itself is tried at the transfer level): what the player sees, and that nothing
// already installed is lost.

#include "configsteps.h"
#include "launcherscene.h"
#include "launcherstate.h"
#include "playertexts.h"
#include "reliability.h"
#include "transferengine.h"

#include <QtTest>

namespace {

using namespace PlayerText;
using Reply = TestHttpServer::Reply;

QByteArray checkOf(const QByteArray &content)
{
    return " size=\"" + QByteArray::number(content.size()) + "\" sha256=\"" + sha256Hex(content) + "\"";
}

// The list offers a new version of what the phase fetches, with the size and
// SHA-256 of every file.
QByteArray listFor(const QByteArray &phase)
{
    const bool launcher = phase.startsWith("launcher");
    return "<download path=\"BASE/\"/><launcher lastVersion=\"" + QByteArray(launcher ? "1.3" : "1.2") +
           "\"" + checkOf("new launcher") + "><file name=\"x.dll\"" + checkOf("new library") +
           "/></launcher><images lastVersion=\"" + (phase == "images" ? "v2" : "v1") +
           "\"><file name=\"a.png\"" + checkOf("new picture") +
           "/></images><servers><server id=\"1\" name=\"Um\"><file name=\"jogo.dat\" " + "lastVersion=\"" +
           (phase == "client files" ? "2" : "1") + "\"" + checkOf("new client") + "/></server></servers>";
}

Reply faulty(int status, qint64 cutAt = -1, qint64 stallAt = -1)
{
    Reply reply;
    reply.status = status;
    reply.body = "new launcher, new library, new picture, new client";
    reply.closeAfterBytes = cutAt;
    reply.stallAfterBytes = stallAt;
    return reply;
}

} // namespace

Q_DECLARE_METATYPE(Reply)

class FaultsTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { TransferEngine::stallTimeoutSeconds = 1; }

    void aFaultInEachPhaseLosesNothing_data()
    {
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<Reply>("fault");
        QTest::addColumn<QStringList>("boxes");
        QTest::addColumn<QString>("status");
        QTest::newRow("update list: 500")
            << QByteArray("/launcher.xml") << faulty(500) << QStringList{serverError(500), listNotFetched}
            << loadedWithoutList;
        QTest::newRow("images: cut off") << QByteArray("/imagens/a.png") << faulty(200, 5)
                                         << QStringList{transferError(18)} << loadedSuccessfully;
        QTest::newRow("launcher build: 404")
            << QByteArray("/launcher/launcher.exe") << faulty(404)
            << QStringList{launcherUpdate, serverError(404)} << launcherNotUpdated;
        QTest::newRow("launcher files: stalled")
            << QByteArray("/launcher/x.dll") << faulty(200, -1, 0)
            << QStringList{launcherUpdate, transferError(28)} << launcherFileFailed;
        QTest::newRow("client files: bytes unlike the list's")
            << QByteArray("/clientes/jogo.dat") << faulty(200)
            << QStringList{contentMismatch, clientFileFailed} << QStringLiteral("Baixando Um | Velocidade ");
    }

    void aFaultInEachPhaseLosesNothing()
    {
        QFETCH(QByteArray, path);
        QFETCH(Reply, fault);
        QFETCH(QStringList, boxes);
        QFETCH(QString, status);
        const QByteArray trial = QTest::currentDataTag(), phase = trial.left(trial.indexOf(':'));
        LauncherScene scene;
        // Installed and current: server 1, one picture, one launcher file.
        LauncherState state;
        mergeUpdateListAndSave(
            state, "<launcher installedVersion=\"1.2\" lastVersion=\"1.2\"><file name=\"x.dll\"/></launcher>"
                   "<images installedVersion=\"v1\" lastVersion=\"v1\"><file name=\"a.png\"/></images>"
                   "<servers><server id=\"1\" name=\"Um\">"
                   "<file name=\"jogo.dat\" installedVersion=\"1\" lastVersion=\"1\"/></server></servers>");
        // Where each lies in the game folder and on the server, and what it is.
        const char *const files[][3] = {{"imagens/a.png", "imagens/a.png", "picture"},
                                        {"clientes/jogo.dat", "clientes/jogo.dat", "client"},
                                        {"x.dll", "launcher/x.dll", "library"},
                                        {"launcher.exe", "launcher/launcher.exe", "launcher"}};
        for (const auto &[local, served, what] : files) {
            writeFileBytes(QLatin1String(local), "old " + QByteArray(what));
            scene.publish(QLatin1String(served), "new " + QByteArray(what));
        }
        const QByteArray configBefore = configBytes();
        scene.publishList(listFor(phase));
        scene.server.setReply(path, fault);

        scene.startLauncher();
        if (phase == "client files")
            scene.clickServer(1);

        QCOMPARE(scene.boxes.texts(), boxes);
        // A server action leaves its last progress text standing.
        QVERIFY2(scene.status().startsWith(status), qPrintable(scene.status()));
        QCOMPARE(partialFilesLeft(), QStringList());
        QVERIFY(scene.processEnds.empty());
        QVERIFY(scene.widget<QWidget>("frame_buttons")->isEnabled() && scene.button(1)->isEnabled());
        QVERIFY(phase == "launcher files" || !QFile::exists(QStringLiteral("newLauncher.exe")));
        for (const auto &[local, served, what] : files)
            QCOMPARE(readFileBytes(QLatin1String(local)), "old " + QByteArray(what));
        const QByteArray config = configBytes();
        QVERIFY(phase != "update list" || config == configBefore);
        QVERIFY(config.contains("<launcher installedVersion=\"1.2\"") &&
                config.contains("<images installedVersion=\"v1\"") &&
                config.contains("installedVersion=\"1\""));
        reportReliability(
            QStringLiteral("faults in each phase"), QString::fromUtf8(trial), 1,
            QStringLiteral("%1 box(es); nothing lost, no partial file, buttons usable").arg(boxes.size()));
    }
};

QTEST_MAIN(FaultsTest)
#include "faults_test.moc"
