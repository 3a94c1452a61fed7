// Update lists written to harm: names that try to leave their folder or reach a
// shell, lists built to exhaust time or memory; servers and game folders that
// misbehave.

#include "configsteps.h"
#include "filedownloader.h"
#include "transferengine.h"
#include "launcherscene.h"
#include "launcherstate.h"
#include "names.h"
#include "playertexts.h"
#include "processmemory.h"
#include "reliability.h"

#include <QBuffer>
#include <QDir>
#include <QLabel>
#include <QElapsedTimer>
#include <QPushButton>
#include <QtTest>

#include <functional>

namespace {

using namespace PlayerText;

const QString unreadableConfigBox = configLocked;

// A PNG file of the given size, of one colour.
QByteArray pictureFile(int width, int height)
{
    QImage image(width, height, QImage::Format_Mono);
    image.fill(0);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

// The update list of every trial: server 1 with its installed client, and more.
QByteArray listWith(const QByteArray &moreFiles,
                    const QByteArray &launcher = "<launcher lastVersion=\"1.2\"/>")
{
    return "<download path=\"BASE/\"/>" + launcher +
           "<servers><server id=\"1\" name=\"Um\" executable=\"jogo.exe\">"
           "<file name=\"jogo.dat\" lastVersion=\"1\"/>" +
           moreFiles + "</server></servers>";
}

using Arrangement = std::function<void(LauncherScene &, const QString &outside)>;

// One trial: how the server, the list or the folder misbehave, and what the player
// then sees. Every trial starts with server 1 installed, jogo.dat at version 1.
struct Misbehaviour {
    QByteArray what;
    Arrangement arrange;
    bool clickServer;
    QStringList boxes;
    QByteArrayList requested;
    const char *caption = "Um (Jogar)";
    bool keepsConfig = false;       // config.xml keeps its bytes
    Arrangement afterwards = {};    // what more the trial shows
    qint64 withinMs = 0;            // 0: no bound
    QByteArray installedFiles = {}; // of server 1 in config.xml, besides jogo.dat
};

// A transient fault is tried three more times.
QByteArrayList requestedTimes(int times, const QByteArray &path)
{
    QByteArrayList paths;
    while (paths.size() < times)
        paths << path;
    return paths;
}

void link(const QString &target, const QString &at)
{
    QFile::remove(at);
    QVERIFY(QFile::link(target, at));
}

std::vector<Misbehaviour> misbehaviours()
{
    const QByteArray newFile = "<file name=\"novo.dat\" lastVersion=\"1\"/>";
    const QByteArray picture = "<images lastVersion=\"2\"><file name=\"a.png\" href=\"https://x\"/></images>";
    const auto publishList = [](const QByteArray &list) {
        return [list](LauncherScene &scene, const QString &) { scene.publishList(list); };
    };
    std::vector<Misbehaviour> trials;
    // Error documents of clouds, CDNs and proxies are often well-formed XML.
    for (const int status : {101, 403, 404, 500}) {
        trials.push_back({"the list answered " + QByteArray::number(status) + " with XML",
                          [status](LauncherScene &scene, const QString &) {
                              TestHttpServer::Reply reply;
                              reply.status = status;
                              reply.body = "<?xml version=\"1.0\"?><Error><Code>AccessDenied</Code></Error>";
                              scene.server.setReply("/launcher.xml", reply);
                          },
                          false,
                          {serverError(status), listNotFetched},
                          requestedTimes(status == 500 ? 4 : 1, "/launcher.xml"), // 500 tried 3 more times
                          "Um (Jogar)",
                          true});
    }
    trials.push_back({"the list trickled above the stall limit",
                      [](LauncherScene &scene, const QString &) {
                          const QByteArray list = listWith("<!--" + QByteArray(30000, '-') + "-->");
                          scene.server.setReply("/launcher.xml", TestHttpServer::slowReply(list, 400, 100));
                      },
                      false,
                      {transferError(28), listNotFetched},
                      {"/launcher.xml"}, // its whole time limit: no passing fault
                      "Um (Jogar)",
                      true});
    trials.push_back({"a client file trickled below a kilobyte per second",
                      [](LauncherScene &scene, const QString &) {
                          scene.publishList(listWith("<file name=\"lento.dat\" lastVersion=\"1\"/>"));
                          scene.server.setReply("/clientes/lento.dat",
                                                TestHttpServer::slowReply(QByteArray(3000, 'x'), 20, 100));
                      },
                      true,
                      {transferError(28), clientFileFailed},
                      QByteArrayList{"/launcher.xml"} + requestedTimes(4, "/clientes/lento.dat"),
                      "Um (Atualizar)"});
    trials.push_back(
        {"a client body far longer than the list says",
         [](LauncherScene &scene, const QString &) {
             scene.publishList(listWith("<file name=\"grande.dat\" lastVersion=\"1\" size=\"10\"/>"));
             scene.server.setReply("/clientes/grande.dat",
                                   TestHttpServer::slowReply(QByteArray(8 << 20, 'x'), 64 << 10, 50));
         },
         true,
         {contentMismatch, clientFileFailed},
         {"/launcher.xml", "/clientes/grande.dat"},
         "Um (Atualizar)",
         false,
         {},
         3000});
    // A launcher file lands beside config.xml and the launcher itself.
    for (const char *name : {"config.xml", "./CONFIG.XML. ", "config.xml.bad", "launcher.exe",
                             "newLauncher.exe", "x.dll.~part.etag"}) {
        trials.push_back({"a launcher file named \"" + QByteArray(name) + '"',
                          [name](LauncherScene &scene, const QString &) {
                              scene.publish(QStringLiteral("launcher/launcher.exe"), "new build");
                              scene.publishList(listWith({}, "<launcher lastVersion=\"1.3\"><file name=\"" +
                                                                 QByteArray(name) + "\"/></launcher>"));
                          },
                          false,
                          {launcherUpdate, refusedName(name)},
                          {"/launcher.xml", "/launcher/launcher.exe"}});
    }
    trials.push_back({"names the operator encoded, and one with a space",
                      [](LauncherScene &scene, const QString &) {
                          scene.publishList(listWith("<file name=\"a%20b.pak\" lastVersion=\"1\"/>"
                                                     "<file name=\"c d.pak\" lastVersion=\"1\"/>"));
                          scene.publish(QStringLiteral("clientes/a%20b.pak"), "a");
                          scene.publish(QStringLiteral("clientes/c%20d.pak"), "c");
                      },
                      true,
                      {},
                      {"/launcher.xml", "/clientes/a%20b.pak", "/clientes/c%20d.pak"}});
    trials.push_back({"a due file dropped from the release",
                      publishList(listWith({})),
                      true,
                      {},
                      {"/launcher.xml"},
                      "Um (Jogar)",
                      false,
                      {},
                      0,
                      "<file name=\"velho.dat\" installedVersion=\"1\" lastVersion=\"2\"/>"});
    trials.push_back({"a config.xml that cannot be opened",
                      [](LauncherScene &scene, const QString &) {
                          scene.publishList(listWith({}));
                          QFile::setPermissions(QStringLiteral("config.xml"), {});
                          QVERIFY(overrideFileAccess(false));
                      },
                      false,
                      {unreadableConfigBox},
                      {"/launcher.xml"},
                      "Um (Instalar)",
                      true});
    trials.push_back({"a read-only config.xml",
                      [](LauncherScene &scene, const QString &) {
                          scene.publishList(listWith({}));
                          QFile::setPermissions(QStringLiteral("config.xml"),
                                                QFile::ReadOwner | QFile::ReadOther);
                      },
                      false,
                      {progressNotSaved},
                      {"/launcher.xml"},
                      "Um (Jogar)",
                      true});
    trials.push_back({"a read-only client file",
                      [](LauncherScene &scene, const QString &) {
                          scene.publishList(listWith({}).replace("lastVersion=\"1\"", "lastVersion=\"2\""));
                          scene.publish(QStringLiteral("clientes/jogo.dat"), "new client");
                          QFile::setPermissions(QStringLiteral("clientes/jogo.dat"), QFile::ReadOwner);
                      },
                      true,
                      {inUse, clientFileFailed},
                      {"/launcher.xml", "/clientes/jogo.dat"},
                      "Um (Instalar)"});
    // Links planted by a local user who may write in the game folder.
    for (const char *partial : {"clientes/novo.dat.~part", "config.xml.~part"}) {
        trials.push_back({"a link planted at " + QByteArray(partial),
                          [=](LauncherScene &scene, const QString &outside) {
                              scene.publishList(listWith(newFile));
                              scene.publish(QStringLiteral("clientes/novo.dat"), "novo");
                              link(outside + QLatin1String("/segredo.txt"), QLatin1String(partial));
                          },
                          true,
                          {},
                          {"/launcher.xml", "/clientes/novo.dat"},
                          "Um (Jogar)",
                          false,
                          [](LauncherScene &, const QString &) {
                              QCOMPARE(readFileBytes(QStringLiteral("clientes/novo.dat")),
                                       QByteArray("novo"));
                          }});
    }
    trials.push_back({"imagens/ a link to another folder",
                      [=](LauncherScene &scene, const QString &outside) {
                          scene.publishList(listWith({}) + picture);
                          scene.publish(QStringLiteral("imagens/a.png"), "png");
                          QDir(QStringLiteral("imagens")).removeRecursively();
                          link(outside + QLatin1String("/pasta"), QStringLiteral("imagens"));
                      },
                      false,
                      {inUse},
                      {"/launcher.xml", "/imagens/a.png"}});
    trials.push_back({"config.xml a link to another file",
                      [=](LauncherScene &scene, const QString &outside) {
                          scene.publishList(listWith({}));
                          link(outside + QLatin1String("/segredo.txt"), QStringLiteral("config.xml"));
                      },
                      false,
                      {unreadableConfigBox},
                      {"/launcher.xml"},
                      "Um (Instalar)",
                      false,
                      [](LauncherScene &, const QString &) {
                          QVERIFY(!QFile::exists(QStringLiteral("config.xml.bad")));
                      }});
    trials.push_back({"the client a link out of the game folder",
                      [=](LauncherScene &scene, const QString &outside) {
                          scene.publishList(listWith({}));
                          link(outside + QLatin1String("/segredo.txt"), QStringLiteral("clientes/jogo.exe"));
                          setPlatform(nullptr); // the operating system's own start
                      },
                      true,
                      {},
                      {"/launcher.xml"}});
    // Values of the list that reach the desktop, the labels and libcurl.
    for (const char *href : {"file:///etc/passwd", "javascript:alert(1)", "file:clientes/jogo.exe"}) {
        trials.push_back({"a picture linked to " + QByteArray(href),
                          [=](LauncherScene &scene, const QString &) {
                              scene.publishList(listWith({}) +
                                                QByteArray(picture).replace("https://x", href));
                              scene.publish(QStringLiteral("imagens/a.png"), pictureFile(10, 10));
                          },
                          false,
                          {},
                          {"/launcher.xml", "/imagens/a.png"},
                          "Um (Jogar)",
                          false,
                          [](LauncherScene &scene, const QString &) {
                              QTest::mouseClick(scene.widget<QLabel>("img_background"), Qt::LeftButton);
                              QVERIFY(scene.opened.links.isEmpty());
                          }});
    }
    trials.push_back({"a picture of 10000 x 10000 pixels",
                      [=](LauncherScene &scene, const QString &) {
                          scene.publishList(
                              listWith({}) +
                              QByteArray(picture).replace("</images>", "<file name=\"b.png\"/></images>"));
                          scene.publish(QStringLiteral("imagens/a.png"), pictureFile(10000, 10000));
                          scene.publish(QStringLiteral("imagens/b.png"), pictureFile(10, 10));
                      },
                      false,
                      {},
                      {"/launcher.xml", "/imagens/a.png", "/imagens/b.png"},
                      "Um (Jogar)",
                      false,
                      [](LauncherScene &scene, const QString &) {
                          // Never decoded: the carousel shows the other one.
                          QCOMPARE(scene.widget<QLabel>("img_background")->pixmap(Qt::ReturnByValue).size(),
                                   QSize(10, 10));
                      }});
    trials.push_back({"a server name in HTML",
                      [=](LauncherScene &scene, const QString &) {
                          scene.publishList(listWith(newFile).replace(
                              "name=\"Um\"", "name=\"&lt;img src=&quot;imagens/a.png&quot;&gt;Um\""));
                          scene.publish(QStringLiteral("clientes/novo.dat"), QByteArray(300000, 'n'));
                      },
                      true,
                      {},
                      {"/launcher.xml", "/clientes/novo.dat"},
                      "<img src=\"imagens/a.png\">Um (Jogar)",
                      false,
                      [](LauncherScene &scene, const QString &) {
                          QCOMPARE(scene.widget<QLabel>("label_status")->textFormat(), Qt::PlainText);
                      }});
    trials.push_back({"a download address of another protocol",
                      [=](LauncherScene &scene, const QString &outside) {
                          scene.publishList(listWith(newFile).replace(
                              "BASE/", "file://" + QFile::encodeName(outside) + '/'));
                          QDir(outside).mkdir(QStringLiteral("clientes"));
                          writeFileBytes(outside + QLatin1String("/clientes/novo.dat"), "de fora");
                      },
                      true,
                      {transferError(1), clientFileFailed},
                      {"/launcher.xml"},
                      "Um (Atualizar)"});
    return trials;
}

QByteArray serverWithFiles(int count)
{
    QByteArray files;
    for (int i = 0; i < count; ++i)
        files += "<file name=\"arquivo-" + QByteArray::number(i) + ".dat\" lastVersion=\"1\"/>";
    return "<launcher lastVersion=\"1.2\"/><servers><server id=\"1\" name=\"Muitos\">" + files +
           "</server></servers>";
}

} // namespace

class HostileTest : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        TransferEngine::stallTimeoutSeconds = 60;
        TransferEngine::memoryBodyTimeLimitSeconds = 60;
    }

    void namesThatWouldLeaveTheirFolderAreRefused()
    {
        // Separated by spaces here, but for the last few.
        QByteArrayList hostile =
            QByteArray(".. ../x ../../x a/../../x a/.. ./../x ..\\x a\\..\\..\\x /etc/passwd "
                       "\\windows\\x //servidor/x \\\\servidor\\x C:\\x C:x c:/x x.exe.~part")
                .split(' ');
        for (const char *control : {"a\nb", "a\tb", "a\x01", "a\x7f", ""})
            hostile << control;
        for (const QByteArray &name : hostile)
            QVERIFY2(!isSafeRelativeName(name), name.toPercentEncoding().constData());
        for (const QByteArray &name :
             QByteArrayList{"a.exe", "promo/x.png", "a..b", "..a", "a b;c&&$(d).exe"})
            QVERIFY2(isSafeRelativeName(name), name.constData());
        reportReliability(QStringLiteral("hostile names"),
                          QStringLiteral("traversal, absolute, drive and control forms"), hostile.size(),
                          QStringLiteral("every one refused before any request"));
    }

    void shellSyntaxInNamesAndArgumentsRunsNothing()
    {
        LauncherScene scene;
        setPlatform(nullptr); // the operating system's own starts
        const QByteArray argumentsScript =
            "#!/bin/sh\nfor a in \"$@\"; do echo \"$a\"; done > argumentos.txt\n";
        scene.publish(QStringLiteral("clientes/instalar.sh"), argumentsScript);
        scene.publish(QStringLiteral("clientes/jogo.sh; touch ../MARCA-1"), "#!/bin/sh\ntouch ../MARCA-0\n");
        scene.publishList(
            "<download path=\"BASE/\"/><launcher lastVersion=\"1.2\"/><servers>"
            "<server id=\"1\" name=\"Um\" executable=\"jogo.sh &amp;&amp; touch ../MARCA-2\">"
            "<file name=\"instalar.sh\" function=\"exec\" lastVersion=\"1\" "
            "value=\"$(touch ../MARCA-3) `touch ../MARCA-4` ; touch ../MARCA-5 | touch ../MARCA-6 "
            "&gt; ../MARCA-7 &amp;&amp; touch ../MARCA-8\"/></server></servers>");
        scene.startLauncher();
        QTest::mouseClick(scene.widget<QPushButton>("button_server_1"), Qt::LeftButton);
        QTRY_VERIFY(QFile::exists(QStringLiteral("clientes/argumentos.txt")));
        QTest::mouseClick(scene.widget<QPushButton>("button_server_1"), Qt::LeftButton); // play
        QTest::qWait(500);

        QCOMPARE(
            readFileBytes(QStringLiteral("clientes/argumentos.txt")),
            QByteArray(
                "$(touch\n../MARCA-3)\n`touch\n../MARCA-4`\n;\ntouch\n../MARCA-5\n|\ntouch\n../MARCA-6\n>\n"
                "../MARCA-7\n&&\ntouch\n../MARCA-8\n"));
        QCOMPARE(QDir().entryList({QStringLiteral("MARCA-*")}, QDir::Files), QStringList());
        reportReliability(
            QStringLiteral("hostile names"),
            QStringLiteral("shell syntax in an executable and an \"exec\" value"), 9,
            QStringLiteral("no marker file appeared; the arguments reached the program as data"));
    }

    void misbehavingServersAndFoldersLoseNothing_data()
    {
        QTest::addColumn<int>("trial");
        const std::vector<Misbehaviour> trials = misbehaviours();
        for (std::size_t i = 0; i < trials.size(); ++i)
            QTest::newRow(trials[i].what.constData()) << int(i);
    }

    void misbehavingServersAndFoldersLoseNothing()
    {
        QFETCH(int, trial);
        const Misbehaviour misbehaviour = misbehaviours().at(std::size_t(trial));
        TransferEngine::stallTimeoutSeconds = 1;
        TransferEngine::memoryBodyTimeLimitSeconds = 1;
        {
            LauncherScene scene;
            {
                LauncherState installed;
                mergeUpdateListAndSave(
                    installed,
                    QByteArray("<servers><server id=\"1\" name=\"Um\" executable=\"jogo.exe\">"
                               "<file name=\"jogo.dat\" installedVersion=\"1\" lastVersion=\"1\"/>" +
                               misbehaviour.installedFiles + "</server></servers>")
                        .constData());
            }
            writeFileBytes(QStringLiteral("clientes/jogo.dat"), "old client");
            const QByteArray configBefore = readFileBytes(QStringLiteral("config.xml"));
            // What lies outside the game folder, where planted links lead.
            QTemporaryDir outside;
            writeFileBytes(outside.filePath(QStringLiteral("segredo.txt")), "segredo");
            QVERIFY(QDir(outside.path()).mkdir(QStringLiteral("pasta")));
            const QFile::Permissions secretPermissions =
                QFile::permissions(outside.filePath(QStringLiteral("segredo.txt")));
            misbehaviour.arrange(scene, outside.path());
            QElapsedTimer clock;
            clock.start();
            scene.startLauncher();
            if (misbehaviour.clickServer)
                scene.clickServer(1);
            const qint64 elapsed = clock.elapsed();
            QVERIFY(overrideFileAccess(true));

            QCOMPARE(scene.boxes.texts(), misbehaviour.boxes);
            QCOMPARE(LauncherScene::sorted(scene.requestedPaths()),
                     LauncherScene::sorted(misbehaviour.requested));
            QCOMPARE(scene.widget<QPushButton>("button_server_1")->text(),
                     QLatin1String(misbehaviour.caption));
            QVERIFY2(misbehaviour.withinMs == 0 || elapsed < misbehaviour.withinMs,
                     qPrintable(QString::number(elapsed)));
            QVERIFY(scene.processEnds.empty());
            // What was installed stays installed, on disk and in config.xml.
            QVERIFY(QDir(QStringLiteral("clientes")).entryList({QStringLiteral("*.~part*")}).isEmpty());
            QCOMPARE(readFileBytes(QStringLiteral("clientes/jogo.dat")), QByteArray("old client"));
            const QByteArray config = readFileBytes(QStringLiteral("config.xml"));
            QVERIFY(QFileInfo(QStringLiteral("config.xml")).isSymLink() ||
                    config.contains("<file name=\"jogo.dat\" function=\"\" value=\"\" cmd=\"\" "
                                    "installedVersion=\"1\""));
            QVERIFY(!misbehaviour.keepsConfig || config == configBefore);
            // Nothing outside the game folder was written, changed or made runnable.
            QCOMPARE(readFileBytes(outside.filePath(QStringLiteral("segredo.txt"))), QByteArray("segredo"));
            QCOMPARE(QFile::permissions(outside.filePath(QStringLiteral("segredo.txt"))), secretPermissions);
            QVERIFY(QDir(outside.filePath(QStringLiteral("pasta"))).isEmpty());
            if (misbehaviour.afterwards)
                misbehaviour.afterwards(scene, outside.path());
            reportReliability(
                QStringLiteral("misbehaving servers and folders"), QString::fromLatin1(misbehaviour.what), 1,
                QStringLiteral("%1 box(es); nothing installed lost").arg(misbehaviour.boxes.size()));
        }
    }

    void hugeAndDeepListsNeitherHangNorCrash()
    {
        const std::pair<const char *, QByteArray> lists[] = {
            {"100,000 files", serverWithFiles(100000)},
            {"an attribute value of 10 MB",
             "<launcher lastVersion=\"1.2\"/><servers><server id=\"1\" name=\"" +
                 QByteArray(10 * 1024 * 1024, 'N') + "\"/></servers>"},
            {"10,000 levels of nesting", "<launcher lastVersion=\"1.2\"/><servers>" +
                                             QByteArray("<a>").repeated(10000) +
                                             QByteArray("</a>").repeated(10000) + "</servers>"},
            {"entity declarations",
             "<!DOCTYPE l [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\">"
             "<!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\"><!ENTITY d \"&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;\">]>"
             "<launcher lastVersion=\"1.2\"/><servers><server id=\"1\" name=\"&d;&d;&d;&d;\"/></servers>"},
        };
        for (const auto &[what, list] : lists) {
            LauncherScene scene;
            scene.publishList(list);
            QElapsedTimer clock;
            clock.start();
            scene.startLauncher();
            const qint64 elapsed = clock.elapsed();
            QVERIFY2(elapsed < 30000, what);
            QVERIFY2(scene.widget<QWidget>("frame_buttons")->isEnabled(), what);
            QVERIFY2(readFileBytes(QStringLiteral("config.xml")).startsWith("<?xml"), what);
            reportReliability(QStringLiteral("hostile lists"), QString::fromLatin1(what), 1,
                              QStringLiteral("read in %1 ms; window usable, config.xml sound").arg(elapsed));
        }
    }

    void anEndlessListIsRefusedAsUnreadable()
    {
        LauncherScene scene;
        {
            QFile list(scene.serverFolder.filePath(QStringLiteral("launcher.xml")));
            QVERIFY(list.open(QIODevice::WriteOnly) && list.resize(200LL * 1024 * 1024));
        }
        QVERIFY(resetPeakResident());
        const qint64 before = peakResidentKilobytes();
        scene.startLauncher();
        const qint64 growth = peakResidentKilobytes() - before;
        QCOMPARE(scene.boxes.texts(),
                 QStringList{QString::fromUtf8("N\xc3\xa3o foi poss\xc3\xadvel ler a lista de "
                                               "atualiza\xc3\xa7\xc3\xb5"
                                               "es, por favor contate "
                                               "o suporte")});
        QCOMPARE(scene.status(),
                 QString::fromUtf8("N\xc3\xa3o foi poss\xc3\xadvel ler a lista de atualiza\xc3\xa7\xc3\xb5"
                                   "es"));
#ifdef __SANITIZE_ADDRESS__
        const qint64 bound = 256 * 1024; // freed blocks wait in the sanitizer's quarantine
#else
        const qint64 bound = 64 * 1024;
#endif
        QVERIFY2(growth < bound, qPrintable(QString::number(growth)));
        reportReliability(QStringLiteral("hostile lists"),
                          QStringLiteral("a body of 200 MB as the update list"), 1,
                          QStringLiteral("stopped at 32 MiB, reported as unreadable; memory grew by %1 MiB")
                              .arg(growth / 1024));
    }
};

QTEST_MAIN(HostileTest)
#include "hostile_test.moc"
