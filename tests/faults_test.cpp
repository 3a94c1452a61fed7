// Every download phase against every fault the network or the server can throw:
// what the player sees, and that nothing already installed is lost.

#include "configsteps.h"
#include "buildconfig.h"
#include "filedownloader.h"
#include "transferengine.h"
#include "launcherscene.h"
#include "launcherstate.h"
#include "playertexts.h"
#include "reliability.h"

#include <QCryptographicHash>
#include <QDirIterator>
#include <QProgressBar>
#include <QPushButton>
#include <QtTest>

namespace {

enum Phase { UpdateList, Images, LauncherBuild, LauncherFiles, ClientFiles };
enum Fault { Refused, NotFound, ServerError, Redirect, CutOff, Stall, Garbage };

const char *const phaseNames[] = {"update list", "images", "new launcher build", "launcher files",
                                  "client files"};
const char *const faultNames[] = {"refused",         "404", "500", "302", "body cut off", "stall",
                                  "200 with garbage"};
const char *const faultPaths[] = {"/launcher.xml", "/imagens/a.png", "/launcher/launcher.exe",
                                  "/launcher/x.dll", "/clientes/jogo.dat"};

using namespace PlayerText;

QString utf8(const char *text)
{
    return QString::fromUtf8(text);
}

// What the player has before the start: server 1 installed, one picture, one
// launcher file, all current.
void installSomething()
{
    LauncherState state;
    mergeUpdateListAndSave(
        state, "<launcher installedVersion=\"1.2\" lastVersion=\"1.2\"><file name=\"x.dll\"/></launcher>"
               "<images installedVersion=\"v1\" lastVersion=\"v1\"><file name=\"a.png\"/></images>"
               "<servers><server id=\"1\" name=\"Um\">"
               "<file name=\"jogo.dat\" installedVersion=\"1\" lastVersion=\"1\"/></server></servers>");
    writeFileBytes(QStringLiteral("imagens/a.png"), "old picture");
    writeFileBytes(QStringLiteral("clientes/jogo.dat"), "old client");
    writeFileBytes(QStringLiteral("x.dll"), "old library");
    writeFileBytes(QStringLiteral("launcher.exe"), "running launcher");
}

QByteArray checkOf(const QByteArray &content)
{
    return " size=\"" + QByteArray::number(content.size()) + "\" sha256=\"" +
           QCryptographicHash::hash(content, QCryptographicHash::Sha256).toHex() + "\"";
}

// The list that makes the phase run, with the base address given. It states the
// size and SHA-256 of every file, so that a body unlike the release is refused.
QByteArray listFor(Phase phase, const QByteArray &base)
{
    const QByteArray launcher = phase == LauncherBuild || phase == LauncherFiles ? "1.3" : "1.2";
    const QByteArray images = phase == Images ? "v2" : "v1";
    const QByteArray client = phase == ClientFiles ? "2" : "1";
    return "<download path=\"" + base + "\"/><launcher lastVersion=\"" + launcher + "\"" +
           checkOf("new launcher") + "><file name=\"x.dll\"" + checkOf("new library") +
           "/></launcher><images lastVersion=\"" + images + "\"><file name=\"a.png\"" +
           checkOf("new picture") +
           "/></images><servers><server id=\"1\" name=\"Um\"><file name=\"jogo.dat\" lastVersion=\"" +
           client + "\"" + checkOf("new client") + "/></server></servers>";
}

TestHttpServer::Reply replyFor(Fault fault)
{
    TestHttpServer::Reply reply;
    switch (fault) {
    case ServerError:
        reply.status = 500;
        reply.body = "<html><body><h1>500</h1><hr></body></html>";
        break;
    case Redirect:
        reply.status = 302;
        reply.location = "http://127.0.0.1:1/elsewhere";
        reply.body = "Found";
        break;
    case CutOff:
        reply.body = QByteArray(100000, 'x');
        reply.closeAfterBytes = 5; // shorter than any file of the release
        break;
    case Stall:
        reply.body = QByteArray(100000, 'x');
        reply.stallAfterBytes = 0;
        break;
    case Garbage:
        for (int i = 0; i < 4096; ++i)
            reply.body.append(char((i * 7919) % 251));
        break;
    default:
        break;
    }
    return reply;
}

QString trialName(int phase, int fault)
{
    return QString::fromLatin1(phaseNames[phase]) + QLatin1String(" / ") +
           QString::fromLatin1(faultNames[fault]);
}

QStringList leftoverPartialFiles()
{
    QStringList found;
    QDirIterator files(QStringLiteral("."), {QStringLiteral("*.~part")}, QDir::Files | QDir::Hidden,
                       QDirIterator::Subdirectories);
    while (files.hasNext())
        found << files.next();
    return found;
}

} // namespace

class FaultsTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { TransferEngine::stallTimeoutSeconds = 1; }

    void everyPhaseSurvivesEveryFault_data()
    {
        QTest::addColumn<int>("phase");
        QTest::addColumn<int>("fault");
        for (int phase = UpdateList; phase <= ClientFiles; ++phase) {
            for (int fault = Refused; fault <= Garbage; ++fault)
                QTest::addRow("%s / %s", phaseNames[phase], faultNames[fault]) << phase << fault;
        }
    }

    void everyPhaseSurvivesEveryFault()
    {
        QFETCH(int, phase);
        QFETCH(int, fault);
        LauncherScene scene;
        installSomething();
        const QByteArray configBefore = readFileBytes(QStringLiteral("config.xml"));

        // The release is complete on the server but for the one faulty path.
        scene.publish(QStringLiteral("imagens/a.png"), "new picture");
        scene.publish(QStringLiteral("launcher/launcher.exe"), "new launcher");
        scene.publish(QStringLiteral("launcher/x.dll"), "new library");
        scene.publish(QStringLiteral("clientes/jogo.dat"), "new client");
        QByteArray base = scene.base();
        int refusedCode = 7;
        if (fault == Refused && phase == UpdateList) {
            buildSettings().updateListUrl = "http://127.0.0.1:1/launcher.xml";
        } else if (fault == Refused && phase == LauncherFiles) {
            TestHttpServer::Reply hangUp; // the launcher build comes from the same address
            hangUp.closeWithoutAnswer = true;
            scene.server.setReply(faultPaths[phase], hangUp);
            refusedCode = 52;
        } else if (fault == Refused) {
            base = "http://127.0.0.1:1/";
        } else if (fault != NotFound) {
            scene.server.setReply(faultPaths[phase], replyFor(Fault(fault)));
        } else {
            QFile::remove(scene.serverFolder.filePath(QString::fromLatin1(faultPaths[phase]).mid(1)));
        }
        if (phase != UpdateList || fault == Refused)
            scene.publishList(listFor(Phase(phase), base));
        else if (fault == NotFound)
            QFile::remove(scene.serverFolder.filePath(QStringLiteral("launcher.xml")));

        scene.startLauncher();
        if (phase == ClientFiles) {
            scene.clickServer(1);
        }

        const QString unreadable =
            utf8("N\xc3\xa3o foi poss\xc3\xadvel ler a lista de atualiza\xc3\xa7\xc3\xb5"
                 "es, por favor contate o suporte");
        const QString failure = fault == Refused       ? transferError(refusedCode)
                                : fault == NotFound    ? serverError(404)
                                : fault == ServerError ? serverError(500)
                                : fault == Redirect    ? serverError(302)
                                : fault == CutOff      ? transferError(18)
                                : fault == Stall       ? transferError(28)
                                                       : contentMismatch;
        QStringList boxes;
        QString status = PlayerText::loadedSuccessfully;
        switch (phase) {
        case UpdateList:
            if (fault != Garbage) { // only a status-200 answer is a list
                boxes << failure << listNotFetched;
                status = utf8("Launcher foi carregado sem a lista de atualiza\xc3\xa7\xc3\xb5"
                              "es");
            } else {
                boxes << unreadable;
                status = utf8("N\xc3\xa3o foi poss\xc3\xadvel ler a lista de atualiza\xc3\xa7\xc3\xb5"
                              "es");
            }
            break;
        case Images:
            boxes << failure;
            break;
        case LauncherBuild:
        case LauncherFiles:
            boxes << launcherUpdate << failure;
            status = phase == LauncherBuild ? utf8("N\xc3\xa3o foi poss\xc3\xadvel atualizar o launcher")
                                            : PlayerText::launcherFileFailed;
            break;
        case ClientFiles:
            boxes << failure << clientFileFailed;
            break;
        }
        QCOMPARE(scene.boxes.texts(), boxes);
        QCOMPARE(leftoverPartialFiles(), QStringList());
        QCOMPARE(readFileBytes(QStringLiteral("launcher.exe")), QByteArray("running launcher"));
        if (phase == ClientFiles) // a server action leaves the last progress text, if any, standing
            QVERIFY2(scene.status() == status ||
                         scene.status().startsWith(QLatin1String("Baixando Um | Velocidade ")),
                     qPrintable(scene.status()));
        else
            QCOMPARE(scene.status(), status);
        QVERIFY(scene.processEnds.empty());
        QVERIFY(scene.widget<QWidget>("frame_buttons")->isEnabled());
        QVERIFY(scene.widget<QPushButton>("button_server_1")->isEnabled());

        // Nothing the player had is lost.
        QCOMPARE(readFileBytes(QStringLiteral("imagens/a.png")), QByteArray("old picture"));
        QCOMPARE(readFileBytes(QStringLiteral("clientes/jogo.dat")), QByteArray("old client"));
        QCOMPARE(readFileBytes(QStringLiteral("x.dll")), QByteArray("old library"));
        QVERIFY(phase == LauncherFiles || !QFile::exists(QStringLiteral("newLauncher.exe")));
        const QByteArray config = readFileBytes(QStringLiteral("config.xml"));
        if (phase == UpdateList)
            QCOMPARE(config, configBefore);
        QVERIFY(config.contains("installedVersion=\"1\""));
        QVERIFY(config.contains("<images installedVersion=\"v1\""));
        QVERIFY(config.contains("<launcher installedVersion=\"1.2\""));
        reportReliability(
            QStringLiteral("fault matrix"), trialName(phase, fault), 1,
            QStringLiteral("%1 box(es), status \"%2\"; nothing lost, no partial file, buttons usable")
                .arg(boxes.size())
                .arg(status));
    }
};

QTEST_MAIN(FaultsTest)
#include "faults_test.moc"
