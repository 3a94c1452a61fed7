// The launcher's window against a real update server: the start-up
// synchronisation on each road it can take, signed lists, the server buttons
// installing, updating and playing, the news carousel, the link buttons, and a
// window closed mid-download.

#include "buildconfig.h"
#include "state/configsteps.h"
#include "launcherscene.h"
#include "state/launcherstate.h"
#include "listsignature.h"
#include "listsigner.h"
#include "playertexts.h"
#include "rollout.h"
#include "tablerows.h"
#include "testmain.h"

#include <QLabel>
#include <QProgressBar>
#include <QSpinBox>
#include <QtTest>

namespace {

using namespace PlayerText;

QStringList captions(const LauncherScene &scene)
{
    QStringList result;
    for (int id = 1; id <= 6; ++id)
        result << (scene.button(id)->isEnabled() ? "+" : "-") + scene.caption(id);
    return result;
}

const ListKeyPair operatorKey = generateListKeyPair();
const ListKeyPair strangerKey = generateListKeyPair();
// Offline root keys, which sign the key documents naming the list keys.
const ListKeyPair rootKey = generateListKeyPair();
const ListKeyPair strangerRoot = generateListKeyPair();

// Installed: server 1 with its client at version 1, after a list of serial 20.
const QByteArray installedConfig =
    "<download path=\"http://127.0.0.1:1/\"/><launcher installedVersion=\"1.2\" "
    "lastVersion=\"1.2\"/><servers><server id=\"1\" name=\"Um\" executable=\"um.exe\">"
    "<file name=\"um.exe\" installedVersion=\"1\" lastVersion=\"1\"/></server>"
    "</servers><signedList serial=\"20\" keys=\"5\"/>";

// Offers version 2 of the client; taken, it makes server 1 due again.
const QByteArray newerList =
    "<download path=\"BASE/\"/><launcher lastVersion=\"1.2\"/><servers><server id=\"1\" "
    "name=\"Um\" executable=\"um.exe\"><file name=\"um.exe\" lastVersion=\"2\"/></server>"
    "</servers>";

QByteArray sign(const QByteArray &list, quint64 serial, int days, const ListKeyPair &key = operatorKey)
{
    return *signUpdateList(key.secretKey, list, serial, QDateTime::currentDateTimeUtc().addDays(days));
}

QByteArray keyDocument(quint64 serial, int days, const QByteArrayList &listKeys,
                       const ListKeyPair &root = rootKey)
{
    return *signListKeys(root.secretKey, listKeys, serial, QDateTime::currentDateTimeUtc().addDays(days));
}

// A list the launcher must not take, or (without a box) must take. With a root
// key built in, the key document beside the list names the list keys.
struct UntrustedList {
    const char *what;
    QByteArray list, signature;
    QString box;
    QByteArray keys = operatorKey.publicKey;
    QByteArray keyDocument = {};
    QByteArray root = {};
};

std::vector<UntrustedList> untrustedLists()
{
    const QByteArray list = newerList, unreadable = "<servers><server id=\"1\">",
                     inside = newerList + "<signedList serial=\"99999\"/>";
    const QString refused = listRefused(ListVerdict::BadSignature);
    const QByteArray key = operatorKey.publicKey, root = rootKey.publicKey;
    return {
        {"one byte of the list changed", QByteArray(list).replace("\"2\"", "\"3\""), sign(list, 21, 30),
         refused},
        // A signature that is not there leaves the list as unfetched as a list that is not.
        {"no signature on the server", list, {}, serverError(404) + '|' + listNotFetched},
        {"signed by another key", list, sign(list, 21, 30, strangerKey), refused},
        {"serial raised in the signature file", list, sign(list, 19, 30).replace("serial 19", "serial 29"),
         refused},
        {"expiry pushed back in the signature file", list,
         sign(list, 21, -1).replace("expires 20", "expires 21"), refused},
        {"a signature file too large to be one", list, QByteArray(8192, 's'), refused},
        {"signature file of garbage", list, "serial 21\n\x01\x02", refused},
        {"older than the last one taken", list, sign(list, 19, 30), listRefused(ListVerdict::Rollback)},
        {"expired", list, sign(list, 21, -1), listRefused(ListVerdict::Expired)},
        {"signed but unreadable", unreadable, sign(unreadable, 30, 30), unreadableList},
        // While keys change, a launcher carries both: either signs, and a mistyped key refuses everything.
        {"a mistyped key beside the right one", list, sign(list, 21, 30), refused, key + " bm90IGEga2V5"},
        // A serial in the list itself is no signature's and must not count.
        {"signed, with a serial of its own inside", inside, sign(inside, 21, 30), {}},
        {"the new key, then the old one", list, sign(list, 21, 30), {}, strangerKey.publicKey + ' ' + key},
        // The attacks on a key document, the list key built in the launcher counting for nothing.
        {"a key document rolled back", list, sign(list, 21, 30), refused, key, keyDocument(4, 30, {key}),
         root},
        {"a key document expired: a freeze", list, sign(list, 21, 30), refused, key,
         keyDocument(6, -1, {key}), root},
        {"a key document of another root", list, sign(list, 21, 30), refused, key,
         keyDocument(6, 30, {key}, strangerRoot), root},
        {"a list signed by a revoked key", list, sign(list, 21, 30), refused, key,
         keyDocument(6, 30, {strangerKey.publicKey}), root},
        {"a list with the key document of another time", list, sign(list, 21, 30, strangerKey), refused, key,
         keyDocument(5, 30, {key}), root},
        {"a key document too large to be one", list, sign(list, 21, 30), refused, key, QByteArray(20000, 'k'),
         root},
        {"a launcher five rotations behind",
         list,
         sign(list, 21, 30, strangerKey),
         {},
         key,
         keyDocument(10, 30, {strangerKey.publicKey, key}),
         root},
    };
}

void putPicture(const QString &name, Qt::GlobalColor colour)
{
    QImage picture(8, 6, QImage::Format_RGB32);
    picture.fill(colour);
    QVERIFY(picture.save("imagens/" + name, "PNG"));
}

QColor shownColour(const LauncherScene &scene)
{
    return scene.widget<QLabel>("img_background")->pixmap(Qt::ReturnByValue).toImage().pixelColor(0, 0);
}

} // namespace

