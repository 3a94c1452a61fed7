// The start-up synchronisation against a real update server, on each road it can
// take; and, for a launcher built with the operator's public key, which update
// lists it takes and that a refused one changes nothing.

#include "buildconfig.h"
#include "configsteps.h"
#include "launcherscene.h"
#include "launcherstate.h"
#include "listsignature.h"
#include "listsigner.h"
#include "playertexts.h"

#include <QLabel>
#include <QProgressBar>
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

// Installed: server 1 with its client at version 1, after a list of serial 20.
const QByteArray installedConfig =
    "<download path=\"http://127.0.0.1:1/\"/><launcher installedVersion=\"1.2\" "
    "lastVersion=\"1.2\"/><servers><server id=\"1\" name=\"Um\" executable=\"um.exe\">"
    "<file name=\"um.exe\" installedVersion=\"1\" lastVersion=\"1\"/></server>"
    "</servers><signedList serial=\"20\"/>";

// Offers version 2 of the client; taken, it makes server 1 due again.
const QByteArray newerList =
    "<download path=\"BASE/\"/><launcher lastVersion=\"1.2\"/><servers><server id=\"1\" "
    "name=\"Um\" executable=\"um.exe\"><file name=\"um.exe\" lastVersion=\"2\"/></server>"
    "</servers>";

QByteArray sign(const QByteArray &list, quint64 serial, int days, const ListKeyPair &key = operatorKey)
{
    return *signUpdateList(key.secretKey, list, serial, QDateTime::currentDateTimeUtc().addDays(days));
}

// Writes config.xml in the layout the launcher itself writes, and returns it.
QByteArray installConfig(const QByteArray &config)
{
    writeFileBytes("config.xml", config);
    LauncherState state;
    loadConfigAndTell(state);
    return configBytes();
}

} // namespace

