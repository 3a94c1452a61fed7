// Update lists written to harm: names that try to leave their folder, values that
// reach the desktop, lists built to exhaust time or memory; servers and game
// folders that misbehave, and a fault in each download phase (every fault itself
// is tried at the transfer level). Nothing installed is lost, nothing outside is
// touched.

#include "state/configsteps.h"
#include "launcherscene.h"
#include "state/launcherstate.h"
#include "names.h"
#include "playertexts.h"
#include "processmemory.h"
#include "reliability.h"
#include "tablerows.h"
#include "testmain.h"
#include "transfer/transferengine.h"

#include <QAction>
#include <QBuffer>
#include <QLabel>
#include <QtTest>

#include <functional>

namespace {

using namespace PlayerText;

QByteArray pictureFile(int width, int height)
{
    QImage image(width, height, QImage::Format_Mono);
    image.fill(0);
    QByteArray bytes;
    QBuffer buffer(&bytes); // opened by the writer
    image.save(&buffer, "PNG");
    return bytes;
}

// Server 1 with its installed client, and more.
QByteArray listWith(const QByteArray &more, const QByteArray &launcher = "<launcher lastVersion=\"1.2\"/>")
{
    return "<download path=\"BASE/\"/>" + launcher +
           "<servers><server id=\"1\" name=\"Um\" executable=\"jogo.exe\"><file name=\"jogo.dat\" "
           "lastVersion=\"1\"/>" +
           more + "</server></servers>";
}

const QByteArray newFile = "<file name=\"novo.dat\" lastVersion=\"1\"/>";
const QByteArray picture = "<images lastVersion=\"2\"><file name=\"p.png\" href=\"https://x\"/></images>";

QByteArray checkOf(const QByteArray &content)
{
    return " size=\"" + QByteArray::number(content.size()) + "\" sha256=\"" + sha256Hex(content) + "\"";
}

// A new version of what the phase fetches, with the size and SHA-256 of every file.
QByteArray listFor(const QByteArray &phase)
{
    const bool launcher = phase.startsWith("launcher");
    return "<download path=\"BASE/\"/><launcher lastVersion=\"" + QByteArray(launcher ? "1.3" : "1.2") +
           "\"" + checkOf("new launcher") + "><file name=\"x.dll\"" + checkOf("new library") +
           "/></launcher><images lastVersion=\"" + (phase == "images" ? "v2" : "v1") +
           "\"><file name=\"a.png\"" + checkOf("new picture") +
           "/></images><servers><server id=\"1\" name=\"Um\" executable=\"jogo.exe\">" +
           "<file name=\"jogo.dat\" lastVersion=\"" + (phase == "client files" ? "2" : "1") + "\"" +
           checkOf("new client") + "/></server></servers>";
}

using Arrangement = std::function<void(LauncherScene &, const QString &outside)>;

// How the server, the list or the folder misbehave, and what the player then
// sees. Every trial starts with server 1 installed and current.
struct Misbehaviour {
    QByteArray what;
    bool clickServer;
    const char *caption;
    QStringList boxes;
    QByteArrayList requested; // besides the list
    Arrangement arrange;
    Arrangement afterwards = {}; // what more the trial shows
    QString status = {};         // how the status line begins, when it matters
    int withinMs = 0;            // 0: no bound
};

// Publishes the list and files on the server, then arranges the rest.
Arrangement publishing(const QByteArray &list, const std::map<QString, QByteArray> &files = {},
                       const Arrangement &more = {})
{
    return [=](LauncherScene &scene, const QString &outside) {
        scene.publishList(list);
        for (const auto &[path, bytes] : files)
            scene.publish(path, bytes);
        if (more)
            more(scene, outside);
    };
}

Arrangement replying(const QByteArray &path, const TestHttpServer::Reply &reply)
{
    return [=](LauncherScene &scene, const QString &) { scene.server.setReply(path, reply); };
}

// A link at a place of the game folder, to a place outside it.
Arrangement linking(const QString &at, const QString &toOutside)
{
    return [=](LauncherScene &, const QString &outside) {
        QFile::remove(at);
        QVERIFY(QFile::link(outside + toOutside, at));
    };
}

// A new version of what the phase fetches; the release is complete on the server but for the fault.
Arrangement faultIn(const QByteArray &phase, const QByteArray &path, int status, qint64 cutAt = -1,
                    bool stalls = false)
{
    TestHttpServer::Reply fault = answer(status, "new picture, new launcher, new client", {}, cutAt);
    fault.stalls = stalls;
    return publishing(listFor(phase),
                      {{"imagens/a.png", "new picture"},
                       {"launcher/launcher.exe", "new launcher"},
                       {"launcher/x.dll", "new library"},
                       {"clientes/jogo.dat", "new client"}},
                      replying(path, fault));
}

std::vector<Misbehaviour> misbehaviours()
{
    const QByteArray list = "/launcher.xml", png = "/imagens/a.png", dll = "/launcher/x.dll",
                     build = "/launcher/launcher.exe";
    const Arrangement noLinks = [](LauncherScene &scene, const QString &) {
        QTest::mouseClick(scene.widget<QLabel>("img_background"), Qt::LeftButton);
        QVERIFY(scene.opened.links.isEmpty());
    };
    // clang-format off
    std::vector<Misbehaviour> trials{
        // Its whole time limit: no passing fault, no second try.
        {"the list trickled above its time limit", false, "Um (Jogar)", {transferError(28), listNotFetched}, {},
         replying(list, slowReply(listWith("<!--" + QByteArray(30000, '-') + "-->"), 400, 100))},
        {"a client body far longer than the list says", true, "Um (Atualizar)", {contentMismatch, clientFileFailed},
         {"/clientes/grande.dat", "/clientes/grande.dat"}, // the second past any cache
         publishing(listWith("<file name=\"grande.dat\" lastVersion=\"1\" size=\"10\"/>"), {},
                    replying("/clientes/grande.dat", slowReply(QByteArray(8 << 20, 'x'), 64 << 10, 50))),
         {}, {}, 3000},
        {"names the operator encoded, and one with a space", true, "Um (Jogar)", {},
         {"/clientes/a%20b.pak", "/clientes/c%20d.pak"},
         publishing(listWith("<file name=\"a%20b.pak\" lastVersion=\"1\"/><file name=\"c d.pak\" lastVersion=\"1\"/>"),
                    {{"clientes/a%20b.pak", "a"}, {"clientes/c%20d.pak", "c"}})},
        {"imagens/ a link to another folder", false, "Um (Jogar)", {inUse}, {"/imagens/p.png"},
         publishing(listWith({}) + picture, {{"imagens/p.png", "png"}}, [](LauncherScene &scene, const QString &outside) {
             QDir("imagens").removeRecursively();
             linking("imagens", "/pasta")(scene, outside);
         })},
        {"config.xml a link to another file", false, "Um (Instalar)", {configLocked}, {},
         publishing(listWith({}), {}, linking("config.xml", "/segredo.txt")),
         [](LauncherScene &, const QString &) { QVERIFY(!QFile::exists("config.xml.bad")); }},
        {"the client a link out of the game folder", true, "Um (Jogar)", {}, {},
         publishing(listWith({}), {}, [](LauncherScene &scene, const QString &outside) {
             linking("clientes/jogo.exe", "/segredo.txt")(scene, outside);
             setPlatform(nullptr); // the operating system's own start
         })},
        {"a picture of 10000 x 10000 pixels", false, "Um (Jogar)", {}, {"/imagens/p.png", "/imagens/q.png"},
         publishing(listWith({}) + QByteArray(picture).replace("</images>", "<file name=\"q.png\"/></images>"),
                    {{"imagens/p.png", pictureFile(10000, 10000)}, {"imagens/q.png", pictureFile(10, 10)}}),
         [](LauncherScene &scene, const QString &) { // never decoded: the carousel shows the other one
             QCOMPARE(scene.widget<QLabel>("img_background")->pixmap(Qt::ReturnByValue).size(), QSize(10, 10));
         }},
        {"a server name in HTML", true, "<img src=\"imagens/a.png\">Um (Jogar)", {}, {"/clientes/novo.dat"},
         publishing(listWith(newFile).replace("name=\"Um\"", "name=\"&lt;img src=&quot;imagens/a.png&quot;&gt;Um\""),
                    {{"clientes/novo.dat", QByteArray(300000, 'n')}}),
         [](LauncherScene &scene, const QString &) {
             QCOMPARE(scene.widget<QLabel>("label_status")->textFormat(), Qt::PlainText);
         }},
        // Every form of such a name is tried on its own; here, that each place refuses one.
        {"names that leave their folder", true, "Um (Atualizar)",
         {refusedName("../../fora.png"), refusedName("/tmp/x"), clientFileFailed}, {},
         publishing(listWith("<file name=\"/tmp/x\" lastVersion=\"1\"/>") +
                    QByteArray(picture).replace("p.png", "../../fora.png"))},
        {"an executable that leaves its folder", true, "Um (Jogar)", {refusedName("../../bin/sh")}, {},
         publishing(listWith({}).replace("jogo.exe", "../../bin/sh"))},
        {"a size no file can have", true, "Um (Atualizar)", {refusedName("grande.dat"), clientFileFailed}, {},
         publishing(listWith("<file name=\"grande.dat\" lastVersion=\"1\" size=\"9007199254740993\"/>"))},
        {"launcher.log a link to a file outside", false, "Um (Jogar)", {}, {},
         publishing(listWith({}), {}, linking("launcher.log", "/segredo.txt"))},
        // Opening any of them for reading or writing would wait for ever.
        {"FIFOs as the log, a resume record and a due empty file", true, "Um (Jogar)", {},
         {"/clientes/novo.dat", "/clientes/vazio.dat"},
         publishing(listWith(newFile + "<file name=\"vazio.dat\" lastVersion=\"1\"" + checkOf({}) + "/>"),
                    {{"clientes/novo.dat", "novo"}, {"clientes/vazio.dat", {}}}, [](LauncherScene &, const QString &) {
             for (const char *planted : {"launcher.log", "clientes/novo.dat.~part.resume", "clientes/vazio.dat"}) {
                 QFile::remove(QLatin1String(planted));
                 QVERIFY(makeFifo(planted));
             }
         })},
        {"a download address of another protocol", true, "Um (Atualizar)", {transferError(1), clientFileFailed}, {},
         [](LauncherScene &scene, const QString &outside) {
             scene.publishList(listWith(newFile).replace("BASE/", "file://" + QFile::encodeName(outside) + '/'));
             QDir(outside).mkdir("clientes");
             writeFileBytes(outside + "/clientes/novo.dat", "de fora");
         }},
        {"a run after update mode failed: no new build offered again", false, "Um (Jogar)", {launcherNotReplaced}, {},
         publishing(listWith({}, "<launcher lastVersion=\"1.3\"/>"), {{"launcher/launcher.exe", "new build"}},
                    [](LauncherScene &scene, const QString &) {
                        scene.window = std::make_unique<MainWindow>(nullptr, scene.transferPolicy);
                        scene.window->noteFailedSelfUpdate();
                    }), {}, launcherNotUpdated},
        {"images: cut off", false, "Um (Jogar)", {transferError(18)}, {png, png, png, png},
         faultIn("images", png, 200, 5), {}, loadedSuccessfully},
        {"launcher build: 404", false, "Um (Jogar)", {launcherUpdate, serverError(404)}, {build, dll},
         faultIn("launcher build", build, 404), {}, launcherNotUpdated},
        {"launcher files: stalled", false, "Um (Jogar)", {launcherUpdate, transferError(28)}, {build, dll, dll, dll, dll},
         faultIn("launcher files", dll, 200, 0, true), {}, launcherFileFailed},
        // A server action leaves its last progress text standing.
        {"client files: bytes unlike the list's", true, "Um (Instalar)", {contentMismatch, clientFileFailed},
         {"/clientes/jogo.dat", "/clientes/jogo.dat"}, faultIn("client files", "/clientes/jogo.dat", 200), {}, "Baixando Um | Velocidade "},
    };
    // A launcher file would land beside config.xml and the launcher itself, or among the servers' files.
    for (const char *name : {"config.xml", "./CONFIG.XML. ", "config.xml.bad", "launcher.exe", "newLauncher.exe", "launcher.ini",
                             "x.dll.~part.etag", "clientes/jogo.dat", "Imagens/a.png"})
        trials.push_back({"a launcher file named \"" + QByteArray(name) + '"', false, "Um (Jogar)",
                          {launcherUpdate, refusedName(name)}, {build},
                          publishing(listWith({}, "<launcher lastVersion=\"1.3\"><file name=\"" + QByteArray(name) +
                                                      "\"/></launcher>"), {{"launcher/launcher.exe", "new build"}})});
    // Links planted by a local user who may write in the game folder.
    for (const char *partial : {"clientes/novo.dat.~part", "config.xml.~part"})
        trials.push_back({"a link planted at " + QByteArray(partial), true, "Um (Jogar)", {}, {"/clientes/novo.dat"},
                          publishing(listWith(newFile), {{"clientes/novo.dat", "novo"}},
                                     linking(QLatin1String(partial), "/segredo.txt")),
                          [](LauncherScene &, const QString &) {
                              QCOMPARE(readFileBytes("clientes/novo.dat"), QByteArray("novo"));
                          }});
    // Values of the list that reach the desktop.
    for (const char *href : {"file:///etc/passwd", "javascript:alert(1)", "file:clientes/jogo.exe"})
        trials.push_back({"a picture linked to " + QByteArray(href), false, "Um (Jogar)", {}, {"/imagens/p.png"},
                          publishing(listWith({}) + QByteArray(picture).replace("https://x", href),
                                     {{"imagens/p.png", pictureFile(10, 10)}}),
                          noLinks});
    // A recorded empty file whose size alone would pass for it, checked by a repair.
    const QByteArray emptyRecorded = "<file name=\"vazio.dat\" installedVersion=\"1\" lastVersion=\"1\"/>";
    trials.push_back({"a FIFO as an empty client file under repair", false, "Um (Jogar)", {}, {},
                      publishing(listWith("<file name=\"vazio.dat\" lastVersion=\"1\"" + checkOf({}) + "/>"),
                                 {{"clientes/vazio.dat", {}}}, [=](LauncherScene &, const QString &) {
                                     writeFileBytes("config.xml",
                                                    configBytes().replace("</server>", emptyRecorded + "</server>"));
                                     QVERIFY(makeFifo("clientes/vazio.dat"));
                                 }),
                      [](LauncherScene &scene, const QString &) {
                          scene.window->findChild<QAction *>("repair_server_1")->trigger();
                          QCOMPARE(scene.status(), filesRepaired("Um"));
                          QVERIFY(QFileInfo("clientes/vazio.dat").isFile());
                      }});
    // clang-format on
    return trials;
}

} // namespace