class WindowTest : public QObject
{
    Q_OBJECT

private slots:
    void cleanup()
    {
        buildSettings().updateListPublicKey.clear();
        buildSettings().rootPublicKey.clear();
    }

    // The window is shown, then synchronised once; a current server plays on every
    // click, the name of its program handed over whole.
    void everythingCurrentHandsTheWindowToThePlayer()
    {
        LauncherScene scene;
        writeFileBytes(
            "config.xml",
            "<servers><server id=\"3\"><file name=\"a\" installedVersion=\"1\"/></server></servers>");
        scene.publishList(
            "<download path=\"BASE/\"/><launcher lastVersion=\"1.2\"/><servers><server id=\"1\" name=\"Um\"/>"
            "<server id=\"3\" name=\"Tr\xc3\xaas\" executable=\"jogo; touch pwned $(id).exe\">"
            "<file name=\"a\" lastVersion=\"1\"/></server><server id=\"7\" name=\"Sete\"/></servers>");
        QStringList statusWhenLoaded;
        scene.window = std::make_unique<MainWindow>(nullptr, scene.transferPolicy);
        QObject::connect(scene.window.get(), &MainWindow::window_loaded,
                         [&] { statusWhenLoaded << scene.status(); });
        scene.startLauncher();
        QCOMPARE(statusWhenLoaded, QStringList{"Conectando-se ao servidor"});
        QVERIFY(scene.boxes.boxes.empty());
        QCOMPARE(scene.status(), loadedSuccessfully);
        QCOMPARE(captions(scene),
                 QStringList({"+Um (Instalar)", "-Astravel Server 2", QString::fromUtf8("+Três (Jogar)"),
                              "-Tessaro Server 2", "-Astravel OTClient", "-Tessaro OTClient"}));
        for (int click = 0; click < 3; ++click)
            scene.clickServer(3);
        QCOMPARE(scene.platform.calls,
                 QVector<QByteArray>(3, "start clientes|jogo; touch pwned $(id).exe").toList());
        // A server without a button is kept and saved.
        QVERIFY(configBytes().contains("<server id=\"7\" name=\"Sete\""));
        scene.window->hide();
        scene.window->show();
        QCOMPARE(statusWhenLoaded.size(), 2);
        QCOMPARE(scene.requestedPaths(), QByteArrayList{"/launcher.xml"});
    }

