// The start-up synchronisation against a real update server: what the player
// sees, what is recorded and what is fetched, on each road it can take.

#include "launcherscene.h"
#include "playertexts.h"

#include "buildconfig.h"

#include <QFile>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QtTest>

namespace {

QString fromUtf8(const char *text)
{
    return QString::fromUtf8(text);
}

const char *const infoText = "Seu Launcher ser\xc3\xa1 atualizado, clique em Ok para continuar";

QStringList captions(const LauncherScene &scene)
{
    QStringList result;
    for (int id = 1; id <= 6; ++id) {
        const auto *button =
            scene.widget<QPushButton>(QByteArray("button_server_" + QByteArray::number(id)).constData());
        result << (button->isEnabled() ? QStringLiteral("+") : QStringLiteral("-")) + button->text();
    }
    return result;
}

} // namespace

class SyncTest : public QObject
{
    Q_OBJECT

private slots:
    void everythingCurrentHandsTheWindowToThePlayer()
    {
        LauncherScene scene;
        writeFileBytes(
            QStringLiteral("config.xml"),
            "<servers><server id=\"3\"><file name=\"a\" installedVersion=\"1\"/></server></servers>");
        scene.publishList(
            "<download path=\"BASE/\"/><launcher lastVersion=\"1.2\"/>"
            "<servers><server id=\"1\" name=\"Um\"/>"
            "<server id=\"3\" name=\"Tr\xc3\xaas\"><file name=\"a\" lastVersion=\"1\"/></server></servers>");
        scene.startLauncher();

        QVERIFY(scene.boxes.boxes.empty());
        QCOMPARE(scene.status(), PlayerText::loadedSuccessfully);
        QCOMPARE(scene.widget<QProgressBar>("action_progressBar")->value(), 100);
        QCOMPARE(captions(scene),
                 QStringList({fromUtf8("+Um (Instalar)"), fromUtf8("-Astravel Server 2"),
                              fromUtf8("+Tr\xc3\xaas (Jogar)"), fromUtf8("-Tessaro Server 2"),
                              fromUtf8("-Astravel OTClient"), fromUtf8("-Tessaro OTClient")}));
        QCOMPARE(scene.requestedPaths(), QByteArrayList{"/launcher.xml"});
        QVERIFY(scene.platform.calls.isEmpty());
    }

    void withoutTheServerTheLauncherWorksFromItsConfig()
    {
        LauncherScene scene;
        buildSettings().updateListUrl = "http://127.0.0.1:1/launcher.xml";
        writeFileBytes(QStringLiteral("config.xml"),
                       "<images><file name=\"x.png\" href=\"http://127.0.0.1/x\"/></images>"
                       "<servers><server id=\"2\" name=\"Dois\"/></servers>");
        QImage picture(4, 4, QImage::Format_RGB32);
        picture.fill(Qt::red);
        picture.save(QStringLiteral("imagens/x.png"));
        scene.startLauncher();

        QCOMPARE(scene.boxes.texts(),
                 QStringList({PlayerText::transferError(7), PlayerText::listNotFetched}));
        QCOMPARE(scene.boxes.boxes.front().parent, nullptr);
        QCOMPARE(scene.boxes.boxes.back().parent, scene.window.get());
        QCOMPARE(scene.status(), fromUtf8("Launcher foi carregado sem a lista de atualiza\xc3\xa7\xc3\xb5"
                                          "es"));
        QCOMPARE(captions(scene).at(1), QStringLiteral("+Dois (Instalar)"));
        auto *image = scene.widget<QLabel>("img_background");
        QCOMPARE(image->pixmap(Qt::ReturnByValue).toImage().pixelColor(0, 0), QColor(Qt::red));
        QTest::mouseClick(image, Qt::LeftButton);
        QCOMPARE(scene.opened.links, QList<QUrl>{QUrl(QStringLiteral("http://127.0.0.1/x"))});
    }