class HostileTest : public QObject
{
    Q_OBJECT

private slots:
    void namesThatWouldLeaveTheirFolderAreRefused()
    {
        // Separated by spaces here, but for the last few.
        QByteArrayList hostile =
            QByteArray(".. ../x ../../x a/../../x a/.. ./../x ..\\x a\\..\\..\\x /etc/passwd "
                       "\\windows\\x //servidor/x \\\\servidor\\x C: C:\\x C:x c:/x x.exe.~part")
                .split(' ');
        hostile += QByteArrayList{"a\nb", "a\tb", "a\x01", "a\x7f", ""};
        for (const QByteArray &name : hostile)
            QVERIFY2(!isSafeRelativeName(name), name.toPercentEncoding().constData());
        for (const char *name : {"a.exe", "promo/x.png", "a..b", "..a", "a b;c&&$(d).exe", "C"})
            QVERIFY2(isSafeRelativeName(name), name);
        reportReliability("hostile names", "traversal, absolute, drive and control forms", hostile.size(),
                          "every one refused before any request");
    }

    void misbehavingServersAndFoldersLoseNothing_data() { addTableRows(misbehaviours()); }

    void misbehavingServersAndFoldersLoseNothing()
    {
        const Misbehaviour misbehaviour = currentRow(misbehaviours());
#ifdef Q_OS_WIN
        // Windows has no FIFOs, and what QFile::link makes there is a shortcut, a file like any other.
        if (misbehaviour.what.contains("FIFO") || misbehaviour.what.contains("a link "))
            QSKIP("no FIFOs or links to plant on Windows");
#endif
        LauncherScene scene;
        scene.transferPolicy = testTransferPolicy(1);
        // Installed and current: server 1, one picture, one launcher file.
        writeFileBytes(
            "config.xml",
            "<launcher installedVersion=\"1.2\" lastVersion=\"1.2\"><file name=\"x.dll\"/></launcher>"
            "<images installedVersion=\"v1\" lastVersion=\"v1\"><file name=\"a.png\"/></images>"
            "<servers><server id=\"1\" name=\"Um\" executable=\"jogo.exe\"><file name=\"jogo.dat\" "
            "installedVersion=\"1\" lastVersion=\"1\"/></server></servers>");
        const char *const installedFiles[][2] = {{"clientes/jogo.dat", "old client"},
                                                 {"imagens/a.png", "old picture"},
                                                 {"x.dll", "old library"},
                                                 {"launcher.exe", "old launcher"}};
        for (const auto &[file, bytes] : installedFiles)
            writeFileBytes(QLatin1String(file), bytes);
        // What lies outside the game folder, where planted links lead.
        QTemporaryDir outside;
        writeFileBytes(outside.filePath("segredo.txt"), "segredo");
        QVERIFY(QDir(outside.path()).mkdir("pasta"));
        const QFile::Permissions secretPermissions = QFile::permissions(outside.filePath("segredo.txt"));
        misbehaviour.arrange(scene, outside.path());
        QElapsedTimer clock;
        clock.start();
        scene.startLauncher();
        if (misbehaviour.clickServer)
            scene.clickServer(1);

        QCOMPARE(scene.boxes.texts(), misbehaviour.boxes);
        QCOMPARE(LauncherScene::sorted(scene.requestedPaths()),
                 LauncherScene::sorted(QByteArrayList{"/launcher.xml"} + misbehaviour.requested));
        QCOMPARE(scene.caption(1), QLatin1String(misbehaviour.caption));
        QVERIFY2(scene.status().startsWith(misbehaviour.status), qPrintable(scene.status()));
        QVERIFY2(!misbehaviour.withinMs || clock.elapsed() < misbehaviour.withinMs,
                 qPrintable(QString::number(clock.elapsed())));
        QVERIFY(scene.processEnds.empty() && scene.platform.calls.isEmpty());
        QVERIFY(scene.widget<QWidget>("frame_buttons")->isEnabled() && scene.button(1)->isEnabled());
        // What was installed stays installed, on disk and in config.xml; what failed is not recorded.
        QCOMPARE(partialFilesLeft(), QStringList());
        for (const auto &[file, bytes] : installedFiles)
            QVERIFY2(QFileInfo("imagens").isSymLink() || readFileBytes(QLatin1String(file)) == bytes, file);
        QVERIFY(QFileInfo("config.xml").isSymLink() ||
                configBytes().contains("<file name=\"jogo.dat\" function=\"\" value=\"\" cmd=\"\" "
                                       "installedVersion=\"1\""));
        for (const char *failed : {"installedVersion=\"v2\"", "installedVersion=\"1.3\""})
            QVERIFY2(!configBytes().contains(failed), failed);
        // Nothing outside the game folder was written, changed or made runnable.
        QCOMPARE(readFileBytes(outside.filePath("segredo.txt")), QByteArray("segredo"));
        QCOMPARE(QFile::permissions(outside.filePath("segredo.txt")), secretPermissions);
        QVERIFY(QDir(outside.filePath("pasta")).isEmpty());
        if (misbehaviour.afterwards)
            misbehaviour.afterwards(scene, outside.path());
        reportReliability(
            "misbehaving servers and folders", QString::fromLatin1(misbehaviour.what), 1,
            QStringLiteral("%1 box(es); nothing installed lost").arg(misbehaviour.boxes.size()));
    }