    // Without the server the launcher works from its config.xml: its servers, and its
    // pictures taking turns in name order (a.png, a FIFO, skipped), each opening its link.
    void withoutTheServerTheLauncherWorksFromItsConfig()
    {
        LauncherScene scene;
        buildSettings().updateListUrl = "http://127.0.0.1:1/launcher.xml";
        writeFileBytes(
            "config.xml",
            "<images installedVersion=\"1\"><file name=\"d.png\" href=\"http://127.0.0.1/d\"/>"
            "<file name=\"a.png\" href=\"http://a\"/><file name=\"c.png\" href=\"http://127.0.0.1/c\"/>"
            "<file name=\"b.png\" href=\"http://127.0.0.1/b\"/></images>"
            "<servers><server id=\"2\" name=\"Dois\"/></servers>");
        putPicture("b.png", Qt::green);
        putPicture("c.png", Qt::blue);
        putPicture("d.png", Qt::red);
        makeFifo("imagens/a.png"); // not on Windows: there a.png is missing, skipped all the same
        scene.startLauncher();
        QCOMPARE(scene.boxes.texts(), QStringList({transferError(7), listNotFetched}));
        QCOMPARE(scene.boxes.boxes.front().parent, nullptr);
        QCOMPARE(scene.boxes.boxes.back().parent, scene.window.get());
        QCOMPARE(scene.status(), loadedWithoutList);
        QCOMPARE(captions(scene).at(1), "+Dois (Instalar)");
        QCOMPARE(shownColour(scene), QColor(Qt::green));
        // The next picture comes by itself five seconds later; the later turns are taken by hand.
        QTRY_COMPARE_WITH_TIMEOUT(shownColour(scene), QColor(Qt::blue), 6000);
        for (const Qt::GlobalColor colour : {Qt::red, Qt::green, Qt::blue}) {
            QMetaObject::invokeMethod(scene.window.get(), "onTimedImageChange");
            QCOMPARE(shownColour(scene), QColor(colour));
        }
        for (const Qt::MouseButton button : {Qt::LeftButton, Qt::RightButton})
            QTest::mouseClick(scene.widget<QLabel>("img_background"), button);
        QCOMPARE(scene.opened.links, QList<QUrl>({QUrl("http://127.0.0.1/c"), QUrl("http://127.0.0.1/c")}));
    }

    // A new build that will not start is told, and the buttons come back.
    void anotherLauncherVersionHandsOverToTheNewBuild()
    {
        for (const bool starts : {true, false}) {
            LauncherScene scene;
            if (!starts)
                scene.platform.unstartable << "newLauncher.exe";
            writeFileBytes("launcher.exe", "running build");
            QFile::setPermissions("launcher.exe", QFileDevice::Permissions(0x7777));
            // Any difference counts, a trailing zero too.
            scene.publishList(
                "<download path=\"BASE/\"/><launcher lastVersion=\"1.20\"><file name=\"extra.dll\"/>"
                "</launcher><servers><server id=\"1\" name=\"Um\"/></servers>");
            scene.publish("launcher/launcher.exe", "new build");
            scene.publish("launcher/extra.dll", "extra");
            scene.startLauncher();

            QCOMPARE(scene.boxes.texts(),
                     QStringList({launcherUpdate, launcherNotReplaced}).mid(0, starts ? 1 : 2));
            QVERIFY(scene.boxes.boxes.front().icon == MessageBoxRequest::Icon::Information &&
                    scene.boxes.boxes.front().title == launcherUpdateTitle);
            QCOMPARE(readFileBytes("newLauncher.exe"), QByteArray("new build"));
            QCOMPARE(readFileBytes("extra.dll"), QByteArray("extra"));
#ifndef Q_OS_WIN // where files have permissions for group and others
            for (const char *file : {"newLauncher.exe", "launcher.exe"})
                QCOMPARE(QFile::permissions(QLatin1String(file)) & ~QFileDevice::Permissions(0x0700),
                         QFileDevice::Permissions(0x7055)); // rwxr-xr-x, the user bits aside
#endif
            QCOMPARE(scene.platform.calls, QByteArrayList{"start |newLauncher.exe|-update"});
            QCOMPARE(scene.processEnds, std::vector<int>(starts ? 1 : 0, 1));
            // The process ends here: the buttons are never handed over.
            QCOMPARE(scene.widget<QWidget>("frame_buttons")->isEnabled(), !starts);
            QVERIFY(starts || scene.status() == launcherNotUpdated);
        }
    }