class SyncTest : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { buildSettings().updateListPublicKey.clear(); }

    void everythingCurrentHandsTheWindowToThePlayer()
    {
        LauncherScene scene;
        writeFileBytes(
            "config.xml",
            "<servers><server id=\"3\"><file name=\"a\" installedVersion=\"1\"/></server></servers>");
        scene.publishList(
            "<download path=\"BASE/\"/><launcher lastVersion=\"1.2\"/><servers><server id=\"1\" name=\"Um\"/>"
            "<server id=\"3\" name=\"Tr\xc3\xaas\"><file name=\"a\" lastVersion=\"1\"/></server></servers>");
        scene.startLauncher();
        QVERIFY(scene.boxes.boxes.empty());
        QCOMPARE(scene.status(), loadedSuccessfully);
        QCOMPARE(scene.widget<QProgressBar>("action_progressBar")->value(), 100);
        QCOMPARE(captions(scene),
                 QStringList({"+Um (Instalar)", "-Astravel Server 2", QString::fromUtf8("+Três (Jogar)"),
                              "-Tessaro Server 2", "-Astravel OTClient", "-Tessaro OTClient"}));
        QCOMPARE(scene.requestedPaths(), QByteArrayList{"/launcher.xml"});
        QVERIFY(scene.platform.calls.isEmpty());
    }

    void withoutTheServerTheLauncherWorksFromItsConfig()
    {
        LauncherScene scene;
        buildSettings().updateListUrl = "http://127.0.0.1:1/launcher.xml";
        writeFileBytes("config.xml", "<images><file name=\"x.png\" href=\"http://127.0.0.1/x\"/></images>"
                                     "<servers><server id=\"2\" name=\"Dois\"/></servers>");
        QImage picture(4, 4, QImage::Format_RGB32);
        picture.fill(Qt::red);
        picture.save("imagens/x.png");
        scene.startLauncher();
        QCOMPARE(scene.boxes.texts(), QStringList({transferError(7), listNotFetched}));
        QCOMPARE(scene.boxes.boxes.front().parent, nullptr);
        QCOMPARE(scene.boxes.boxes.back().parent, scene.window.get());
        QCOMPARE(scene.status(), loadedWithoutList);
        QCOMPARE(captions(scene).at(1), QStringLiteral("+Dois (Instalar)"));
        auto *image = scene.widget<QLabel>("img_background");
        QCOMPARE(image->pixmap(Qt::ReturnByValue).toImage().pixelColor(0, 0), QColor(Qt::red));
        QTest::mouseClick(image, Qt::LeftButton);
        QCOMPARE(scene.opened.links, QList<QUrl>{QUrl("http://127.0.0.1/x")});
    }

    void aFailedPictureStopsThePicturesButNotTheLauncher()
    {
        LauncherScene scene;
        scene.publishList(
            "<download path=\"BASE/\"/><launcher lastVersion=\"1.2\"/><images lastVersion=\"7\">"
            "<file name=\"a.png\"/><file name=\"b.png\"/><file name=\"c.png\"/></images>");
        scene.publish("imagens/a.png", "a");
        scene.publish("imagens/c.png", "c");
        scene.startLauncher();
        QCOMPARE(scene.boxes.texts(), QStringList{serverError(404)});
        QCOMPARE(LauncherScene::sorted(scene.requestedPaths()),
                 QByteArrayList({"/imagens/a.png", "/imagens/b.png", "/imagens/c.png", "/launcher.xml"}));
        QCOMPARE(readFileBytes("imagens/a.png"), QByteArray("a"));
        QVERIFY(!QFile::exists("imagens/c.png"));
        QVERIFY(configBytes().contains("<images installedVersion=\"\" lastVersion=\"7\""));
        QCOMPARE(scene.status(), loadedSuccessfully);
    }

    void anotherLauncherVersionHandsOverToTheNewBuild()
    {
        LauncherScene scene;
        writeFileBytes("launcher.exe", "running build");
        QFile::setPermissions("launcher.exe", QFileDevice::Permissions(0x7777));
        // Any difference counts, a trailing zero too.
        scene.publishList(
            "<download path=\"BASE/\"/><launcher lastVersion=\"1.20\"><file name=\"extra.dll\"/>"
            "</launcher><servers><server id=\"1\" name=\"Um\"/></servers>");
        scene.publish("launcher/launcher.exe", "new build");
        scene.publish("launcher/extra.dll", "extra");
        scene.startLauncher();

        QCOMPARE(scene.boxes.boxes.size(), std::size_t(1));
        QCOMPARE(scene.boxes.boxes.front().icon, MessageBoxRequest::Icon::Information);
        QCOMPARE(scene.boxes.boxes.front().title, launcherUpdateTitle);
        QCOMPARE(scene.boxes.boxes.front().text, launcherUpdate);
        QCOMPARE(readFileBytes("newLauncher.exe"), QByteArray("new build"));
        QCOMPARE(readFileBytes("extra.dll"), QByteArray("extra"));
        for (const char *file : {"newLauncher.exe", "launcher.exe"})
            QCOMPARE(QFile::permissions(QLatin1String(file)) & ~QFileDevice::Permissions(0x0700),
                     QFileDevice::Permissions(0x7055)); // rwxr-xr-x, the user bits aside
        QCOMPARE(scene.platform.calls, QByteArrayList{"start |newLauncher.exe|-update"});
        QCOMPARE(scene.processEnds, std::vector<int>{1});
        // The process ends here: the buttons are never handed over.
        QVERIFY(!scene.widget<QWidget>("frame_buttons")->isEnabled());
    }

    void afterAFailedSelfUpdateTheRunOffersNoUpdate()
    {
        LauncherScene scene;
        scene.publishList(
            "<download path=\"BASE/\"/><launcher lastVersion=\"1.3\"/><servers><server id=\"1\" "
            "name=\"Um\"/></servers>");
        scene.publish("launcher/launcher.exe", "new build");
        scene.window = std::make_unique<MainWindow>();
        scene.window->noteFailedSelfUpdate();
        scene.startLauncher();
        QCOMPARE(scene.boxes.texts(), QStringList{launcherNotReplaced});
        QCOMPARE(scene.status(), launcherNotUpdated);
        QCOMPARE(scene.requestedPaths(), QByteArrayList{"/launcher.xml"});
        QVERIFY(scene.processEnds.empty());
        QCOMPARE(captions(scene).at(0), QStringLiteral("+Um (Instalar)"));
    }

    void closingTheWindowAtOnceStopsTheStartUp()
    {
        LauncherScene scene;
        scene.publishList("<download path=\"BASE/\"/><launcher lastVersion=\"1.3\"/>");
        scene.publish("launcher/launcher.exe", "new build");
        scene.window = std::make_unique<MainWindow>();
        scene.window->show();
        QTimer::singleShot(0, scene.window.get(), &QWidget::close);
        // Nothing may follow: no condition to wait for, so a start-up's time many times over.
        QTest::qWait(500);
        QVERIFY(!scene.window->isVisible());
        QCOMPARE(scene.requestedPaths(), QByteArrayList());
        QVERIFY(scene.boxes.boxes.empty() && scene.processEnds.empty());
    }

    void aSignedListIsTakenAndItsSerialRemembered()
    {
        buildSettings().updateListPublicKey = operatorKey.publicKey;
        LauncherScene scene;
        installConfig(installedConfig);
        // A serial in the list itself is no signature's and must not count.
        const QByteArray list =
            QByteArray(newerList).replace("BASE/", scene.base()) + "<signedList serial=\"99999\"/>";
        scene.publish("launcher.xml", list);
        scene.publish("launcher.xml.sig", sign(list, 21, 30));
        for (int start = 0; start < 2; ++start) { // the same list at the next start is still good
            scene.window.reset();
            scene.startLauncher();
            QCOMPARE(scene.boxes.texts(), QStringList());
            QCOMPARE(scene.caption(1), serverCaption("Um", ServerStatus::Install));
            QVERIFY(configBytes().endsWith("</servers>\n<signedList serial=\"21\" />\n"));
        }
        QCOMPARE(scene.requestedPaths().mid(0, 2), QByteArrayList({"/launcher.xml", "/launcher.xml.sig"}));
    }

    void anUntrustedListChangesNothing_data()
    {
        QTest::addColumn<QByteArray>("list");
        QTest::addColumn<QByteArray>("signature");
        QTest::addColumn<QString>("box");
        QTest::addColumn<QByteArray>("keys");
        const QByteArray list = newerList;
        const QString refused = listRefused(ListVerdict::BadSignature);
        const QByteArray key = operatorKey.publicKey;
        QTest::newRow("one byte of the list changed")
            << QByteArray(list).replace("lastVersion=\"2\"", "lastVersion=\"3\"") << sign(list, 21, 30)
            << refused << key;
        // A signature that is not there leaves the list as unfetched as a list that is not.
        QTest::newRow("no signature on the server")
            << list << QByteArray() << serverError(404) + '|' + listNotFetched << key;
        QTest::newRow("signed by another key") << list << sign(list, 21, 30, strangerKey) << refused << key;
        QTest::newRow("serial raised in the signature file")
            << list << sign(list, 19, 30).replace("serial 19", "serial 29") << refused << key;
        QTest::newRow("expiry pushed back in the signature file")
            << list << sign(list, 21, -1).replace("expires 20", "expires 21") << refused << key;
        QTest::newRow("signature file of garbage")
            << list << QByteArray("serial 21\n\x01\x02") << refused << key;
        QTest::newRow("older than the last one taken")
            << list << sign(list, 19, 30) << listRefused(ListVerdict::Rollback) << key;
        QTest::newRow("expired") << list << sign(list, 21, -1) << listRefused(ListVerdict::Expired) << key;
        QTest::newRow("signed but unreadable")
            << QByteArray("<servers><server id=\"1\">") << sign("<servers><server id=\"1\">", 30, 30)
            << unreadableList << key;
        // While keys change, a launcher carries both: either signs, and a mistyped key refuses everything.
        QTest::newRow("a mistyped key beside the right one")
            << list << sign(list, 21, 30) << refused << key + " bm90IGEga2V5";
        QTest::newRow("the new key, then the old one")
            << list << sign(list, 21, 30) << QString() << strangerKey.publicKey + ' ' + key;
    }

    void anUntrustedListChangesNothing()
    {
        QFETCH(QByteArray, list);
        QFETCH(QByteArray, signature);
        QFETCH(QString, box);
        QFETCH(QByteArray, keys);
        buildSettings().updateListPublicKey = keys;
        LauncherScene scene;
        const QByteArray config = installConfig(installedConfig);
        writeFileBytes("clientes/um.exe", "version 1");
        // Signed over the list with its base address unreplaced, as the server holds it.
        scene.publish("launcher.xml", list);
        if (!signature.isEmpty())
            scene.publish("launcher.xml.sig", signature);
        scene.publish("clientes/um.exe", "version 2");
        scene.startLauncher();

        QCOMPARE(scene.boxes.texts().join('|'), box);
        QCOMPARE(scene.requestedPaths(), QByteArrayList({"/launcher.xml", "/launcher.xml.sig"}));
        QCOMPARE(readFileBytes("clientes/um.exe"), QByteArray("version 1"));
        QVERIFY(scene.widget<QWidget>("frame_buttons")->isEnabled());
        if (box.isEmpty())
            return; // taken
        QCOMPARE(scene.status(), signature.isEmpty() ? loadedWithoutList : listNotRead);
        QCOMPARE(configBytes(), config);
        QCOMPARE(scene.caption(1), serverCaption("Um", ServerStatus::Play));
    }

    // The operator's word holds to the second: expired at the moment written.
    void expiryAndSerialHoldExactly()
    {
        const QByteArray list = "<launcher/>";
        const QDateTime expires = QDateTime::currentDateTimeUtc().addDays(1).addMSecs(-500);
        const QByteArray signature = *signUpdateList(operatorKey.secretKey, list, 20, expires);
        const auto verdict = [&](const QDateTime &now, quint64 lastSerial) {
            return verifyUpdateList(operatorKey.publicKey, list, signature, lastSerial, now);
        };
        const QDateTime atExpiry = parseListSignature(signature)->expires;
        QCOMPARE(verdict(atExpiry.addMSecs(-1), 20), ListVerdict::Accepted);
        QCOMPARE(verdict(atExpiry, 20), ListVerdict::Expired);
        QCOMPARE(verdict(atExpiry.addSecs(1), 20), ListVerdict::Expired);
        QCOMPARE(verdict(atExpiry.addSecs(-1), 19), ListVerdict::Accepted);
        QCOMPARE(verdict(atExpiry.addSecs(-1), 21), ListVerdict::Rollback);
    }
};

QTEST_MAIN(SyncTest)
#include "sync_test.moc"