    void anEndlessListIsRefusedAsUnreadable()
    {
        LauncherScene scene;
        {
            QFile list(scene.serverFolder.filePath("launcher.xml"));
            QVERIFY(list.open(QIODevice::WriteOnly) && list.resize(200LL * 1024 * 1024));
        }
#ifdef Q_OS_WIN
        QSKIP("Windows keeps no peak of memory that can be reset");
#endif
        QVERIFY(resetPeakResident());
        const qint64 before = peakResidentKilobytes();
        scene.startLauncher();
        const qint64 growth = peakResidentKilobytes() - before;
        QCOMPARE(scene.boxes.texts(), QStringList{unreadableList});
        QCOMPARE(scene.status(), listNotRead);
#ifdef __SANITIZE_ADDRESS__
        const qint64 bound = 256 * 1024; // freed blocks wait in the sanitizer's quarantine
#else
        const qint64 bound = 64 * 1024;
#endif
        QVERIFY2(growth < bound, qPrintable(QString::number(growth)));
        reportReliability("hostile lists", "a body of 200 MB as the update list", 1,
                          QStringLiteral("stopped at 32 MiB, reported as unreadable; memory grew by %1 MiB")
                              .arg(growth / 1024));
    }
};

LAUNCHER_TEST_MAIN(HostileTest, QApplication)
#include "hostile_test.moc"