    void anUntrustedListChangesNothing_data()
    {
        addTableRows(untrustedLists());
    }

    void anUntrustedListChangesNothing()
    {
        const auto [what, list, signature, box, keys, keyDocument, root] = currentRow(untrustedLists());
        buildSettings().updateListPublicKey = keys;
        buildSettings().rootPublicKey = root;
        LauncherScene scene;
        writeFileBytes("config.xml", installedConfig);
        LauncherState installed;
        loadConfigAndTell(installed); // written again in the launcher's own layout
        const QByteArray config = configBytes();
        writeFileBytes("clientes/um.exe", "version 1");
        // Signed over the list with its base address unreplaced, as the server holds it.
        scene.publish("launcher.xml", list);
        if (!signature.isEmpty())
            scene.publish("launcher.xml.sig", signature);
        scene.publish("launcher.xml.keys", keyDocument);
        scene.publish("clientes/um.exe", "version 2");
        scene.startLauncher();

        QCOMPARE(scene.boxes.texts().join('|'), box);
        QCOMPARE(scene.requestedPaths(),
                 QByteArrayList({"/launcher.xml", "/launcher.xml.sig", "/launcher.xml.keys"})
                     .mid(0, root.isEmpty() || signature.isEmpty() ? 2 : 3));
        QCOMPARE(readFileBytes("clientes/um.exe"), QByteArray("version 1"));
        QVERIFY(scene.widget<QWidget>("frame_buttons")->isEnabled());
        if (box.isEmpty()) { // taken, with the signature's serial: the same list is good at the next start
                             // too
            QVERIFY(configBytes().endsWith("</servers>\n<signedList serial=\"21\" keys=\"" +
                                           QByteArray(root.isEmpty() ? "5" : "10") + "\" />\n"));
            scene.window.reset();
            scene.startLauncher();
            QVERIFY(scene.boxes.boxes.empty());
            QCOMPARE(scene.caption(1), serverCaption("Um", ServerStatus::Install));
            return;
        }
        QCOMPARE(scene.status(), signature.isEmpty() ? loadedWithoutList : listNotRead);
        QCOMPARE(configBytes(), config);
        QCOMPARE(scene.caption(1), serverCaption("Um", ServerStatus::Play));
    }

    // A release rolled out to 10% is taken by the installations whose bucket is
    // below 1,000 of 10,000, each bucket drawn once and kept; the others keep the
    // release the list carries; a halt (0%) takes everyone back at the next start.
    // A tester's channel is a list of its own.
    void aRolloutReachesItsShare()
    {
        int taking = 0;
        for (int bucket = 0; bucket < rolloutBuckets; ++bucket)
            taking += takesRelease(bucket, 10);
        QCOMPARE(taking, rolloutBuckets / 10);

        const QByteArray olderList = QByteArray(newerList).replace("lastVersion=\"2\"", "lastVersion=\"1\"");
        LauncherScene scene;
        writeFileBytes("config.xml", installedConfig);
        writeFileBytes("clientes/um.exe", "version 1");
        const auto startWith = [&](int percent, const QByteArray &settings) {
            scene.publish("launcher.xml", withRollout(newerList, percent, olderList));
            writeFileBytes("launcher.ini", settings);
            scene.window.reset();
            scene.startLauncher();
            return scene.caption(1) == serverCaption("Um", ServerStatus::Install);
        };
        QVERIFY(startWith(10, "grupo_de_lancamento=999\n"));
        QVERIFY(!startWith(10, "grupo_de_lancamento=1000\n"));
        QVERIFY(startWith(10, "grupo_de_lancamento=999\n"));
        QVERIFY(!startWith(0, "grupo_de_lancamento=999\n"));
        // Drawn at the first rollout met, and the same at every start after it.
        startWith(10, "");
        const QByteArray drawn = readFileBytes("launcher.ini");
        QVERIFY2(drawn.startsWith("limite_kb_por_segundo=0\ngrupo_de_lancamento="), drawn.constData());
        scene.window.reset();
        scene.startLauncher();
        QCOMPARE(readFileBytes("launcher.ini"), drawn);
        QVERIFY(scene.boxes.boxes.empty());

        scene.publish("launcher-teste.xml", newerList);
        writeFileBytes("launcher.ini", "canal=teste\n");
        scene.window.reset();
        scene.startLauncher();
        QCOMPARE(scene.requestedPaths().last(), QByteArray("/launcher-teste.xml"));
        QCOMPARE(scene.caption(1), serverCaption("Um", ServerStatus::Install));
    }

