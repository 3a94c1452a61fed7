// The window as the player meets it: clicks on its labels, the news carousel, the
// link buttons, and a window closed mid-download.

#include "buildconfig.h"
#include "labels.h"
#include "launcherscene.h"
#include "playertexts.h"

#include <QLabel>
#include <QProgressBar>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

namespace {

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

// Server 1 has one client file that arrives in pieces, 50 ms apart.
void startWithASlowClient(LauncherScene &scene, int bytes, int pieceBytes)
{
    scene.publishList(
        "<download path=\"BASE/\"/><launcher lastVersion=\"1.2\"/>"
        "<servers><server id=\"1\" name=\"Um\"><file name=\"big\" lastVersion=\"1\"/></server></servers>");
    scene.server.setReply("/clientes/big", TestHttpServer::slowReply(QByteArray(bytes, 'x'), pieceBytes, 50));
    scene.startLauncher();
}

} // namespace

class WindowTest : public QObject
{
    Q_OBJECT

private slots:
    void everyReleaseOfAPressOnALabelIsAClick()
    {
        QWidget window;
        window.resize(300, 200);
        auto *picture = new ClickableLabel(&window);
        picture->setGeometry(10, 10, 100, 100);
        auto *caption = new ShapedLabel(&window);
        caption->setGeometry(150, 10, 100, 40);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const auto pressAndRelease = [&](QPoint pressAt, QPoint releaseAt, Qt::MouseButton button) {
            // Through the window, so that the implicit mouse grab routes them as for a hand.
            QTest::mousePress(window.windowHandle(), button, {}, pressAt);
            QTest::mouseRelease(window.windowHandle(), button, {}, releaseAt);
        };
        for (QLabel *label : {static_cast<QLabel *>(picture), static_cast<QLabel *>(caption)}) {
            QSignalSpy clicks(label, SIGNAL(clicked()));
            const QPoint inside = label->geometry().center(), outside(290, 190);
            for (const Qt::MouseButton button : {Qt::LeftButton, Qt::RightButton, Qt::MiddleButton})
                pressAndRelease(inside, inside, button);
            QTest::mouseDClick(window.windowHandle(), Qt::LeftButton, {}, inside);
            pressAndRelease(inside, outside, Qt::LeftButton); // released outside: a click
            pressAndRelease(outside, inside, Qt::LeftButton); // pressed outside: none
            QCOMPARE(clicks.count(), 6);
        }
    }

    void windowLoadedComesBeforeTheSynchronisation()
    {
        LauncherScene scene;
        scene.publishList("<launcher lastVersion=\"1.2\"/>");
        QStringList statusWhenLoaded;
        scene.window = std::make_unique<MainWindow>();
        QObject::connect(scene.window.get(), &MainWindow::window_loaded,
                         [&] { statusWhenLoaded << scene.status(); });
        scene.window->show();
        QTRY_COMPARE(scene.status(), PlayerText::loadedSuccessfully);
        QCOMPARE(statusWhenLoaded, QStringList{QStringLiteral("Conectando-se ao servidor")});
        QCOMPARE(scene.window->windowTitle(), QStringLiteral("Launcher ZEV & MIR Ondra"));
        scene.window->hide();
        scene.window->show();
        QCOMPARE(statusWhenLoaded.size(), 2);
        QCOMPARE(scene.requestedPaths(), QByteArrayList{"/launcher.xml"}); // the synchronisation ran once
    }

    void picturesTakeTurnsInNameOrder()
    {
        LauncherScene scene;
        writeFileBytes("config.xml", "<images installedVersion=\"1\"/>");
        putPicture("b.png", Qt::green);
        putPicture("c.png", Qt::blue);
        putPicture("d.png", Qt::red);
        // Current and on disk, so none is fetched; a.png is missing and skipped.
        scene.publishList(
            "<launcher lastVersion=\"1.2\"/><images installedVersion=\"1\" lastVersion=\"1\">"
            "<file name=\"d.png\" href=\"http://127.0.0.1/d\"/><file name=\"a.png\" href=\"http://a\"/>"
            "<file name=\"c.png\" href=\"http://127.0.0.1/c\"/>"
            "<file name=\"b.png\" href=\"http://127.0.0.1/b\"/></images>");
        scene.startLauncher();
        QCOMPARE(shownColour(scene), QColor(Qt::green));
        // The next picture comes by itself five seconds later; the later turns are taken by hand.
        QTRY_COMPARE_WITH_TIMEOUT(shownColour(scene), QColor(Qt::blue), 6000);
        for (const Qt::GlobalColor colour : {Qt::red, Qt::green, Qt::blue}) {
            QMetaObject::invokeMethod(scene.window.get(), "onTimedImageChange");
            QCOMPARE(shownColour(scene), QColor(colour));
        }
        QTest::mouseClick(scene.widget<QLabel>("img_background"), Qt::RightButton);
        QCOMPARE(scene.opened.links, QList<QUrl>{QUrl("http://127.0.0.1/c")});
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

        bool downloading = false;
        QTimer::singleShot(300, [&] {
            downloading = !scene.widget<QWidget>("frame_buttons")->isEnabled();
            QTest::mouseClick(scene.widget<QPushButton>("button_url_mir_2"), Qt::LeftButton);
        });
        QTest::mouseClick(scene.button(1), Qt::LeftButton);
        QVERIFY(downloading);
        QCOMPARE(scene.opened.links.size(), expected.size() + 1);
    }

    void closingTheWindowDuringADownloadEndsTheProcessQuietly()
    {
        LauncherScene scene;
        startWithASlowClient(scene, 200000, 1000);
        const QByteArray before = configBytes();
        QTimer::singleShot(0, [&] { QTest::mouseClick(scene.button(1), Qt::LeftButton); });
        QTimer::singleShot(500, [&] { scene.window->close(); });
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(QApplication::exec(), 0);
        QVERIFY(clock.elapsed() < 2500);
        QVERIFY(scene.boxes.boxes.empty());
        QCOMPARE(configBytes(), before);
        QVERIFY(QDir("clientes").isEmpty());
    }
};

QTEST_MAIN(WindowTest)
#include "window_test.moc"
