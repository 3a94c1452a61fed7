// The window as built: its widgets, captions, fonts, focus, shadows, style sheet
// and the meta-object through which its buttons and timers reach code.

#include "fontsubstitutes.h"
#include "labels.h"
#include "launcherscene.h"
#include "playertexts.h"
#include "stylesheet.h"

#include <QFontInfo>
#include <QFrame>
#include <QGraphicsDropShadowEffect>
#include <QMetaMethod>
#include <QProgressBar>
#include <QPushButton>
#include <QRawFont>
#include <QtTest>

namespace {

QStringList warnings;

void collectWarnings(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtWarningMsg)
        warnings << message;
}

struct WidgetRow {
    const char *name;
    const char *className;
    const char *parent;
    QRect geometry;
    const char *caption; // null for widgets without text
};

// The form as a player sees it before the first synchronisation.
const WidgetRow layoutTable[] = {
    {"action_progressBar", "QProgressBar", "centralWidget", {20, 560, 761, 31}, nullptr},
    {"img_background", "ClickableLabel", "centralWidget", {210, 90, 500, 375}, ""},
    {"label_status", "QLabel", "centralWidget", {20, 540, 761, 21}, "Conectando-se ao servidor"},
    {"frame_buttons", "QFrame", "centralWidget", {20, 490, 761, 51}, nullptr},
    {"button_server_3", "QPushButton", "frame_buttons", {430, 10, 161, 21}, "Tessaro Server 1"},
    {"button_server_1", "QPushButton", "frame_buttons", {0, 10, 161, 21}, "Astravel Server 1"},
    {"button_server_6", "QPushButton", "frame_buttons", {430, 30, 321, 21}, "Tessaro OTClient"},
    {"button_server_5", "QPushButton", "frame_buttons", {0, 30, 321, 21}, "Astravel OTClient"},
    {"button_server_4", "QPushButton", "frame_buttons", {590, 10, 161, 21}, "Tessaro Server 2"},
    {"button_server_2", "QPushButton", "frame_buttons", {160, 10, 161, 21}, "Astravel Server 2"},
    {"button_url_facebook_zev", "QPushButton", "centralWidget", {10, 130, 161, 27}, "Facebook ZEV"},
    {"button_url_facebook_mir", "QPushButton", "centralWidget", {10, 270, 161, 27}, "Facebook MIR"},
    {"button_url_zev_1", "QPushButton", "centralWidget", {10, 160, 161, 27}, "Site ZEV Server 1"},
    {"label_launcher", "ShapedLabel", "centralWidget", {10, 0, 781, 81}, "LAUNCHER"},
    {"label_zevondra", "ShapedLabel", "centralWidget", {10, 90, 261, 41}, "Astravel"},
    {"button_url_zev_2", "QPushButton", "centralWidget", {10, 190, 161, 27}, "Site ZEV Server 2"},
    {"button_url_mir_1", "QPushButton", "centralWidget", {10, 300, 161, 27}, "Site MIR Server 1"},
    {"button_url_mir_2", "QPushButton", "centralWidget", {10, 330, 161, 27}, "Site MIR Server 2"},
    {"label_servidores_zev", "ShapedLabel", "centralWidget", {20, 470, 321, 31}, "Astravel"},
    {"label_servidores_mir", "ShapedLabel", "centralWidget", {450, 480, 321, 21}, "Tessaro"},
    {"label_tessaro", "ShapedLabel", "centralWidget", {10, 230, 171, 41}, "Tessaro"},
};

QString captionOf(const QWidget *widget)
{
    if (const auto *label = qobject_cast<const QLabel *>(widget))
        return label->text();
    if (const auto *button = qobject_cast<const QAbstractButton *>(widget))
        return button->text();
    return QString();
}

} // namespace

class WindowTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { useFontSubstitutes(); }

    void widgetsStandWhereTheFormPutsThem()
    {
        TemporaryGameFolder folder;
        warnings.clear();
        const QtMessageHandler previous = qInstallMessageHandler(collectWarnings);
        MainWindow window;
        qInstallMessageHandler(previous);
        // A slot that lost its widget through a rename would only warn.
        QVERIFY2(warnings.filter(QStringLiteral("No matching signal")).isEmpty(),
                 qPrintable(warnings.join(QLatin1Char('\n'))));

        QCOMPARE(window.objectName(), QStringLiteral("MainWindow"));
        QCOMPARE(window.windowTitle(), QStringLiteral("Launcher ZEV & MIR Ondra"));
        QCOMPARE(window.minimumSize(), QSize(800, 600));
        QCOMPARE(window.maximumSize(), QSize(800, 600));
        QVERIFY(!window.windowIcon().isNull());

        const QList<QWidget *> children = window.centralWidget()->findChildren<QWidget *>();
        QCOMPARE(children.size(), int(std::size(layoutTable)));
        for (std::size_t i = 0; i < std::size(layoutTable); ++i) {
            const WidgetRow &row = layoutTable[i];
            const QWidget *widget = window.findChild<QWidget *>(QLatin1String(row.name));
            QVERIFY2(widget, row.name);
            QCOMPARE(children.at(int(i)), widget); // created in the listed order
            QCOMPARE(widget->metaObject()->className(), row.className);
            QCOMPARE(widget->parentWidget()->objectName(), QLatin1String(row.parent));
            QCOMPARE(widget->geometry(), row.geometry);
            if (row.caption)
                QCOMPARE(captionOf(widget), QString::fromUtf8(row.caption));
            if (QByteArray(row.name).startsWith("button_server_"))
                QVERIFY2(!widget->isEnabled(), row.name);
        }
        const auto *picture = window.findChild<QLabel *>(QStringLiteral("img_background"));
        QCOMPARE(picture->pixmap(Qt::ReturnByValue).size(), QSize(640, 480));
        QVERIFY(picture->hasScaledContents());
        QCOMPARE(picture->cursor().shape(), Qt::PointingHandCursor);
        QCOMPARE(window.findChild<QProgressBar *>(QStringLiteral("action_progressBar"))->value(), 0);
    }

    void captionFacesDrawLetters()
    {
        const std::pair<const char *, QStringList> faces[] = {
            {"Impact", {QStringLiteral("Bebas Neue")}},
            {"Arial", {QStringLiteral("Liberation Sans"), QStringLiteral("Arial")}},
            {"Century Schoolbook L", {QStringLiteral("C059"), QStringLiteral("Century Schoolbook L")}},
        };
        for (const auto &[family, accepted] : faces) {
            const QFont font(QLatin1String(family), 28);
            const QString resolved = QFontInfo(font).family();
            QVERIFY2(std::any_of(accepted.begin(), accepted.end(),
                                 [&](const QString &face) { return resolved.startsWith(face); }),
                     qPrintable(QLatin1String(family) + QLatin1String(" -> ") + resolved));
            const QRawFont raw = QRawFont::fromFont(font);
            for (const QChar letter : QStringLiteral("LAUNCHERAstravelTessaro"))
                QVERIFY2(raw.supportsCharacter(letter), qPrintable(resolved));
        }
    }

    void noWidgetTakesFocusAndFiveCaptionsCarryAHalo()
    {
        TemporaryGameFolder folder;
        MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        for (int i = 0; i < 3; ++i)
            QTest::keyClick(&window, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), nullptr);

        QStringList halos;
        for (QWidget *widget : window.findChildren<QWidget *>()) {
            const auto *shadow = qobject_cast<QGraphicsDropShadowEffect *>(widget->graphicsEffect());
            if (!shadow)
                continue;
            halos << widget->objectName();
            QCOMPARE(shadow->blurRadius(), 5.0);
            QCOMPARE(shadow->color(), QColor(0, 0, 0, 255));
            QCOMPARE(shadow->offset(), QPointF(0, 0));
        }
        halos.sort();
        QCOMPARE(halos, QStringList({QStringLiteral("label_launcher"), QStringLiteral("label_servidores_mir"),
                                     QStringLiteral("label_servidores_zev"), QStringLiteral("label_tessaro"),
                                     QStringLiteral("label_zevondra")}));
    }

    void styleSheetEndsAtItsFirstZeroByte()
    {
        QCOMPARE(styleSheetText(QByteArray("QLabel { color: white; }\0QLabel { color: red; }", 48)),
                 QStringLiteral("QLabel { color: white; }"));
        QCOMPARE(styleSheetText("/* \xe9 */"), QString::fromUtf8("/* \xc3\xa9 */"));
        TemporaryGameFolder folder;
        MainWindow window;
        QVERIFY(window.styleSheet().contains(QLatin1String("QLabel#label_status")));
        QVERIFY(window.styleSheet().contains(QLatin1String("url(resources/bg_servidores.png)")));
    }

    void slotsKeepTheirPlaces()
    {
        const QMetaObject &meta = MainWindow::staticMetaObject;
        QCOMPARE(meta.className(), "MainWindow");
        const QByteArrayList expected = {"window_loaded()",
                                         "on_button_server_1_clicked()",
                                         "on_button_server_2_clicked()",
                                         "onLoad()",
                                         "on_button_server_3_clicked()",
                                         "on_button_server_4_clicked()",
                                         "on_button_url_facebook_zev_clicked()",
                                         "on_button_url_facebook_mir_clicked()",
                                         "on_button_url_zev_1_clicked()",
                                         "on_button_url_zev_2_clicked()",
                                         "on_button_url_mir_1_clicked()",
                                         "on_button_url_mir_2_clicked()",
                                         "onTimedImageChange()",
                                         "onImgClick()",
                                         "on_button_server_5_clicked()",
                                         "on_button_server_6_clicked()"};
        QCOMPARE(meta.methodCount() - meta.methodOffset(), expected.size());
        for (int i = 0; i < expected.size(); ++i) {
            const QMetaMethod method = meta.method(meta.methodOffset() + i);
            QCOMPARE(method.methodSignature(), expected.at(i));
            QCOMPARE(method.methodType(), i == 0 ? QMetaMethod::Signal : QMetaMethod::Slot);
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
        scene.window->hide();
        scene.window->show();
        QCOMPARE(statusWhenLoaded.size(), 2);
        QCOMPARE(scene.requestedPaths(), QByteArrayList{"/launcher.xml"}); // the synchronisation ran once
    }
};

QTEST_MAIN(WindowTest)
#include "window_test.moc"