    // The operator's word holds to the second: expired at the moment written.
    void expiryHoldsExactly()
    {
        const QByteArray list = "<launcher/>", signature = sign(list, 20, 1);
        const QDateTime atExpiry = parseListSignature(signature)->expires;
        QCOMPARE(verifyUpdateList(operatorKey.publicKey, list, signature, 20, atExpiry.addMSecs(-1)),
                 ListVerdict::Accepted);
        QCOMPARE(verifyUpdateList(operatorKey.publicKey, list, signature, 20, atExpiry),
                 ListVerdict::Expired);
    }

    // Files fetched side by side are put in place in their order, each file's action
    // right after it: the first failure stops the commits, and a large file still
    // arriving stays as a partial file that the next click continues.
    // The player pauses an install and sets a speed limit with the keyboard alone:
    // nothing more arrives, the stall limit does not count the pause, the window
    // says so. Closing the window keeps the partial file and the limit; the next
    // start offers to continue, and a click continues from the kept bytes, running
    // no command twice.
    void aPausedInstallContinuesAfterARestart()
    {
        LauncherScene scene;
        scene.transferPolicy = testTransferPolicy(1);
        const QByteArray large = randomBytes(3 << 20, 5);
        scene.publishList(
            "<download path=\"BASE/\"/><launcher lastVersion=\"1.2\"/><servers><server id=\"2\" "
            "name=\"Dois\" executable=\"f2\"><file name=\"f1\" lastVersion=\"1\" cmd=\"echo f1\"/>"
            "<file name=\"f2\" lastVersion=\"1\" size=\"" +
            QByteArray::number(large.size()) + "\" sha256=\"" + sha256Hex(large) + "\"/></server></servers>");
        scene.publish("clientes/f1", "f1");
        TestHttpServer::Reply arriving = slowReply(large, 64 << 10, 40);
        arriving.etag = "\"f2\"";
        scene.server.setReply("/clientes/f2", arriving);
        writeFileBytes("launcher.ini", "grupo_de_lancamento=5\n"); // kept by the limit's save
        scene.startLauncher();
        auto *pause = scene.widget<QPushButton>("button_pause");
        auto *limit = scene.widget<QSpinBox>("spin_speed_limit");
        QVERIFY(!pause->isVisible());
        QCOMPARE(limit->accessibleName(), speedLimitName);

        const auto keptBytes = [] { return QFileInfo("clientes/f2.~part").size(); };
        qint64 keptAtPause = -1, keptAtClose = -1;
        bool pressed = false;
        QString pausedStatus, pausedBar;
        QTimer player;
        QObject::connect(&player, &QTimer::timeout, [&] {
            if (pressed || keptBytes() < (512 << 10))
                return;
            pressed = true;
            QCOMPARE(pause->accessibleName(), pauseActionName);
            scene.window->activateWindow();
            QTest::keyClick(scene.window.get(), Qt::Key_Tab);
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_PageUp); // the limit: 10 steps up
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
            QTimer::singleShot(200, [&] { keptAtPause = keptBytes(); });
            QTimer::singleShot(2500, [&] {
                keptAtClose = keptBytes();
                pausedStatus = scene.status();
                pausedBar = scene.widget<QProgressBar>("action_progressBar")->text();
                QCOMPARE(pause->accessibleName(), resumeActionName);
                scene.window->close();
            });
        });
        player.start(5);
        scene.clickServer(2);
        player.stop();
        QCOMPARE(keptAtClose, keptAtPause);
        QVERIFY2(pausedStatus.startsWith(QLatin1String("Pausado Dois | ")), qPrintable(pausedStatus));
        QVERIFY2(pausedBar.startsWith(QLatin1String("Pausado (")), qPrintable(pausedBar));
        QCOMPARE(readFileBytes("launcher.ini"),
                 QByteArray("limite_kb_por_segundo=2560\ngrupo_de_lancamento=5\n"));
        QCOMPARE(scene.platform.calls, QByteArrayList({"run echo f1"}));
        QVERIFY(
            configBytes().contains("f1\" function=\"\" value=\"\" cmd=\"echo f1\" installedVersion=\"1\""));

