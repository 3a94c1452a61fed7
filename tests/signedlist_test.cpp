// A launcher built with the operator's public key: which update lists it takes,
// and that a refused one changes nothing on the player's machine.

#include "configsteps.h"
#include "launcherscene.h"

#include "buildconfig.h"
#include "launcherstate.h"
#include "listsignature.h"
#include "listsigner.h"
#include "playertexts.h"

#include <QPushButton>
#include <QtTest>

namespace {

const ListKeyPair operatorKey = generateListKeyPair();
const ListKeyPair strangerKey = generateListKeyPair();

// Installed: server 1 with its client at version 1, after a list of serial 20.
const QByteArray installedConfig = "<download path=\"http://127.0.0.1:1/\"/>"
                                   "<launcher installedVersion=\"1.2\" lastVersion=\"1.2\"/>"
                                   "<servers><server id=\"1\" name=\"Um\" executable=\"um.exe\">"
                                   "<file name=\"um.exe\" installedVersion=\"1\" lastVersion=\"1\"/>"
                                   "</server></servers><signedList serial=\"20\"/>";

// Offers version 2 of the client; taken, it makes server 1 due again.
const QByteArray newerList = "<download path=\"BASE/\"/><launcher lastVersion=\"1.2\"/>"
                             "<servers><server id=\"1\" name=\"Um\" executable=\"um.exe\">"
                             "<file name=\"um.exe\" lastVersion=\"2\"/></server></servers>";

QDateTime inDays(int days)
{
    return QDateTime::currentDateTimeUtc().addDays(days);
}

QByteArray sign(const QByteArray &list, quint64 serial, const QDateTime &expires,
                const ListKeyPair &key = operatorKey)
{
    return *signUpdateList(key.secretKey, list, serial, expires);
}

// Writes config.xml in the layout the launcher itself writes, and returns it.
QByteArray installConfig(const QByteArray &config)
{
    writeFileBytes(QStringLiteral("config.xml"), config);
    LauncherState state;
    loadConfigAndTell(state);
    return readFileBytes(QStringLiteral("config.xml"));
}

QString serverCaption(const LauncherScene &scene)
{
    return scene.widget<QPushButton>("button_server_1")->text();
}

const QString badSignature = PlayerText::listRefused(ListVerdict::BadSignature);

} // namespace

class SignedListTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { buildSettings().updateListPublicKey = operatorKey.publicKey; }
    void cleanup() { buildSettings().updateListPublicKey.clear(); }

    void aSignedListIsTakenAndItsSerialRemembered()
    {
        LauncherScene scene;
        installConfig(installedConfig);
        // A serial in the list itself is no signature's and must not count.
        const QByteArray list =
            QByteArray(newerList).replace("BASE/", scene.base()) + "<signedList serial=\"99999\"/>";
        scene.publish(QStringLiteral("launcher.xml"), list);
        scene.publish(QStringLiteral("launcher.xml.sig"), sign(list, 21, inDays(30)));
        scene.startLauncher();

        QCOMPARE(scene.boxes.texts(), QStringList());
        QCOMPARE(scene.status(), PlayerText::loadedSuccessfully);
        QCOMPARE(serverCaption(scene), PlayerText::serverCaption("Um", ServerStatus::Install));
        QCOMPARE(scene.requestedPaths(), QByteArrayList({"/launcher.xml", "/launcher.xml.sig"}));
        QVERIFY(readFileBytes(QStringLiteral("config.xml"))
                    .endsWith("</servers>\n<signedList serial=\"21\" />\n"));

        // The same list at the next start is still good.
        scene.window.reset();
        scene.startLauncher();
        QCOMPARE(scene.boxes.texts(), QStringList());
        QVERIFY(readFileBytes(QStringLiteral("config.xml")).contains("<signedList serial=\"21\" />"));
    }

    void anUntrustedListChangesNothing_data()
    {
        QTest::addColumn<QByteArray>("list");
        QTest::addColumn<QByteArray>("signature");
        QTest::addColumn<QString>("box");

        const QByteArray list = newerList;
        const QString refused = badSignature;
        QTest::newRow("one byte of the list changed")
            << QByteArray(list).replace("lastVersion=\"2\"", "lastVersion=\"3\"")
            << sign(list, 21, inDays(30)) << refused;
        // A signature that is not there leaves the list as unfetched as a list that is not.
        QTest::newRow("no signature on the server")
            << list << QByteArray()
            << PlayerText::serverError(404) + QLatin1Char('|') + PlayerText::listNotFetched;
        QTest::newRow("signed by another key") << list << sign(list, 21, inDays(30), strangerKey) << refused;
        QTest::newRow("serial raised in the signature file")
            << list << sign(list, 19, inDays(30)).replace("serial 19", "serial 29") << refused;
        QTest::newRow("expiry pushed back in the signature file")
            << list << QByteArray(sign(list, 21, inDays(-1))).replace("expires 20", "expires 21") << refused;
        QTest::newRow("signature file of garbage") << list << QByteArray("serial 21\n\x01\x02") << refused;
        QTest::newRow("older than the last one taken")
            << list << sign(list, 19, inDays(30)) << PlayerText::listRefused(ListVerdict::Rollback);
        QTest::newRow("expired") << list << sign(list, 21, inDays(-1))
                                 << PlayerText::listRefused(ListVerdict::Expired);
    }

    void anUntrustedListChangesNothing()
    {
        QFETCH(QByteArray, list);
        QFETCH(QByteArray, signature);
        QFETCH(QString, box);

        LauncherScene scene;
        const QByteArray config = installConfig(installedConfig);
        writeFileBytes(QStringLiteral("clientes/um.exe"), "version 1");
        // The signatures above were made over the list with its base address
        // unreplaced, and the server holds exactly those bytes.
        scene.publish(QStringLiteral("launcher.xml"), list);
        if (!signature.isEmpty())
            scene.publish(QStringLiteral("launcher.xml.sig"), signature);
        scene.publish(QStringLiteral("clientes/um.exe"), "version 2");
        scene.startLauncher();

        QCOMPARE(scene.boxes.texts().join(QLatin1Char('|')), box);
        QCOMPARE(scene.status(),
                 signature.isEmpty() ? PlayerText::loadedWithoutList : PlayerText::listNotRead);
        QCOMPARE(readFileBytes(QStringLiteral("config.xml")), config);
        QCOMPARE(serverCaption(scene), PlayerText::serverCaption("Um", ServerStatus::Play));
        QCOMPARE(scene.requestedPaths(), QByteArrayList({"/launcher.xml", "/launcher.xml.sig"}));
        QCOMPARE(readFileBytes(QStringLiteral("clientes/um.exe")), QByteArray("version 1"));
        QVERIFY(scene.widget<QWidget>("frame_buttons")->isEnabled());
    }

    void aSignedButUnreadableListKeepsTheLastSerial()
    {
        LauncherScene scene;
        const QByteArray config = installConfig(installedConfig);
        const QByteArray list = "<servers><server id=\"1\">";
        scene.publish(QStringLiteral("launcher.xml"), list);
        scene.publish(QStringLiteral("launcher.xml.sig"), sign(list, 30, inDays(30)));
        scene.startLauncher();

        QCOMPARE(scene.boxes.texts(), QStringList{PlayerText::unreadableList});
        QCOMPARE(readFileBytes(QStringLiteral("config.xml")), config);
    }

    void closingTheWindowWhileTheSignatureIsFetchedEndsQuietly()
    {
        LauncherScene scene;
        const QByteArray config = installConfig(installedConfig);
        const QByteArray list = QByteArray(newerList).replace("BASE/", scene.base());
        scene.publish(QStringLiteral("launcher.xml"), list);
        TestHttpServer::Reply stalled;
        stalled.body = sign(list, 21, inDays(30));
        stalled.stallAfterBytes = 10;
        scene.server.setReply("/launcher.xml.sig", stalled);

        scene.window = std::make_unique<MainWindow>();
        scene.window->show();
        QTimer::singleShot(500, [&] { scene.window->close(); });
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(QApplication::exec(), 0);
        QVERIFY(clock.elapsed() < 2500);
        QCOMPARE(scene.boxes.texts(), QStringList());
        QCOMPARE(scene.requestedPaths(), QByteArrayList({"/launcher.xml", "/launcher.xml.sig"}));
        QCOMPARE(readFileBytes(QStringLiteral("config.xml")), config);
    }

    // While keys change, a launcher carries both: either signs, and a mistyped
    // key refuses everything.
    void aLauncherWithTwoKeysTakesAListByEither_data()
    {
        QTest::addColumn<QByteArray>("keys");
        QTest::addColumn<QStringList>("boxes");
        QTest::newRow("new key, then the old one")
            << strangerKey.publicKey + ' ' + operatorKey.publicKey << QStringList();
        QTest::newRow("a mistyped key beside it")
            << operatorKey.publicKey + " bm90IGEga2V5" << QStringList{badSignature};
    }

    void aLauncherWithTwoKeysTakesAListByEither()
    {
        QFETCH(QByteArray, keys);
        QFETCH(QStringList, boxes);
        buildSettings().updateListPublicKey = keys;
        LauncherScene scene;
        const QByteArray list = QByteArray(newerList).replace("BASE/", scene.base());
        scene.publish(QStringLiteral("launcher.xml"), list);
        scene.publish(QStringLiteral("launcher.xml.sig"), sign(list, 21, inDays(30)));
        scene.startLauncher();
        QCOMPARE(scene.boxes.texts(), boxes);
    }
};

QTEST_MAIN(SignedListTest)
#include "signedlist_test.moc"