    void anUnreadableListIsReportedOnce()
    {
        LauncherScene scene;
        scene.publishList("<servers><server id=\"1\">");
        scene.startLauncher();
        QCOMPARE(scene.boxes.texts(),
                 QStringList{fromUtf8("N\xc3\xa3o foi poss\xc3\xadvel ler a lista de atualiza\xc3\xa7\xc3\xb5"
                                      "es, por favor contate o suporte")});
        QCOMPARE(scene.status(),
                 fromUtf8("N\xc3\xa3o foi poss\xc3\xadvel ler a lista de atualiza\xc3\xa7\xc3\xb5"
                          "es"));
        QVERIFY(scene.widget<QWidget>("frame_buttons")->isEnabled());
    }

    void aFailedPictureStopsThePicturesButNotTheLauncher()
    {
        LauncherScene scene;
        scene.publishList("<download path=\"BASE/\"/><launcher lastVersion=\"1.2\"/>"
                          "<images lastVersion=\"7\"><file name=\"a.png\"/><file name=\"b.png\"/>"
                          "<file name=\"c.png\"/></images>");
        scene.publish(QStringLiteral("imagens/a.png"), "a");
        scene.publish(QStringLiteral("imagens/c.png"), "c");
        scene.startLauncher();

        QCOMPARE(scene.boxes.texts(), QStringList{PlayerText::serverError(404)});
        QCOMPARE(LauncherScene::sorted(scene.requestedPaths()),
                 QByteArrayList({"/imagens/a.png", "/imagens/b.png", "/imagens/c.png", "/launcher.xml"}));
        QCOMPARE(readFileBytes(QStringLiteral("imagens/a.png")), QByteArray("a"));
        QVERIFY(!QFile::exists(QStringLiteral("imagens/c.png")));
        QVERIFY(readFileBytes(QStringLiteral("config.xml"))
                    .contains("<images installedVersion=\"\" lastVersion=\"7\""));
        QCOMPARE(scene.status(), PlayerText::loadedSuccessfully);
    }

    void aNewPictureVersionWithoutPicturesIsRecordedAtOnce()
    {
        LauncherScene scene;
        scene.publishList("<launcher lastVersion=\"1.2\"/><images lastVersion=\"8\"/>");
        scene.startLauncher();
        QVERIFY(readFileBytes(QStringLiteral("config.xml"))
                    .contains("<images installedVersion=\"8\" lastVersion=\"8\""));
        QCOMPARE(scene.requestedPaths(), QByteArrayList{"/launcher.xml"});
    }

    void anotherLauncherVersionHandsOverToTheNewBuild()
    {
        LauncherScene scene;
        writeFileBytes(QStringLiteral("launcher.exe"), "running build");
        QFile::setPermissions(QStringLiteral("launcher.exe"), QFileDevice::Permissions(0x7777));
        // Any difference counts, a trailing zero too.
        scene.publishList(
            "<download path=\"BASE/\"/><launcher lastVersion=\"1.20\"><file name=\"extra.dll\"/>"
            "</launcher><servers><server id=\"1\" name=\"Um\"/></servers>");
        scene.publish(QStringLiteral("launcher/launcher.exe"), "new build");
        scene.publish(QStringLiteral("launcher/extra.dll"), "extra");
        scene.startLauncher();

        QCOMPARE(scene.boxes.boxes.size(), std::size_t(1));
        QCOMPARE(scene.boxes.boxes.front().icon, MessageBoxRequest::Icon::Information);
        QCOMPARE(scene.boxes.boxes.front().title, PlayerText::launcherUpdateTitle);
        QCOMPARE(scene.boxes.boxes.front().text, fromUtf8(infoText));
        QCOMPARE(LauncherScene::sorted(scene.requestedPaths()),
                 QByteArrayList({"/launcher.xml", "/launcher/extra.dll", "/launcher/launcher.exe"}));
        QCOMPARE(readFileBytes(QStringLiteral("newLauncher.exe")), QByteArray("new build"));
        QCOMPARE(readFileBytes(QStringLiteral("extra.dll")), QByteArray("extra"));
        const QFileDevice::Permissions runnable = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                                  QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther |
                                                  QFile::ExeOther;
        for (const QString &file : {QStringLiteral("newLauncher.exe"), QStringLiteral("launcher.exe")})
            QCOMPARE(QFile::permissions(file) & ~(QFile::ReadUser | QFile::WriteUser | QFile::ExeUser),
                     runnable);
        QCOMPARE(scene.platform.calls, QByteArrayList{"start |newLauncher.exe|-update"});
        QCOMPARE(scene.processEnds, std::vector<int>{1});
        // The process ends here: the buttons are never handed over.
        QVERIFY(!scene.widget<QWidget>("frame_buttons")->isEnabled());
    }