        scene.window.reset();
        scene.startLauncher();
        QCOMPARE(scene.caption(2), serverCaption("Dois", ServerStatus::Continue));
        QCOMPARE(scene.widget<QSpinBox>("spin_speed_limit")->value(), 2560);
        const qint64 kept = keptBytes();
        scene.clickServer(2);
        QByteArrayList ranges;
        for (const TestHttpServer::Request &request : scene.server.requests())
            if (request.path == "/clientes/f2")
                ranges << request.range;
        QCOMPARE(ranges, QByteArrayList({"", "bytes=" + QByteArray::number(kept) + '-'}));
        QCOMPARE(readFileBytes("clientes/f2"), large);
        QCOMPARE(scene.platform.calls, QByteArrayList({"run echo f1"}));
        QCOMPARE(scene.caption(2), serverCaption("Dois", ServerStatus::Play));
        QVERIFY(!scene.widget<QPushButton>("button_pause")->isVisible());
    }

    void aFailedFileKeepsTheFilesCommittedBeforeIt()
    {
        LauncherScene scene;
        const QByteArray large = randomBytes(2 << 20, 3);
        const auto file = [](const char *name, const QByteArray &bytes, const char *more = "") {
            return "<file name=\"" + QByteArray(name) + "\" lastVersion=\"1\" size=\"" +
                   QByteArray::number(bytes.size()) + "\" sha256=\"" + sha256Hex(bytes) + "\" " + more + "/>";
        };
        scene.publishList(
            "<download path=\"BASE/\"/><launcher lastVersion=\"1.2\"/><servers><server id=\"2\" "
            "name=\"Dois\" executable=\"f2\">" +
            file("f1", "f1", "cmd=\"echo f1\"") + file("f2", "f2") + file("f3", "f3", "cmd=\"echo f3\"") +
            file("f4", "f4", "function=\"exec\"") + file("f5", large) +
            "</server><server id=\"3\" name=\"Tres\"><file name=\"enorme.pak\" lastVersion=\"1\" "
            "size=\"9000000000000000\"/></server></servers>");
        for (const char *name : {"f1", "f4"})
            scene.publish("clientes/" + QLatin1String(name), name);
        writeFileBytes("clientes/f2", "f2"); // already there from an earlier try
        TestHttpServer::Reply missing = slowReply("0123456789", 5, 300),
                              arriving = slowReply(large, 64 << 10, 40);
        missing.status = 404;
        arriving.etag = "\"f5\"";
        scene.server.setReplies("/clientes/f3", {missing, answer(200, "f3")});
        scene.server.setReply("/clientes/f5", arriving);
        scene.startLauncher();

        scene.clickServer(2);
        QCOMPARE(scene.boxes.texts(),
                 QStringList({PlayerText::serverError(404), PlayerText::clientFileFailed}));
        QCOMPARE(scene.boxes.boxes.back().parent, scene.window.get());
        // Fetched side by side, committed in order: f4 arrived but is not in place.
        QCOMPARE(LauncherScene::sorted(scene.requestedPaths()),
                 QByteArrayList(
                     {"/clientes/f1", "/clientes/f3", "/clientes/f4", "/clientes/f5", "/launcher.xml"}));
        for (const char *recorded : {"f2\" function=\"\" value=\"\" cmd=\"\" installedVersion=\"1\"",
                                     "f3\" function=\"\" value=\"\" cmd=\"echo f3\" installedVersion=\"\"",
                                     "f4\" function=\"exec\" value=\"\" cmd=\"\" installedVersion=\"\""})
            QVERIFY2(configBytes().contains(recorded), recorded);
        QVERIFY(!QFile::exists("clientes/f4") && !QFile::exists("clientes/f5"));
        const qint64 kept = QFileInfo("clientes/f5.~part").size();
        QVERIFY2(kept > 0 && kept < large.size(), qPrintable(QString::number(kept)));
        QCOMPARE(scene.caption(2), serverCaption("Dois", ServerStatus::Continue));
        QVERIFY(scene.button(2)->isEnabled());

        // The next click fetches from f3 on and continues f5; f1's command does not run again,
        // the game itself is not started.
        scene.clickServer(2);
        QCOMPARE(LauncherScene::sorted(scene.requestedPaths().mid(5)),
                 QByteArrayList({"/clientes/f3", "/clientes/f4", "/clientes/f5"}));
        QByteArrayList rangesOfF5;
        for (const TestHttpServer::Request &request : scene.server.requests())
            if (request.path == "/clientes/f5")
                rangesOfF5 << request.range;
        QCOMPARE(rangesOfF5, QByteArrayList({"", "bytes=" + QByteArray::number(kept) + '-'}));
        QCOMPARE(readFileBytes("clientes/f5"), large);
        QCOMPARE(scene.platform.calls, QByteArrayList({"run echo f1", "run echo f3", "start clientes|f4|"}));
        // What an action ran after is recorded before the next one runs.
        QVERIFY(scene.platform.configs.at(2).contains(
            "f3\" function=\"\" value=\"\" cmd=\"echo f3\" installedVersion=\"1\""));
        QCOMPARE(scene.caption(2), serverCaption("Dois", ServerStatus::Play));

        // More than the disk holds is told before anything is fetched.
        scene.clickServer(3);
        QVERIFY2(scene.boxes.texts().last().startsWith(QString::fromUtf8(
                     "Não há espaço livre suficiente no disco: são necessários 8583068848 MB")),
                 qPrintable(scene.boxes.texts().last()));
        QCOMPARE(scene.requestedPaths().size(), 8);
    }

    // During a download the link buttons still open their own addresses, and a window
    // closed then ends the process quietly, nothing half fetched left or recorded.
    void duringADownloadLinksOpenAndClosingEndsQuietly()
    {
        LauncherScene scene;
        // Server 1 has one client file that arrives in pieces of 1000 bytes, 50 ms apart.
        scene.publishList("<download path=\"BASE/\"/><launcher lastVersion=\"1.2\"/>"
                          "<servers><server id=\"1\" name=\"Um\"><file name=\"big\" "
                          "lastVersion=\"1\"/></server></servers>");
        scene.server.setReply("/clientes/big", slowReply(QByteArray(200000, 'x'), 1000, 50));
        scene.startLauncher();
        const QByteArray before = configBytes();
        const std::pair<const char *, QByteArray> buttons[] = {
            {"button_url_facebook_zev", buildSettings().facebookZevUrl},
            {"button_url_facebook_mir", buildSettings().facebookMirUrl},
            {"button_url_zev_1", buildSettings().siteZev1Url},
            {"button_url_zev_2", buildSettings().siteZev2Url},
            {"button_url_mir_1", buildSettings().siteMir1Url},
            {"button_url_mir_2", buildSettings().siteMir2Url},
        };
        // Clicked once the download has taken the server buttons; the window closed soon after.
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (scene.widget<QWidget>("frame_buttons")->isEnabled() || !scene.opened.links.isEmpty())
                return;
            for (const auto &[name, address] : buttons)
                QTest::mouseClick(scene.widget<QPushButton>(name), Qt::LeftButton);
            QTimer::singleShot(300, [&] { scene.window->close(); });
        });
        poll.start(10);
        QTimer::singleShot(0, [&] { QTest::mouseClick(scene.button(1), Qt::LeftButton); });
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(QApplication::exec(), 0);
        QVERIFY(clock.elapsed() < 2500);
        QList<QUrl> expected;
        for (const auto &[name, address] : buttons)
            expected << QUrl(QString::fromUtf8(address));
        QCOMPARE(scene.opened.links, expected);
        QVERIFY(scene.boxes.boxes.empty());
        QCOMPARE(configBytes(), before);
        QVERIFY(QDir("clientes").isEmpty());
    }
};

LAUNCHER_TEST_MAIN(WindowTest, QApplication)
#include "window_test.moc"
