// The news carousel, the link buttons and a window closed mid-download.

#include "launcherscene.h"

#include "buildconfig.h"

#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

namespace {

void putPicture(const QString &name, Qt::GlobalColor colour)
{
    QImage picture(8, 6, QImage::Format_RGB32);
    picture.fill(colour);
    QVERIFY(picture.save(QStringLiteral("imagens/") + name, "PNG"));
}

QColor shownColour(const LauncherScene &scene)
{
    return scene.widget<QLabel>("img_background")->pixmap(Qt::ReturnByValue).toImage().pixelColor(0, 0);
}

void nextTick(const LauncherScene &scene)
{
    QMetaObject::invokeMethod(scene.window.get(), "onTimedImageChange");
}

QUrl link(const char *address)
{
    return QUrl(QString::fromLatin1(address));
}

// The three pictures are on disk and current, so none is fetched.
const QByteArray picturesList =
    "<launcher lastVersion=\"1.2\"/><images installedVersion=\"1\" lastVersion=\"1\">"
    "<file name=\"c.png\" href=\"http://127.0.0.1/c\"/>"
    "<file name=\"a.png\" href=\"http://127.0.0.1/a\"/>"
    "<file name=\"b.png\" href=\"http://127.0.0.1/b\"/></images>";

// Server 1 has one client file that arrives in pieces, 50 ms apart.
void startWithASlowClient(LauncherScene &scene, int bytes, int pieceBytes)
{
    scene.publishList("<download path=\"BASE/\"/><launcher lastVersion=\"1.2\"/>"
                      "<servers><server id=\"1\" name=\"Um\"><file name=\"big\" lastVersion=\"1\"/>"
                      "</server></servers>");
    TestHttpServer::Reply slow;
    slow.body = QByteArray(bytes, 'x');
    slow.chunkBytes = pieceBytes;
    slow.chunkDelayMs = 50;
    scene.server.setReply("/clientes/big", slow);
    scene.startLauncher();
}

} // namespace

class CarouselTest : public QObject
{
    Q_OBJECT

private slots:
    void picturesTakeTurnsInNameOrder()
    {
        LauncherScene scene;
        writeFileBytes(QStringLiteral("config.xml"), "<images installedVersion=\"1\"/>");
        putPicture(QStringLiteral("a.png"), Qt::red);
        putPicture(QStringLiteral("b.png"), Qt::green);
        putPicture(QStringLiteral("c.png"), Qt::blue);
        scene.publishList(picturesList);
        scene.startLauncher();

        QCOMPARE(shownColour(scene), QColor(Qt::red));
        // The next picture comes by itself five seconds later; the later turns are
        // taken by hand.
        QTRY_COMPARE_WITH_TIMEOUT(shownColour(scene), QColor(Qt::green), 6000);
        const Qt::GlobalColor turns[] = {Qt::blue, Qt::red, Qt::green};
        for (const Qt::GlobalColor colour : turns) {
            nextTick(scene);
            QCOMPARE(shownColour(scene), QColor(colour));
        }
        auto *picture = scene.widget<QLabel>("img_background");
        QTest::mouseClick(picture, Qt::RightButton);
        QCOMPARE(scene.opened.links, QList<QUrl>{link("http://127.0.0.1/b")});
    }

    void aMissingPictureIsSkipped()
    {
        LauncherScene scene;
        writeFileBytes(QStringLiteral("config.xml"), "<images installedVersion=\"1\"/>");
        putPicture(QStringLiteral("b.png"), Qt::green);
        putPicture(QStringLiteral("c.png"), Qt::blue);
        scene.publishList(picturesList);
        scene.startLauncher();

        auto *picture = scene.widget<QLabel>("img_background");
        QCOMPARE(shownColour(scene), QColor(Qt::green));
        QTest::mouseClick(picture, Qt::LeftButton);
        nextTick(scene);
        QCOMPARE(shownColour(scene), QColor(Qt::blue));
        QTest::mouseClick(picture, Qt::LeftButton);
        nextTick(scene);
        QCOMPARE(shownColour(scene), QColor(Qt::green));
        QCOMPARE(scene.opened.links, QList<QUrl>({link("http://127.0.0.1/b"), link("http://127.0.0.1/c")}));
    }

    void withoutPicturesTheFirstPictureStaysAndClicksDoNothing()
    {
        LauncherScene scene;
        scene.publishList("<launcher lastVersion=\"1.2\"/>");
        scene.window = std::make_unique<MainWindow>();
        auto *picture = scene.widget<QLabel>("img_background");
        QTest::mouseClick(picture, Qt::LeftButton); // before the carousel has started
        scene.window.reset();

        scene.startLauncher();
        picture = scene.widget<QLabel>("img_background");
        QCOMPARE(picture->pixmap(Qt::ReturnByValue).size(), QSize(640, 480));
        QTest::mouseClick(picture, Qt::LeftButton);
        QVERIFY(scene.opened.links.isEmpty());
    }

    void linkButtonsOpenTheirOwnAddressesEvenDuringADownload()
    {
        LauncherScene scene;
        startWithASlowClient(scene, 60000, 3000);

        const std::pair<const char *, QByteArray> buttons[] = {
            {"button_url_facebook_zev", buildSettings().facebookZevUrl},
            {"button_url_facebook_mir", buildSettings().facebookMirUrl},
            {"button_url_zev_1", buildSettings().siteZev1Url},
            {"button_url_zev_2", buildSettings().siteZev2Url},
            {"button_url_mir_1", buildSettings().siteMir1Url},
            {"button_url_mir_2", buildSettings().siteMir2Url},
        };
        QList<QUrl> expected;
        for (const auto &[name, address] : buttons) {
            for (int click = 0; click < 2; ++click) {
                QTest::mouseClick(scene.widget<QPushButton>(name), Qt::LeftButton);
                expected << QUrl(QString::fromUtf8(address));
            }
        }
        QCOMPARE(scene.opened.links, expected);
        QVERIFY(expected.front().scheme() == QLatin1String("https") && expected.back().path().isEmpty());

        bool downloading = false;
        QTimer::singleShot(300, [&] {
            downloading = !scene.widget<QWidget>("frame_buttons")->isEnabled();
            QTest::mouseClick(scene.widget<QPushButton>("button_url_mir_2"), Qt::LeftButton);
        });
        QTest::mouseClick(scene.widget<QPushButton>("button_server_1"), Qt::LeftButton);
        QVERIFY(downloading);
        QCOMPARE(scene.opened.links.size(), expected.size() + 1);
    }

    void closingTheWindowDuringADownloadEndsTheProcessQuietly()
    {
        LauncherScene scene;
        startWithASlowClient(scene, 200000, 1000);
        const QByteArray before = readFileBytes(QStringLiteral("config.xml"));

        QTimer::singleShot(
            0, [&] { QTest::mouseClick(scene.widget<QPushButton>("button_server_1"), Qt::LeftButton); });
        QTimer::singleShot(500, [&] { scene.window->close(); });
        QElapsedTimer clock;
        clock.start();
        const int status = QApplication::exec();
        QCOMPARE(status, 0);
        QVERIFY(clock.elapsed() < 2500);
        QVERIFY(scene.boxes.boxes.empty());
        QCOMPARE(readFileBytes(QStringLiteral("config.xml")), before);
        QVERIFY(QDir(QStringLiteral("clientes")).isEmpty());
    }
};

QTEST_MAIN(CarouselTest)
#include "carousel_test.moc"