    void afterAFailedSelfUpdateTheRunOffersNoUpdate()
    {
        LauncherScene scene;
        scene.publishList("<download path=\"BASE/\"/><launcher lastVersion=\"1.3\"/>"
                          "<servers><server id=\"1\" name=\"Um\"/></servers>");
        scene.publish(QStringLiteral("launcher/launcher.exe"), "new build");
        scene.window = std::make_unique<MainWindow>();
        scene.window->noteFailedSelfUpdate();
        scene.startLauncher();

        QCOMPARE(scene.boxes.texts(),
                 QStringList{fromUtf8("N\xc3\xa3o foi poss\xc3\xadvel atualizar o launcher: o launcher.exe "
                                      "n\xc3\xa3o p\xc3\xb4"
                                      "de ser substitu\xc3\xad"
                                      "do. Feche os programas que "
                                      "possam estar usando o arquivo e reinicie o launcher")});
        QCOMPARE(scene.status(), fromUtf8("N\xc3\xa3o foi poss\xc3\xadvel atualizar o launcher"));
        QCOMPARE(scene.requestedPaths(), QByteArrayList{"/launcher.xml"});
        QVERIFY(scene.processEnds.empty());
        QCOMPARE(captions(scene).at(0), QStringLiteral("+Um (Instalar)"));
    }

    void closingTheWindowAtOnceStopsTheStartUp()
    {
        LauncherScene scene;
        scene.publishList("<download path=\"BASE/\"/><launcher lastVersion=\"1.3\"/>");
        scene.publish(QStringLiteral("launcher/launcher.exe"), "new build");
        scene.window = std::make_unique<MainWindow>();
        scene.window->show();
        QTimer::singleShot(0, scene.window.get(), &QWidget::close);
        // Nothing may follow; the time is what a start-up takes here many times over.
        QTest::qWait(500);
        QVERIFY(!scene.window->isVisible());
        QCOMPARE(scene.requestedPaths(), QByteArrayList());
        QVERIFY(scene.boxes.boxes.empty());
        QVERIFY(scene.processEnds.empty());
    }

    void aFailedLauncherDownloadKeepsTheRunningLauncher()
    {
        const std::pair<const char *, QString> cases[] = {
            {"launcher/extra.dll", PlayerText::launcherNotUpdated},
            {"launcher/launcher.exe", PlayerText::launcherFileFailed},
        };
        for (const auto &[published, status] : cases) {
            LauncherScene scene;
            scene.publishList(
                "<download path=\"BASE/\"/><launcher lastVersion=\"1.3\"><file name=\"extra.dll\"/>"
                "</launcher>");
            scene.publish(QString::fromLatin1(published), "only this one");
            scene.startLauncher();
            QCOMPARE(scene.boxes.boxes.size(), std::size_t(2));
            QCOMPARE(scene.boxes.boxes.at(1).text, PlayerText::serverError(404));
            QCOMPARE(scene.status(), status);
            QVERIFY(scene.platform.calls.isEmpty());
            QVERIFY(scene.processEnds.empty());
            QVERIFY(scene.widget<QWidget>("frame_buttons")->isEnabled());
        }
    }
};

QTEST_MAIN(SyncTest)
#include "sync_test.moc"
